#include "curfile.h"
#include "fakeplatform.h"
#include "form1.h"
#include "homepage.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QTest>

namespace {

using Reports = QList<int>;

// The line numbers of the error reports shown so far.
Reports reportedLines(const FakeMessageBox &box)
{
    Reports lines;
    for (const auto &shown : box.shown) {
        const auto at = shown.prompt.indexOf(QStringLiteral("at line "));
        if (at >= 0)
            lines << shown.prompt.mid(at + 8).section(QLatin1Char('\r'), 0, 0).toInt();
    }
    return lines;
}

QComboBox *list(shell::Form1 &form, const char *name)
{
    return form.findChild<QComboBox *>(QLatin1String(name));
}

void writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(data);
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void restoresStoredChoices_data();
    void restoresStoredChoices();
    void emptyStoreSelectsFirstEntriesAndWritesThemBack();
    void captionIconAndApplicationTitle();
    void handCursorKeepsItsHotSpot();
    void missingHandCursorIsSilent();
    void brokenHandCursorIsReportedAtLine106();
    void homePageOpensOnDrawOfSeven_data();
    void homePageOpensOnDrawOfSeven();
    void homePageFailureIsReportedAtLine108();
};

void TestStartup::restoresStoredChoices_data()
{
    QTest::addColumn<QString>("style");
    QTest::addColumn<QString>("speed");
    QTest::addColumn<int>("styleIndex");
    QTest::addColumn<int>("speedIndex");
    QTest::addColumn<Reports>("reports");
    QTest::addColumn<QString>("styleAfter");
    QTest::addColumn<QString>("speedAfter");

    QTest::newRow("random colours, fast") << "1"
                                          << "2" << 1 << 2 << Reports{} << "1"
                                          << "2";
    QTest::newRow("no style") << "-1"
                              << "1" << -1 << 1 << Reports{} << "-1"
                              << "1";
    QTest::newRow("style past the list") << "2"
                                         << "0" << -1 << 0 << Reports{138} << "2"
                                         << "0";
    QTest::newRow("speed not a number") << "0"
                                        << "abc" << 0 << -1 << Reports{140} << "0"
                                        << "abc";
    QTest::newRow("halves go to even") << "0.5"
                                       << "1.5" << 0 << 2 << Reports{} << "0"
                                       << "2";
    QTest::newRow("both invalid") << "7"
                                  << "abc" << -1 << -1 << Reports{138, 140} << "7"
                                  << "abc";
    QTest::newRow("overflow") << "40000"
                              << "-2" << -1 << -1 << Reports{138, 140} << "40000"
                              << "-2";
}

void TestStartup::restoresStoredChoices()
{
    QFETCH(QString, style);
    QFETCH(QString, speed);
    QFETCH(int, styleIndex);
    QFETCH(int, speedIndex);
    QFETCH(Reports, reports);
    QFETCH(QString, styleAfter);
    QFETCH(QString, speedAfter);

    FakePlatform platform;
    platform.storeValue(QStringLiteral("Combo1"), style);
    platform.storeValue(QStringLiteral("Combo2"), speed);
    shell::Form1 form(platform);
    form.Form_Load();

    QCOMPARE(list(form, "Combo1")->currentIndex(), styleIndex);
    QCOMPARE(list(form, "Combo2")->currentIndex(), speedIndex);
    QCOMPARE(reportedLines(platform.box), reports);
    for (const auto &shown : platform.box.shown)
        QCOMPARE(shown.title, std::optional<QString>(QStringLiteral("Application Error")));
    QCOMPARE(platform.storedValue(QStringLiteral("Combo1")), styleAfter);
    QCOMPARE(platform.storedValue(QStringLiteral("Combo2")), speedAfter);
}

void TestStartup::emptyStoreSelectsFirstEntriesAndWritesThemBack()
{
    FakePlatform platform;
    shell::Form1 form(platform);
    form.Form_Load();
    QVERIFY(platform.box.shown.isEmpty());
    QCOMPARE(list(form, "Combo1")->currentText(), QStringLiteral("Classic Strobe Light"));
    QCOMPARE(list(form, "Combo2")->currentText(), QStringLiteral("Slow"));
    QCOMPARE(platform.storedValue(QStringLiteral("Combo1")), QStringLiteral("0"));
    QCOMPARE(platform.storedValue(QStringLiteral("Combo2")), QStringLiteral("0"));
    // One write per restored list, none from filling them.
    QCOMPARE(platform.store.saves, 2);
    QCOMPARE(list(form, "Combo1")->count(), 2);
    QCOMPARE(list(form, "Combo2")->itemText(2), QStringLiteral("Fast"));
}

