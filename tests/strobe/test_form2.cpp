#include "colorvalue.h"
#include "fakemessagebox.h"
#include "form2.h"
#include "intervaltimer.h"
#include "optionsource.h"

#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <QTest>

using strobe::Form2;
namespace ColorValue = strobe::ColorValue;

namespace {

class FakeOptions final : public strobe::OptionSource
{
public:
    qint16 styleIndex() const override { return style; }
    qint16 speedIndex() const override { return speed; }
    qint16 style = 0;
    qint16 speed = 2;
};

constexpr qint32 Red = 0x0000FF;
constexpr qint32 Green = 0x00FF00;
constexpr qint32 Blue = 0xFF0000;
constexpr qint32 Cyan = 0xFFFF00;
constexpr qint32 Magenta = 0xFF00FF;
constexpr qint32 Yellow = 0x00FFFF;

qint16 press(Form2 &form, qint16 key, qint16 shift = 0)
{
    form.Form_KeyDown(key, shift);
    return key;
}

void typeKeys(Form2 &form, const QList<qint16> &keys)
{
    for (qint16 key : keys)
        press(form, key);
}

QColor centrePixel(QWidget *window)
{
    const QImage image = window->grab().toImage();
    return image.pixelColor(image.rect().center());
}

} // namespace

Q_DECLARE_METATYPE(QList<qint32>)
Q_DECLARE_METATYPE(QList<qint16>)

class TestForm2 final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void sequences_data();
    void sequences();
    void paintsTheWholeWindow();
    void hintThroughTick45();
    void hintCountsAgainAfterReopening();
    void hideSequence_data();
    void hideSequence();
    void hideSequenceWhenMinimised();
    void hideSequenceWhenAlreadyShrunk();
    void hideKeysAreConsumed_data();
    void hideKeysAreConsumed();
    void escapeMidSequenceUnloads();
    void reopenStartsAtFirstColour();
    void noStyleShowsStaticBackground();
    void badSpeedGivesNoTicks();
    void coversTheScreen();
    void secondShowOnlyRaises();
    void unloadIsSafeAtAnyTime();
    void realKeyPressesReachTheHandler();
    void loadFailureIsReportedAndCarriesOn();
    void keyDownFailureIsReportedAndCarriesOn();
    void closedFromOutsideUnloads();

private:
    void showStrobe();

    FakeMessageBox m_box;
    FakeOptions m_options;
    std::unique_ptr<Form2> m_form;
};

void TestForm2::init()
{
    m_box.shown.clear();
    m_options = FakeOptions();
    m_form = std::make_unique<Form2>(m_box, m_options);
}

void TestForm2::cleanup()
{
    m_form.reset();
    QVERIFY(m_box.shown.isEmpty());
}

// Shows the strobe and stops its real timer, so that the test alone ticks it.
void TestForm2::showStrobe()
{
    m_form->Show(QGuiApplication::primaryScreen());
    QVERIFY(m_form->isLoaded());
    m_form->Timer1()->setEnabled(false);
}

void TestForm2::sequences_data()
{
    QTest::addColumn<qint16>("style");
    QTest::addColumn<qint16>("speed");
    QTest::addColumn<int>("interval");
    QTest::addColumn<QList<qint32>>("colours"); // at load, then after each tick

    const qint32 B = ColorValue::Black;
    const qint32 W = ColorValue::White;
    const QList<qint32> classic{B, B, W, W, B, W, W, B, W, W};
    const qint32 F = ColorValue::ButtonFace;
    const QList<qint32> random{F,   Red,   Green, Blue, Cyan,    Magenta, Yellow, Yellow,
                               Red, Green, Blue,  Cyan, Magenta, Yellow,  Yellow, Red};
    QTest::newRow("classic slow") << qint16(0) << qint16(0) << 200 << classic;
    QTest::newRow("classic medium") << qint16(0) << qint16(1) << 150 << classic;
    QTest::newRow("classic fast") << qint16(0) << qint16(2) << 100 << classic;
    QTest::newRow("random slow") << qint16(1) << qint16(0) << 200 << random;
    QTest::newRow("random medium") << qint16(1) << qint16(1) << 150 << random;
    QTest::newRow("random fast") << qint16(1) << qint16(2) << 100 << random;
}

void TestForm2::sequences()
{
    QFETCH(qint16, style);
    QFETCH(qint16, speed);
    QFETCH(int, interval);
    QFETCH(QList<qint32>, colours);

    m_options.style = style;
    m_options.speed = speed;
    m_form->Show(QGuiApplication::primaryScreen());
    QCOMPARE(m_form->Timer1()->interval(), interval);
    QVERIFY(m_form->Timer1()->isEnabled());
    QVERIFY(m_form->Timer1()->isArmed());
    m_form->Timer1()->setEnabled(false);

    QCOMPARE(m_form->ColorIndex(), qint16(0));
    QCOMPARE(m_form->BackColor(), colours.first());
    for (qsizetype tick = 1; tick < colours.size(); ++tick) {
        m_form->Timer1_Timer();
        QVERIFY2(m_form->BackColor() == colours[tick], qPrintable(QString::number(tick)));
    }
}

