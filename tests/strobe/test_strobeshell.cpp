#include "colorvalue.h"
#include "fakeplatform.h"
#include "form1.h"
#include "form2.h"
#include "intervaltimer.h"

#include <QComboBox>
#include <QPushButton>
#include <QTest>

namespace {

QComboBox *list(shell::Form1 &form1, const char *name)
{
    return form1.findChild<QComboBox *>(QLatin1String(name));
}

void pressStartStrobing(shell::Form1 &form1)
{
    auto *button = form1.findChild<QPushButton *>(QStringLiteral("PushButton2"));
    QVERIFY(button);
    QTest::mouseClick(button, Qt::LeftButton);
}

} // namespace

class TestStrobeShell final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startAndEscapeLeaveTheMainWindowUnchanged();
    void closingTheMainWindowUnloadsTheStrobe();
};

void TestStrobeShell::startAndEscapeLeaveTheMainWindowUnchanged()
{
    FakePlatform platform;
    shell::Form1 form1(platform);
    form1.Form_Load();
    form1.showCentred();
    list(form1, "Combo1")->setCurrentIndex(0);
    list(form1, "Combo2")->setCurrentIndex(2);
    const QRect geometry = form1.geometry();
    const QString settingsBefore = platform.storedValue(QStringLiteral("Combo2"));

    pressStartStrobing(form1);
    strobe::Form2 *form2 = form1.form2();
    QVERIFY(form2);
    QVERIFY(form2->isLoaded());
    QCOMPARE(form2->Timer1()->interval(), 100);
    QCOMPARE(form2->FlashColors().size(), 2);
    QTRY_VERIFY(form2->window()->isActiveWindow());
    QVERIFY(form1.isVisible());
    QVERIFY(form1.isEnabled());

    pressStartStrobing(form1);
    QCOMPARE(form1.form2(), form2);

    QTest::keyClick(form2->window(), Qt::Key_Escape);
    QVERIFY(!form2->isLoaded());
    QVERIFY(form1.isVisible());
    QVERIFY(form1.isEnabled());
    QCOMPARE(form1.geometry(), geometry);
    QCOMPARE(list(form1, "Combo1")->currentIndex(), 0);
    QCOMPARE(list(form1, "Combo2")->currentIndex(), 2);
    QCOMPARE(platform.storedValue(QStringLiteral("Combo2")), settingsBefore);
    QCOMPARE(platform.endCount, 0);
    QVERIFY(platform.box.shown.isEmpty());

    // Again, with the choices of the moment.
    list(form1, "Combo1")->setCurrentIndex(1);
    list(form1, "Combo2")->setCurrentIndex(0);
    pressStartStrobing(form1);
    QCOMPARE(form1.form2(), form2);
    QVERIFY(form2->isLoaded());
    QCOMPARE(form2->Timer1()->interval(), 200);
    QCOMPARE(form2->FlashColors().size(), 6);
    QCOMPARE(form2->ColorIndex(), qint16(0));
    QCOMPARE(form2->BackColor(), strobe::ColorValue::ButtonFace);
    QVERIFY(platform.box.shown.isEmpty());
}

void TestStrobeShell::closingTheMainWindowUnloadsTheStrobe()
{
    FakePlatform platform;
    shell::Form1 form1(platform);
    form1.Form_Load();
    form1.showCentred();
    pressStartStrobing(form1);
    QVERIFY(form1.form2()->isLoaded());
    QPointer<QWidget> strobeWindow = form1.form2()->window();

    form1.close();
    QVERIFY(!form1.form2()->isLoaded());
    QCOMPARE(platform.endCount, 1);
    QTRY_VERIFY(strobeWindow.isNull());
    QVERIFY(platform.box.shown.isEmpty());
}

QTEST_MAIN(TestStrobeShell)
#include "test_strobeshell.moc"
