#include "fakemessagebox.h"
#include "fakeplatform.h"
#include "layouts/colorvalue.h"
#include "strobe/form2.h"
#include "strobe/intervaltimer.h"
#include "strobe/optionsource.h"
#include "strobe/stepper.h"

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QScreen>
#include <QTest>

using namespace Qt::StringLiterals;
using strobe::Form2;
namespace ColorValue = layouts::ColorValue;

namespace {

class FakeOptions final : public strobe::OptionSource
{
public:
    qint16 styleIndex() const override { return style; }
    qint16 speedIndex() const override { return speed; }
    qint16 style = 0;
    qint16 speed = 2;
};

qint16 press(Form2 &form, qint16 key)
{
    form.Form_KeyDown(key);
    return key;
}

// "s" stands for Shift and "?" for a key the map does not know.
qint16 keyCode(QChar key)
{
    return key == u's' ? 16 : key == u'?' ? 255 : qint16(key.unicode());
}

void typeKeys(Form2 &form, const QString &keys)
{
    for (QChar key : keys)
        press(form, keyCode(key));
}

// The line numbers of the failures reported so far, all from the given event.
QString failedLines(FakeMessageBox &box, const QString &event)
{
    QStringList lines;
    for (const FakeMessageBox::Shown &shown : std::as_const(box.shown)) {
        if (!shown.prompt.contains(u"in Lumivex2021/08/31.Form2."_s + event + u" at line "_s))
            return shown.prompt;
        lines << shown.prompt.section(u"at line "_s, 1).section(u'\r', 0, 0);
    }
    box.shown.clear();
    return lines.join(u' ');
}

} // namespace

Q_DECLARE_METATYPE(QList<qint32>)

class TestForm2 final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void sequences_data();
    void sequences();
    void hintThroughTick45();
    void catchUpMatchesTicks_data();
    void catchUpMatchesTicks();
    void hideSequence_data();
    void hideSequence();
    void unloading();
    void reopenStartsAtFirstColour();
    void idleHeldWhileShown_data();
    void idleHeldWhileShown();
    void coversTheScreen();
    void waysOutGiveTheKeyboardBack_data();
    void waysOutGiveTheKeyboardBack();
    void failuresAreReportedAndCarryOn();
    void warningGivesTheRates_data();
    void warningGivesTheRates();

private:
    void showStrobe();

    FakeMessageBox m_box;
    FakeOptions m_options;
    FakeIdleInhibitor m_idle;
    std::unique_ptr<Form2> m_form;
};

void TestForm2::init()
{
    m_options = FakeOptions();
    m_idle = FakeIdleInhibitor();
    m_form = std::make_unique<Form2>(m_box, m_options, m_idle);
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
    m_form->Timer1()->setEnabled(false);
}

void TestForm2::sequences_data()
{
    QTest::addColumn<qint16>("style");
    QTest::addColumn<qint16>("speed");
    QTest::addColumn<int>("interval");
    QTest::addColumn<QList<qint32>>("colours"); // at load, then after each tick

    const qint32 B = ColorValue::Black, W = ColorValue::White;
    const QList<qint32> classic{B, B, W, W, B, W, W, B, W, W};
    const qint32 F = ColorValue::ButtonFace, R = 0x0000FF, Y = 0x00FFFF;
    const QList<qint32> random{F, R, 0x00FF00, 0xFF0000, 0xFFFF00, 0xFF00FF, Y, Y, R};
    QTest::newRow("no style") << qint16(-1) << qint16(2) << 100 << QList<qint32>{F, F, F};
    QTest::newRow("bad speed") << qint16(0) << qint16(3) << 0 << QList<qint32>{B};
    QTest::newRow("classic slow") << qint16(0) << qint16(0) << 200 << classic;
    QTest::newRow("random medium") << qint16(1) << qint16(1) << 150 << random;
    QTest::newRow("classic fast") << qint16(0) << qint16(2) << 100 << classic;
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
    QCOMPARE(m_form->Timer1()->isArmed(), interval != 0);
    m_form->Timer1()->setEnabled(false);
    // The step thread walks the sequence on its own, from the same start.
    const QList<qint32> &flash = m_form->FlashColors();
    strobe::ColourSteps<qint32> steps({flash.begin(), flash.end()}, m_form->ColorIndex());
    for (qsizetype tick = 0; tick < colours.size(); ++tick) {
        const qint32 before = m_form->BackColor();
        if (tick > 0)
            m_form->Timer1_Timer();
        QVERIFY2(m_form->BackColor() == colours[tick], qPrintable(QString::number(tick)));
        qint32 stepped = before;
        if (tick > 0 && steps.next(stepped))
            QCOMPARE(stepped, m_form->BackColor());
        else
            QCOMPARE(m_form->BackColor(), before);
    }
}

