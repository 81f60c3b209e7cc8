#include "fakeplatform.h"
#include "layouts/colorvalue.h"
#include "shell/mainwindow.h"
#include "strobe/strobe.h"
#include "timing/intervaltimer.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>

using strobe::Strobe;

namespace {

// The strobe as the user meets it: a main window with its lists filled.
struct Program
{
    Program()
    {
        window.setUp();
        window.showCentred();
    }
    QComboBox *list(const char *name)
    {
        return window.findChild<QComboBox *>(QLatin1String(name));
    }
    Strobe &start()
    {
        auto *button = window.findChild<QPushButton *>(QStringLiteral("PushButton2"));
        QTest::mouseClick(button, Qt::LeftButton);
        return *window.strobe();
    }

    FakePlatform platform;
    shell::MainWindow window{platform};
};

bool validHideState(const Strobe &form)
{
    return form.hideActive() ? form.hideStep() >= 1 && form.hideStep() <= 3 : form.hideStep() == 0;
}

// Mostly the letters of H-I-D-E so that sequences get far, Escape now and
// then, and a sample of everything else a keyboard has.
int randomQtKey(QRandomGenerator &random)
{
    static const int keys[]
        = {Qt::Key_H, Qt::Key_I,   Qt::Key_D,  Qt::Key_E,        Qt::Key_Shift, Qt::Key_Control,
           Qt::Key_5, Qt::Key_Tab, Qt::Key_F4, Qt::Key_CapsLock, Qt::Key_Menu,  Qt::Key_MediaPlay};
    const int draw = random.bounded(100);
    if (draw < 2)
        return Qt::Key_Escape;
    if (draw < 60)
        return keys[random.bounded(4)];
    if (draw < 80)
        return Qt::Key_A + random.bounded(26);
    return keys[random.bounded(int(std::size(keys)))];
}

} // namespace

class TestStrobeStress final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void keyStorm_data();
    void keyStorm();
    void escapeAndStartAgainLeaveNothingBehind();
    void closingTheMainWindowEndsTheProgram();
};

// The offscreen platform warns at every opening; thousands of times here.
void TestStrobeStress::initTestCase()
{
    static QtMessageHandler next = nullptr;
    next = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext &context, const QString &message) {
            if (!message.contains(QLatin1String("does not support raise()")))
                next(type, context, message);
        });
}

void TestStrobeStress::keyStorm_data()
{
    QTest::addColumn<quint32>("seed");
    for (quint32 seed : {1u, 2u, 3u})
        QTest::addRow("seed %u", seed) << seed;
}

// Thousands of keys, with a tick now and then: the hide sequence never leaves
// its states, and the window goes exactly when Escape comes.
void TestStrobeStress::keyStorm()
{
    QFETCH(quint32, seed);
    QRandomGenerator random(seed);
    Program program;
    Strobe *form = &program.start();
    int escapes = 0;

    for (int i = 0; i < 4000; ++i) {
        const int key = randomQtKey(random);
        const auto modifiers = random.bounded(4) == 0 ? Qt::ShiftModifier : Qt::NoModifier;
        QTest::keyClick(form->window(), Qt::Key(key), modifiers);
        QVERIFY2(validHideState(*form), qPrintable(QStringLiteral("after key %1").arg(i)));
        QCOMPARE(form->isLoaded(), key != Qt::Key_Escape);
        if (!form->isLoaded()) {
            ++escapes;
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            form = &program.start();
        } else if (random.bounded(16) == 0) {
            form->step();
        }
    }
    QVERIFY(escapes > 20);
    QVERIFY(program.platform.box.shown.isEmpty());
    QCOMPARE(program.platform.endCount, 0);
}

// 500 rounds of "Start Strobing" and Escape, the choices changing between
// them: each opening starts afresh, and each Escape leaves the main window
// as it was and nothing of the strobe behind.
void TestStrobeStress::escapeAndStartAgainLeaveNothingBehind()
{
    Program program;
    const QRect geometry = program.window.geometry();
    const qsizetype widgetsBefore = QApplication::allWidgets().size();

    for (int round = 0; round < 500; ++round) {
        const int style = round % 2;
        program.list("Combo1")->setCurrentIndex(style);
        program.list("Combo2")->setCurrentIndex(round % 3);
        const QString stored = program.platform.storedValue(QStringLiteral("Combo2"));
        Strobe &form = program.start();
        QCOMPARE(&program.start(), &form);
        QCOMPARE(form.stepTimer()->interval(), 200 - 50 * (round % 3));
        form.step();
        QCOMPARE(form.backColor(), style == 0 ? layouts::ColorValue::Black : 0x0000FF);

        QPointer<timing::IntervalTimer> timer = form.stepTimer();
        QTest::keyClick(form.window(), Qt::Key_Escape);
        QVERIFY(!form.isLoaded());
        QVERIFY(timer.isNull() || !timer->isArmed());
        QCOMPARE(program.list("Combo1")->currentIndex(), style);
        QCOMPARE(program.platform.storedValue(QStringLiteral("Combo2")), stored);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    // One hold per opening, each let go.
    QCOMPARE(program.platform.idle.inhibits, 500);
    QCOMPARE(program.platform.idle.releases, 500);

    QTRY_COMPARE(QApplication::allWidgets().size(), widgetsBefore);
    QVERIFY(program.window.isVisible() && program.window.isEnabled());
    QCOMPARE(program.window.geometry(), geometry);
    QCOMPARE(program.platform.endCount, 0);
    QVERIFY(program.platform.box.shown.isEmpty());
}

void TestStrobeStress::closingTheMainWindowEndsTheProgram()
{
    Program program;
    Strobe &form = program.start();
    QTest::keyClicks(form.window(), QStringLiteral("hIdE"));
    QCOMPARE(form.hint()->size(), QSize(0, 0));
    QTest::keyClicks(form.window(), QStringLiteral("hid"));
    QPointer<QWidget> window = form.window();
    QPointer<timing::IntervalTimer> timer = form.stepTimer();
    QVERIFY(program.platform.idle.held);

    program.window.close();
    QVERIFY(!form.isLoaded());
    QVERIFY(!program.platform.idle.held);
    QCOMPARE(program.platform.endCount, 1);
    QVERIFY(timer.isNull() || !timer->isArmed());
    QTRY_VERIFY(window.isNull());
    QVERIFY(program.platform.box.shown.isEmpty());
}

QTEST_MAIN(TestStrobeStress)
#include "test_strobestress.moc"