void TestForm2::paintsTheWholeWindow()
{
    m_options.style = 1;
    showStrobe();
    QWidget *window = m_form->window();
    const QColor face = window->palette().color(QPalette::Button);
    QCOMPARE(centrePixel(window), face);
    m_form->Timer1_Timer();
    QCOMPARE(centrePixel(window), QColor(Qt::red));
    const QImage image = window->grab().toImage();
    QCOMPARE(image.pixelColor(image.width() - 1, image.height() - 1), QColor(Qt::red));
    m_form->Timer1_Timer();
    QCOMPARE(centrePixel(window), QColor(Qt::green));
}

void TestForm2::hintThroughTick45()
{
    showStrobe();
    QLabel *label = m_form->Label1();
    QCOMPARE(label->text(), QStringLiteral("Press 'ESC' key to exit"));
    QVERIFY(label->isVisible());
    for (int tick = 1; tick <= 45; ++tick)
        m_form->Timer1_Timer();
    QVERIFY(label->isVisible());
    QCOMPARE(m_form->TickCount(), qint16(45));
    m_form->Timer1_Timer();
    QVERIFY(!label->isVisible());
    QCOMPARE(m_form->TickCount(), qint16(45));
    m_form->Timer1_Timer();
    QVERIFY(!label->isVisible());
}

void TestForm2::hintCountsAgainAfterReopening()
{
    showStrobe();
    for (int tick = 1; tick <= 50; ++tick)
        m_form->Timer1_Timer();
    m_form->Unload();
    showStrobe();
    QCOMPARE(m_form->TickCount(), qint16(0));
    QVERIFY(m_form->Label1()->isVisible());
    m_form->Timer1_Timer();
    QVERIFY(m_form->Label1()->isVisible());
}

void TestForm2::hideSequence_data()
{
    QTest::addColumn<QList<qint16>>("keys");
    QTest::addColumn<bool>("shrunk");
    QTest::addColumn<bool>("active");
    QTest::addColumn<qint16>("step");

    const qint16 H = 72, I = 73, D = 68, E = 69, Shift = 16, Digit = 49;
    QTest::newRow("H I D E") << QList<qint16>{H, I, D, E} << true << false << qint16(0);
    QTest::newRow("H I E D E: early E changes nothing")
        << QList<qint16>{H, I, E, D, E} << true << false << qint16(0);
    QTest::newRow("H H I D E: second H returns to idle")
        << QList<qint16>{H, H, I, D, E} << false << false << qint16(0);
    QTest::newRow("Shift in the middle")
        << QList<qint16>{H, Shift, I, D, E} << false << false << qint16(0);
    QTest::newRow("digit in the middle")
        << QList<qint16>{H, I, Digit, D, E} << false << false << qint16(0);
    QTest::newRow("H") << QList<qint16>{H} << false << true << qint16(1);
    QTest::newRow("H I") << QList<qint16>{H, I} << false << true << qint16(2);
    QTest::newRow("H I D") << QList<qint16>{H, I, D} << false << true << qint16(3);
    QTest::newRow("H I E keeps step 2") << QList<qint16>{H, I, E} << false << true << qint16(2);
    QTest::newRow("I from idle") << QList<qint16>{I} << false << false << qint16(0);
    QTest::newRow("E from idle") << QList<qint16>{E} << false << false << qint16(0);
    QTest::newRow("H I D D") << QList<qint16>{H, I, D, D} << false << false << qint16(0);
    QTest::newRow("H I D H") << QList<qint16>{H, I, D, H} << false << false << qint16(0);
    QTest::newRow("H I D other") << QList<qint16>{H, I, D, Digit} << false << false << qint16(0);
    QTest::newRow("restart after failure")
        << QList<qint16>{H, H, H, I, D, E} << true << false << qint16(0);
}

void TestForm2::hideSequence()
{
    QFETCH(QList<qint16>, keys);
    QFETCH(bool, shrunk);
    QFETCH(bool, active);
    QFETCH(qint16, step);

    showStrobe();
    const QSize before = m_form->Label1()->size();
    QVERIFY(!before.isEmpty());
    typeKeys(*m_form, keys);
    QCOMPARE(m_form->Label1()->size(), shrunk ? QSize(0, 0) : before);
    QCOMPARE(m_form->HideActive(), active);
    QCOMPARE(m_form->HideStep(), step);
    QVERIFY(m_form->isLoaded());
}