void TestForm2::hintThroughTick45()
{
    for (int opening = 0; opening < 2; ++opening) {
        showStrobe();
        QLabel *label = m_form->Label1();
        QCOMPARE(label->text(), u"Press 'ESC' key to exit"_s);
        // The whole caption shows, whatever font stands in for the layout's.
        QVERIFY(label->width() >= label->fontMetrics().horizontalAdvance(label->text()));
        QCOMPARE(label->pos(), QPoint(0, 0));
        for (int tick = 1; tick <= 45; ++tick)
            m_form->Timer1_Timer();
        QVERIFY(label->isVisible());
        m_form->Timer1_Timer();
        QVERIFY(!label->isVisible());
        m_form->Unload();
    }
}

// Steps made on the timer's own thread are taken here in one go, for the hint,
// a key or the closing: the state must be that of as many single ticks, and
// the hint's tick must be the one asked to be woken for.
void TestForm2::catchUpMatchesTicks_data()
{
    QTest::addColumn<qint16>("style");
    QTest::addColumn<int>("before"); // single ticks first
    QTest::addColumn<int>("ticks");  // then at once

    for (qint16 style : {qint16(0), qint16(1), qint16(-1)}) {
        for (int before : {0, 3, 44, 45, 60}) {
            for (int ticks : {1, 2, 7, 46, 47, 53, 1000, 10007}) {
                QTest::addRow("style %d, %d then %d", style, before, ticks)
                    << style << before << ticks;
            }
        }
    }
}

void TestForm2::catchUpMatchesTicks()
{
    QFETCH(qint16, style);
    QFETCH(int, before);
    QFETCH(int, ticks);

    m_options.style = style;
    Form2 single(m_box, m_options, m_idle);
    for (Form2 *form : {m_form.get(), &single}) {
        form->Show(QGuiApplication::primaryScreen());
        form->Timer1()->setEnabled(false);
        for (int tick = 0; tick < before; ++tick)
            form->Timer1_Timer();
    }
    const quint64 untilHint = single.ticksUntilHint();
    for (int tick = 1; tick <= ticks; ++tick) {
        single.Timer1_Timer();
        if (quint64(tick) < untilHint)
            QVERIFY(!single.Label1()->isHidden());
        else if (quint64(tick) == untilHint)
            QVERIFY(single.Label1()->isHidden());
    }
    QCOMPARE(untilHint == 0, before > 45);
    m_form->catchUp(quint64(ticks));
    QCOMPARE(m_form->ColorIndex(), single.ColorIndex());
    QCOMPARE(m_form->TickCount(), single.TickCount());
    QCOMPARE(m_form->BackColor(), single.BackColor());
    QCOMPARE(m_form->Label1()->isHidden(), single.Label1()->isHidden());
    QCOMPARE(m_form->ticksUntilHint(), single.ticksUntilHint());
}

void TestForm2::hideSequence_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("steps"); // after each key
    QTest::addColumn<bool>("minimised");
    QTest::addColumn<bool>("shrunk");

    QTest::newRow("H I D E") << u"HIDE"_s << u"1230"_s << false << true;
    QTest::newRow("an early E changes nothing") << u"HIEDE"_s << u"12230"_s << false << true;
    QTest::newRow("a second H fails") << u"HHIDE"_s << u"10000"_s << false << false;
    QTest::newRow("Shift in the middle") << u"HsIDE"_s << u"10000"_s << false << false;
    QTest::newRow("an unknown key") << u"HI?DE"_s << u"12000"_s << false << false;
    QTest::newRow("D at step 3") << u"HIDDE"_s << u"12300"_s << false << false;
    QTest::newRow("strays, then again") << u"EIHIDHHIDE"_s << u"0012301230"_s << false << true;
    QTest::newRow("already shrunk") << u"HIDEHIDE"_s << u"12301230"_s << false << true;
    QTest::newRow("minimised") << u"HIDE"_s << u"1230"_s << true << false;
}