void TestStartup::captionIconAndApplicationTitle()
{
    FakePlatform platform;
    shell::Form1 form(platform);
    form.Form_Load();
    QCOMPARE(form.windowTitle(), QStringLiteral("Lumivex Software"));
    QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Lumivex"));
    const QList<QSize> sizes = form.windowIcon().availableSizes();
    for (const QSize size : {QSize(32, 32), QSize(48, 48), QSize(128, 128), QSize(256, 256)})
        QVERIFY2(sizes.contains(size), qPrintable(QString::number(size.width())));
}

void TestStartup::handCursorKeepsItsHotSpot()
{
    FakePlatform platform;
    writeFile(platform.folder + QStringLiteral("/HAND-M.CUR"), makeCursorFile(32, QPoint(5, 7)));
    shell::Form1 form(platform);
    form.Form_Load();
    QVERIFY(platform.box.shown.isEmpty());
    QVERIFY(form.hasMouseIcon());
    form.PushButton2_MouseMove();
    QCOMPARE(form.cursor().shape(), Qt::BitmapCursor);
    QCOMPARE(form.cursor().hotSpot(), QPoint(5, 7));
    form.Frame3_MouseMove();
    QCOMPARE(form.cursor().shape(), Qt::ArrowCursor);
}

void TestStartup::missingHandCursorIsSilent()
{
    FakePlatform platform;
    shell::Form1 form(platform);
    form.Form_Load();
    QVERIFY(platform.box.shown.isEmpty());
    QVERIFY(!form.hasMouseIcon());
    form.PushButton1_MouseMove();
    QCOMPARE(form.mousePointer(), shell::MousePointer::Custom);
    QCOMPARE(form.cursor().shape(), Qt::ArrowCursor);
}

void TestStartup::brokenHandCursorIsReportedAtLine106()
{
    FakePlatform platform;
    writeFile(platform.folder + QStringLiteral("/HAND-M.CUR"), QByteArray("not a picture at all"));
    shell::Form1 form(platform);
    form.Form_Load();
    QCOMPARE(reportedLines(platform.box), Reports{106});
    QVERIFY(!form.hasMouseIcon());
    // The sequence went on after the report.
    QCOMPARE(form.windowTitle(), QStringLiteral("Lumivex Software"));
    QCOMPARE(list(form, "Combo2")->currentIndex(), 0);
}

void TestStartup::homePageOpensOnDrawOfSeven_data()
{
    QTest::addColumn<float>("random");
    QTest::addColumn<bool>("opens");
    QTest::newRow("draws 7") << 0.065f << true;
    QTest::newRow("just below 7") << 0.0599f << false;
    QTest::newRow("draws 8") << 0.07f << false;
    QTest::newRow("draws 1") << 0.0f << false;
    QTest::newRow("draws 100") << 0.9999f << false;
}

void TestStartup::homePageOpensOnDrawOfSeven()
{
    QFETCH(float, random);
    QFETCH(bool, opens);
    FakePlatform platform;
    platform.random = random;
    shell::Form1 form(platform);
    form.Form_Load();
    QCOMPARE(platform.seeds.size(), 1);
    QCOMPARE(platform.opened.isEmpty(), !opens);
    if (opens)
        QCOMPARE(platform.opened.first(), shell::homePageAddress());
    QVERIFY(platform.box.shown.isEmpty());
}

void TestStartup::homePageFailureIsReportedAtLine108()
{
    FakePlatform platform;
    platform.random = 0.065f;
    platform.openFails = true;
    shell::Form1 form(platform);
    form.Form_Load();
    QCOMPARE(reportedLines(platform.box), Reports{108});
    QCOMPARE(form.windowTitle(), QStringLiteral("Lumivex Software"));
}

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