void TestForm2::hideSequenceWhenMinimised()
{
    showStrobe();
    const QSize before = m_form->Label1()->size();
    m_form->window()->showMinimized();
    QVERIFY(m_form->window()->isMinimized());
    typeKeys(*m_form, {72, 73, 68, 69});
    QCOMPARE(m_form->Label1()->size(), before);
    QVERIFY(!m_form->HideActive());
    QCOMPARE(m_form->HideStep(), qint16(0));
}

void TestForm2::hideSequenceWhenAlreadyShrunk()
{
    showStrobe();
    typeKeys(*m_form, {72, 73, 68, 69});
    QCOMPARE(m_form->Label1()->size(), QSize(0, 0));
    typeKeys(*m_form, {72, 73, 68, 69});
    QCOMPARE(m_form->Label1()->size(), QSize(0, 0));
    QVERIFY(!m_form->HideActive());
    QCOMPARE(m_form->HideStep(), qint16(0));
}

void TestForm2::hideKeysAreConsumed_data()
{
    QTest::addColumn<qint16>("key");
    QTest::addColumn<qint16>("after");
    QTest::newRow("H") << qint16(72) << qint16(0);
    QTest::newRow("I") << qint16(73) << qint16(0);
    QTest::newRow("D") << qint16(68) << qint16(0);
    QTest::newRow("E") << qint16(69) << qint16(0);
    QTest::newRow("A") << qint16(65) << qint16(65);
    QTest::newRow("Shift") << qint16(16) << qint16(16);
    QTest::newRow("Escape") << qint16(27) << qint16(27);
}

void TestForm2::hideKeysAreConsumed()
{
    QFETCH(qint16, key);
    QFETCH(qint16, after);
    showStrobe();
    QCOMPARE(press(*m_form, key, 1), after);
}

void TestForm2::escapeMidSequenceUnloads()
{
    showStrobe();
    QPointer<QWidget> window = m_form->window();
    typeKeys(*m_form, {72, 73, 68});
    QCOMPARE(press(*m_form, 27), qint16(27));
    QVERIFY(!m_form->isLoaded());
    QVERIFY(m_form->window() == nullptr);
    QVERIFY(!window->isVisible());
    QVERIFY(!m_form->HideActive());
    QCOMPARE(m_form->HideStep(), qint16(0));
    QTRY_VERIFY(window.isNull());
    // Ticks and keys after unloading change nothing and report nothing.
    const qint16 index = m_form->ColorIndex();
    m_form->Timer1_Timer();
    QCOMPARE(m_form->ColorIndex(), index);
}

void TestForm2::reopenStartsAtFirstColour()
{
    showStrobe();
    for (int tick = 0; tick < 5; ++tick)
        m_form->Timer1_Timer();
    press(*m_form, 72);
    press(*m_form, 27);

    m_options.style = 1;
    m_options.speed = 0;
    m_form->Show(QGuiApplication::primaryScreen());
    QCOMPARE(m_form->Timer1()->interval(), 200);
    m_form->Timer1()->setEnabled(false);
    QCOMPARE(m_form->FlashColors().size(), 6);
    QCOMPARE(m_form->ColorIndex(), qint16(0));
    QVERIFY(!m_form->HideActive());
    QCOMPARE(m_form->HideStep(), qint16(0));
    QCOMPARE(m_form->BackColor(), ColorValue::ButtonFace);
    m_form->Timer1_Timer();
    QCOMPARE(m_form->BackColor(), Red);
}

void TestForm2::noStyleShowsStaticBackground()
{
    m_options.style = -1;
    showStrobe();
    QVERIFY(m_form->FlashColors().isEmpty());
    for (int tick = 0; tick < 5; ++tick) {
        m_form->Timer1_Timer();
        QCOMPARE(m_form->BackColor(), ColorValue::ButtonFace);
        QCOMPARE(m_form->ColorIndex(), qint16(0));
    }
    // A later opening without a style keeps the sequence built before.
    m_form->Unload();
    m_options.style = 0;
    showStrobe();
    m_form->Unload();
    m_options.style = 5;
    showStrobe();
    QCOMPARE(m_form->FlashColors(), (QList<qint32>{ColorValue::Black, ColorValue::White}));
    QCOMPARE(m_form->BackColor(), ColorValue::ButtonFace);
    m_form->Timer1_Timer();
    QCOMPARE(m_form->BackColor(), ColorValue::Black);
}

void TestForm2::badSpeedGivesNoTicks()
{
    m_options.speed = 3;
    m_form->Show(QGuiApplication::primaryScreen());
    strobe::IntervalTimer *timer = m_form->Timer1();
    QCOMPARE(timer->interval(), 0);
    QVERIFY(timer->isEnabled());
    QVERIFY(!timer->isArmed());
    QCoreApplication::processEvents();
    QCOMPARE(m_form->TickCount(), qint16(0));
    QCOMPARE(m_form->BackColor(), ColorValue::Black);
    QVERIFY(m_form->Label1()->isVisible());
}