void TestForm2::hideSequence()
{
    QFETCH(QString, keys);
    QFETCH(QString, steps);
    QFETCH(bool, minimised);
    QFETCH(bool, shrunk);

    showStrobe();
    if (minimised)
        m_form->window()->showMinimized();
    const QSize before = m_form->Label1()->size();
    QVERIFY(!before.isEmpty());
    for (qsizetype i = 0; i < keys.size(); ++i) {
        const bool consumed = press(*m_form, keyCode(keys.at(i))) == 0;
        QCOMPARE(consumed, u"HIDE"_s.contains(keys.at(i)));
        const qint16 step = steps.at(i).digitValue();
        QCOMPARE(m_form->HideStep(), step);
        QCOMPARE(m_form->HideActive(), step != 0);
    }
    QCOMPARE(m_form->Label1()->size(), shrunk ? QSize(0, 0) : before);
    QVERIFY(m_form->isLoaded());
}

void TestForm2::unloading()
{
    m_form->Unload();
    showStrobe();
    QPointer<QWidget> window = m_form->window();
    typeKeys(*m_form, u"HID"_s);
    QCOMPARE(press(*m_form, 27), qint16(27));
    QVERIFY(!m_form->isLoaded());
    QCOMPARE(m_form->HideStep(), qint16(0));
    QTRY_VERIFY(window.isNull());
    m_form->Timer1_Timer();
    m_form->Unload();
    // Closed by the window manager, then destroyed while loaded.
    showStrobe();
    QVERIFY(!m_form->window()->close());
    QVERIFY(!m_form->isLoaded());
    m_form->Show(QGuiApplication::primaryScreen());
    m_form.reset();
}

void TestForm2::reopenStartsAtFirstColour()
{
    showStrobe();
    m_form->Timer1_Timer();
    m_form->Timer1_Timer();
    // A second showing while open only brings the window forward, back in
    // full screen should a window manager have taken that away.
    m_form->window()->showNormal();
    m_form->Show(QGuiApplication::primaryScreen());
    QCOMPARE(m_form->BackColor(), ColorValue::White);
    QVERIFY(m_form->window()->isFullScreen());
    m_form->Unload();

    m_options.style = 1;
    m_options.speed = 0;
    showStrobe();
    QCOMPARE(m_form->Timer1()->interval(), 200);
    QCOMPARE(m_form->BackColor(), ColorValue::ButtonFace);
    m_form->Timer1_Timer();
    QCOMPARE(m_form->BackColor(), 0x0000FF);
    // An unknown style keeps the sequence built before.
    m_form->Unload();
    m_options.style = 5;
    showStrobe();
    m_form->Timer1_Timer();
    QCOMPARE(m_form->BackColor(), 0x0000FF);
}

void TestForm2::idleHeldWhileShown_data()
{
    QTest::addColumn<QString>("close");
    for (const char *close : {"Escape", "window manager", "unload", "destroyed"})
        QTest::newRow(close) << QString::fromLatin1(close);
}

void TestForm2::idleHeldWhileShown()
{
    QFETCH(QString, close);

    for (int opening = 1; opening <= 2; ++opening) {
        showStrobe();
        QVERIFY(m_idle.held);
        QCOMPARE(m_idle.window.data(), m_form->window());
        // Bringing it forward holds nothing more.
        m_form->Show(QGuiApplication::primaryScreen());
        QCOMPARE(m_idle.inhibits, opening);
        if (close == u"Escape")
            press(*m_form, 27);
        else if (close == u"window manager")
            m_form->window()->close();
        else if (close == u"unload")
            m_form->Unload();
        else
            m_form.reset();
        QVERIFY(!m_idle.held);
        QCOMPARE(m_idle.releases, opening);
        if (!m_form)
            break;
    }
    // Held on a window on screen, let go before it left the screen.
    QVERIFY(m_idle.shownAtInhibit);
    QVERIFY(m_idle.shownAtRelease);
}

void TestForm2::coversTheScreen()
{
    m_options.style = 1;
    showStrobe();
    QWidget *window = m_form->window();
    // An ordinary window for the window manager, listed by a name that says
    // how to leave it.
    QCOMPARE(window->windowFlags(), Qt::Window | Qt::FramelessWindowHint);
    QVERIFY(window->isFullScreen());
    QCOMPARE(window->windowTitle(), u"Lumivex strobe light, press Escape to exit"_s);
    QCOMPARE(window->geometry(), QGuiApplication::primaryScreen()->geometry());
    // A screen reader announces a window that says how to leave it.
    QAccessibleInterface *announced = QAccessible::queryAccessibleInterface(window);
    QCOMPARE(announced->role(), QAccessible::Window);
    QVERIFY(announced->text(QAccessible::Name).contains(u"press Escape to exit"_s));
    QVERIFY(announced->text(QAccessible::Description).contains(u"Escape"_s));
    QTRY_VERIFY(window->isActiveWindow());
    m_form->Timer1_Timer();
    const QImage image = window->grab().toImage();
    QCOMPARE(image.pixelColor(image.rect().center()), QColor(Qt::red));
    QCOMPARE(image.pixelColor(image.rect().bottomRight()), QColor(Qt::red));
}