void TestForm2::coversTheScreen()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    m_form->Show(screen);
    QWidget *window = m_form->window();
    QVERIFY(window->windowFlags().testFlag(Qt::FramelessWindowHint));
    QVERIFY(window->isFullScreen());
    QCOMPARE(window->geometry(), screen->geometry());
    QVERIFY(window->windowTitle().isEmpty());
    QVERIFY(!window->windowIcon().isNull());
    QVERIFY(window->testAttribute(Qt::WA_OpaquePaintEvent));
    QTRY_VERIFY(window->isActiveWindow());
    QCOMPARE(m_form->Label1()->pos(), QPoint(0, 0));
}

void TestForm2::secondShowOnlyRaises()
{
    showStrobe();
    QWidget *window = m_form->window();
    m_form->Timer1_Timer();
    m_form->Timer1_Timer();
    m_form->Show(QGuiApplication::primaryScreen());
    QCOMPARE(m_form->window(), window);
    QCOMPARE(m_form->ColorIndex(), qint16(2));
    QCOMPARE(m_form->BackColor(), ColorValue::White);
}

void TestForm2::unloadIsSafeAtAnyTime()
{
    m_form->Unload();
    QVERIFY(!m_form->isLoaded());
    showStrobe();
    m_form->Unload();
    m_form->Unload();
    QVERIFY(!m_form->isLoaded());
    m_form->Show(QGuiApplication::primaryScreen());
    // Destroyed while loaded, as when the program ends with the strobe open.
    m_form.reset();
}

void TestForm2::realKeyPressesReachTheHandler()
{
    showStrobe();
    QWidget *window = m_form->window();
    QTest::keyClick(window, Qt::Key_H, Qt::ShiftModifier);
    QTest::keyClick(window, Qt::Key_I);
    QTest::keyClick(window, Qt::Key_Tab);
    QVERIFY(!m_form->HideActive());
    QTest::keyClicks(window, QStringLiteral("hIdE"));
    QCOMPARE(m_form->Label1()->size(), QSize(0, 0));
    QTest::keyClick(window, Qt::Key_Escape);
    QVERIFY(!m_form->isLoaded());
}

void TestForm2::loadFailureIsReportedAndCarriesOn()
{
    // Form_Load without an on-screen window: every step that needs the window
    // fails, the others still run.
    m_options.style = 0;
    m_options.speed = 1;
    m_form->Form_Load();
    QStringList lines;
    for (const FakeMessageBox::Shown &shown : std::as_const(m_box.shown)) {
        QVERIFY(shown.prompt.contains(
            QStringLiteral("in Lumivex2021/08/31.Form2.Form_Load at line ")));
        lines.append(
            shown.prompt.section(QStringLiteral("at line "), 1).section(QLatin1Char('\r'), 0, 0));
    }
    QCOMPARE(lines, (QStringList{QStringLiteral("100"), QStringLiteral("110"),
                                 QStringLiteral("136"), QStringLiteral("142")}));
    QCOMPARE(m_form->FlashColors(), (QList<qint32>{ColorValue::Black, ColorValue::White}));
    m_box.shown.clear();
}

void TestForm2::keyDownFailureIsReportedAndCarriesOn()
{
    // Completing H-I-D-E with no window: the label tests and the shrinking
    // fail one by one, each branch runs as if its test held, and the
    // sequence still ends idle with the key consumed.
    typeKeys(*m_form, {72, 73, 68});
    QCOMPARE(m_form->HideStep(), qint16(3));
    QVERIFY(m_box.shown.isEmpty());
    QCOMPARE(press(*m_form, 69), qint16(0));
    QStringList lines;
    for (const FakeMessageBox::Shown &shown : std::as_const(m_box.shown)) {
        QVERIFY(shown.prompt.contains(
            QStringLiteral("\r\nin Lumivex2021/08/31.Form2.Form_KeyDown at line ")));
        lines.append(
            shown.prompt.section(QStringLiteral("at line "), 1).section(QLatin1Char('\r'), 0, 0));
    }
    QCOMPARE(lines, (QStringList{QStringLiteral("156"), QStringLiteral("158"),
                                 QStringLiteral("160"), QStringLiteral("162")}));
    QVERIFY(!m_form->HideActive());
    QCOMPARE(m_form->HideStep(), qint16(0));
    m_box.shown.clear();
}

void TestForm2::closedFromOutsideUnloads()
{
    showStrobe();
    QPointer<QWidget> window = m_form->window();
    QVERIFY(!window->close());
    QVERIFY(!m_form->isLoaded());
    QVERIFY(!window->isVisible());
    QTRY_VERIFY(window.isNull());
}

QTEST_MAIN(TestForm2)
#include "test_form2.moc"