void TestForm2::waysOutGiveTheKeyboardBack_data()
{
    QTest::addColumn<bool>("escape");
    QTest::newRow("Escape") << true;
    QTest::newRow("window manager's close") << false;
}

// Whichever way the strobe goes, the main window has the keyboard again, even
// when something else had it in between.
void TestForm2::waysOutGiveTheKeyboardBack()
{
    QFETCH(bool, escape);
    QWidget mainWindow;
    QWidget other;
    mainWindow.show();
    other.show();
    m_form->setMainWindow(&mainWindow);
    showStrobe();
    QPointer<QWidget> window = m_form->window();
    QTRY_VERIFY(window->isActiveWindow());
    other.activateWindow();
    QTRY_VERIFY(other.isActiveWindow());
    // Nothing takes the keyboard back to the strobe.
    QCoreApplication::processEvents();
    QVERIFY(other.isActiveWindow());
    window->activateWindow();
    QTRY_VERIFY(window->isActiveWindow());
    if (escape)
        press(*m_form, 27);
    else
        QVERIFY(!window->close());
    QVERIFY(!m_form->isLoaded());
    QTRY_VERIFY(mainWindow.isActiveWindow());
    QTRY_VERIFY(window.isNull());
}

// Without an on-screen window every step that needs it fails and is reported;
// the others still run, and H-I-D-E still ends idle with the key consumed.
void TestForm2::failuresAreReportedAndCarryOn()
{
    m_options.speed = 1;
    m_form->Form_Load();
    QCOMPARE(failedLines(m_box, u"Form_Load"_s), u"100 110 136 142"_s);
    QCOMPARE(m_form->FlashColors(), (QList<qint32>{ColorValue::Black, ColorValue::White}));
    typeKeys(*m_form, u"HID"_s);
    QVERIFY(m_box.shown.isEmpty());
    QCOMPARE(press(*m_form, 69), qint16(0));
    QCOMPARE(failedLines(m_box, u"Form_KeyDown"_s), u"156 158 160 162"_s);
    QCOMPARE(m_form->HideStep(), qint16(0));
}

void TestForm2::warningGivesTheRates_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("README") << QStringLiteral(LUMIVEX_README);
    QTest::newRow("AppStream description") << QStringLiteral(LUMIVEX_METAINFO);
}

// The photosensitivity warnings state the rates the strobe really shows: for
// Classic Strobe Light the changes to white, for Random Colors every change.
void TestForm2::warningGivesTheRates()
{
    QFETCH(QString, path);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll()).simplified().remove(u"> "_s);

    QStringList rates[2];
    for (qint16 style : {0, 1}) {
        for (qint16 speed : {0, 1, 2}) {
            m_options.style = style;
            m_options.speed = speed;
            showStrobe();
            const int interval = m_form->Timer1()->interval();
            // Whole cycles of both styles (3 and 7 steps), after the first step.
            constexpr int kSteps = 42;
            m_form->Timer1_Timer();
            int changes = 0;
            for (int step = 0; step < kSteps; ++step) {
                const qint32 before = m_form->BackColor();
                m_form->Timer1_Timer();
                const qint32 now = m_form->BackColor();
                changes += now != before && (style == 1 || now == ColorValue::White);
            }
            m_form->Unload();
            const double perSecond = changes * 1000.0 / (kSteps * interval);
            rates[style] << QString::number(perSecond, 'f', style == 0 ? 2 : 1);
        }
    }
    const auto listed = [](const QStringList &three) {
        return three[0] + u", "_s + three[1] + u" or "_s + three[2];
    };
    const QString classic = u"Classic Strobe Light shows "_s + listed(rates[0])
                            + u" white flashes a second at Slow, Medium or Fast"_s;
    const QString random = u"Random Colors changes the colour of the whole screen "_s
                           + listed(rates[1]) + u" times a second"_s;
    QVERIFY2(text.contains(classic), qPrintable(classic));
    QVERIFY2(text.contains(random), qPrintable(random));
}

QTEST_MAIN(TestForm2)
#include "test_form2.moc"
