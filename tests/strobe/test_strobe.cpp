#include "fakeidleinhibitor.h"
#include "fakemessagebox.h"
#include "layouts/applicationicon.h"
#include "layouts/colorvalue.h"
#include "layouts/screenreader.h"
#include "timing/intervaltimer.h"
#include "strobe/optionsource.h"
#include "strobe/coloursteps.h"
#include "strobe/strobe.h"

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLoggingCategory>
#include <QScreen>
#include <QTest>

using namespace Qt::StringLiterals;
using strobe::Strobe;
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

qint16 press(Strobe &form, qint16 key)
{
    form.handleKey(key);
    return key;
}

// "s" stands for Shift and "?" for a key the map does not know.
qint16 keyCode(QChar key)
{
    return key == u's' ? 16 : key == u'?' ? 255 : qint16(key.unicode());
}

void typeKeys(Strobe &form, const QString &keys)
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

class TestStrobe final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void sequences_data();
    void sequences();
    void hintThroughTick45();
    void saysTheTimerIsTheClock();
    void catchUpMatchesTicks_data();
    void catchUpMatchesTicks();
    void hideSequence_data();
    void hideSequence();
    void unloading();
    void reopenStartsAtFirstColour();
    void everyOpeningSharesTheProgramIcon();
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
    std::unique_ptr<Strobe> m_strobe;
};

void TestStrobe::init()
{
    m_options = FakeOptions();
    m_idle = FakeIdleInhibitor();
    m_strobe = std::make_unique<Strobe>(m_box, m_options, m_idle);
}

void TestStrobe::cleanup()
{
    m_strobe.reset();
    QVERIFY(m_box.shown.isEmpty());
}

// Shows the strobe and stops its real timer, so that the test alone ticks it.
void TestStrobe::showStrobe()
{
    m_strobe->show(QGuiApplication::primaryScreen());
    m_strobe->stepTimer()->setEnabled(false);
}

void TestStrobe::sequences_data()
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

void TestStrobe::sequences()
{
    QFETCH(qint16, style);
    QFETCH(qint16, speed);
    QFETCH(int, interval);
    QFETCH(QList<qint32>, colours);

    m_options.style = style;
    m_options.speed = speed;
    m_strobe->show(QGuiApplication::primaryScreen());
    QCOMPARE(m_strobe->stepTimer()->interval(), interval);
    QCOMPARE(m_strobe->stepTimer()->isArmed(), interval != 0);
    m_strobe->stepTimer()->setEnabled(false);
    // The step thread walks the sequence on its own, from the same start.
    const QList<qint32> &flash = m_strobe->flashColors();
    strobe::ColourSteps<qint32> steps({flash.begin(), flash.end()}, m_strobe->colorIndex());
    for (qsizetype tick = 0; tick < colours.size(); ++tick) {
        const qint32 before = m_strobe->backColor();
        if (tick > 0)
            m_strobe->step();
        QVERIFY2(m_strobe->backColor() == colours[tick], qPrintable(QString::number(tick)));
        qint32 stepped = before;
        if (tick > 0 && steps.next(stepped))
            QCOMPARE(stepped, m_strobe->backColor());
        else
            QCOMPARE(m_strobe->backColor(), before);
    }
}

void TestStrobe::hintThroughTick45()
{
    for (int opening = 0; opening < 2; ++opening) {
        showStrobe();
        QLabel *label = m_strobe->hint();
        QCOMPARE(label->text(), u"Press 'ESC' key to exit"_s);
        // The whole caption shows, whatever font stands in for the layout's.
        QVERIFY(label->width() >= label->fontMetrics().horizontalAdvance(label->text()));
        QCOMPARE(label->pos(), QPoint(0, 0));
        for (int tick = 1; tick <= 45; ++tick)
            m_strobe->step();
        QVERIFY(label->isVisible());
        m_strobe->step();
        QVERIFY(!label->isVisible());
        m_strobe->unload();
    }
}

// Steps made on the timer's own thread are taken here in one go, for the hint,
// a key or the closing: the state must be that of as many single ticks, and
// the hint's tick must be the one asked to be woken for.
namespace {

QStringList frameMessages;

void recordFrameMessage(QtMsgType, const QMessageLogContext &context, const QString &message)
{
    if (qstrcmp(context.category, "lumivex.strobe.frames") == 0)
        frameMessages << message;
}

} // namespace

// Offscreen nothing but the window's thread steps: it says so when the hint
// goes, or at closing if sooner, once for each opening.
void TestStrobe::saysTheTimerIsTheClock()
{
    QLoggingCategory::setFilterRules(u"lumivex.strobe.frames.info=true"_s);
    frameMessages.clear();
    const QtMessageHandler before = qInstallMessageHandler(recordFrameMessage);
    const QStringList once{u"Strobe steps follow the timer"_s};
    showStrobe();
    for (int tick = 1; tick <= 45; ++tick)
        m_strobe->step();
    const QStringList beforeHint = frameMessages;
    m_strobe->step();
    const QStringList atHint = frameMessages;
    m_strobe->step();
    m_strobe->unload();
    const QStringList afterClosing = frameMessages;
    frameMessages.clear();
    showStrobe();
    m_strobe->step();
    m_strobe->unload();
    const QStringList closedEarly = frameMessages;
    frameMessages.clear();
    m_options.speed = -1;
    showStrobe();
    m_strobe->unload();
    const QStringList noSpeed = frameMessages;
    qInstallMessageHandler(before);
    QLoggingCategory::setFilterRules(QString());
    QCOMPARE(beforeHint, QStringList());
    QCOMPARE(atHint, once);
    QCOMPARE(afterClosing, once);
    QCOMPARE(closedEarly, once);
    QCOMPARE(noSpeed, QStringList());
}

void TestStrobe::catchUpMatchesTicks_data()
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

void TestStrobe::catchUpMatchesTicks()
{
    QFETCH(qint16, style);
    QFETCH(int, before);
    QFETCH(int, ticks);

    m_options.style = style;
    Strobe single(m_box, m_options, m_idle);
    for (Strobe *form : {m_strobe.get(), &single}) {
        form->show(QGuiApplication::primaryScreen());
        form->stepTimer()->setEnabled(false);
        for (int tick = 0; tick < before; ++tick)
            form->step();
    }
    const quint64 untilHint = single.ticksUntilHint();
    for (int tick = 1; tick <= ticks; ++tick) {
        single.step();
        if (quint64(tick) < untilHint)
            QVERIFY(!single.hint()->isHidden());
        else if (quint64(tick) == untilHint)
            QVERIFY(single.hint()->isHidden());
    }
    QCOMPARE(untilHint == 0, before > 45);
    m_strobe->catchUp(quint64(ticks));
    QCOMPARE(m_strobe->colorIndex(), single.colorIndex());
    QCOMPARE(m_strobe->tickCount(), single.tickCount());
    QCOMPARE(m_strobe->backColor(), single.backColor());
    QCOMPARE(m_strobe->hint()->isHidden(), single.hint()->isHidden());
    QCOMPARE(m_strobe->ticksUntilHint(), single.ticksUntilHint());
}

void TestStrobe::hideSequence_data()
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

void TestStrobe::hideSequence()
{
    QFETCH(QString, keys);
    QFETCH(QString, steps);
    QFETCH(bool, minimised);
    QFETCH(bool, shrunk);

    showStrobe();
    if (minimised)
        m_strobe->window()->showMinimized();
    const QSize before = m_strobe->hint()->size();
    QVERIFY(!before.isEmpty());
    for (qsizetype i = 0; i < keys.size(); ++i) {
        const bool consumed = press(*m_strobe, keyCode(keys.at(i))) == 0;
        QCOMPARE(consumed, u"HIDE"_s.contains(keys.at(i)));
        const qint16 step = steps.at(i).digitValue();
        QCOMPARE(m_strobe->hideStep(), step);
        QCOMPARE(m_strobe->hideActive(), step != 0);
    }
    QCOMPARE(m_strobe->hint()->size(), shrunk ? QSize(0, 0) : before);
    QVERIFY(m_strobe->isLoaded());
}

void TestStrobe::unloading()
{
    m_strobe->unload();
    showStrobe();
    QPointer<QWidget> window = m_strobe->window();
    typeKeys(*m_strobe, u"HID"_s);
    QCOMPARE(press(*m_strobe, 27), qint16(27));
    QVERIFY(!m_strobe->isLoaded());
    QCOMPARE(m_strobe->hideStep(), qint16(0));
    QTRY_VERIFY(window.isNull());
    m_strobe->step();
    m_strobe->unload();
    // Closed by the window manager, then destroyed while loaded.
    showStrobe();
    QVERIFY(!m_strobe->window()->close());
    QVERIFY(!m_strobe->isLoaded());
    m_strobe->show(QGuiApplication::primaryScreen());
    m_strobe.reset();
}

void TestStrobe::reopenStartsAtFirstColour()
{
    showStrobe();
    m_strobe->step();
    m_strobe->step();
    // A second showing while open only brings the window forward, back in
    // full screen should a window manager have taken that away.
    m_strobe->window()->showNormal();
    m_strobe->show(QGuiApplication::primaryScreen());
    QCOMPARE(m_strobe->backColor(), ColorValue::White);
    QVERIFY(m_strobe->window()->isFullScreen());
    m_strobe->unload();

    m_options.style = 1;
    m_options.speed = 0;
    showStrobe();
    QCOMPARE(m_strobe->stepTimer()->interval(), 200);
    QCOMPARE(m_strobe->backColor(), ColorValue::ButtonFace);
    m_strobe->step();
    QCOMPARE(m_strobe->backColor(), 0x0000FF);
    // An unknown style keeps the sequence built before.
    m_strobe->unload();
    m_options.style = 5;
    showStrobe();
    m_strobe->step();
    QCOMPARE(m_strobe->backColor(), 0x0000FF);
}

// A window icon of its own at each opening left the window system's copies of
// its pixmaps in Qt's cache, under a key never used again: memory grew with
// every Start.
void TestStrobe::everyOpeningSharesTheProgramIcon()
{
    const qint64 programIcon = layouts::applicationIcon().cacheKey();
    for (int opening = 0; opening < 3; ++opening) {
        showStrobe();
        QPointer<QWidget> window = m_strobe->window();
        QCOMPARE(window->windowIcon().cacheKey(), programIcon);
        press(*m_strobe, 27);
        QTRY_VERIFY(window.isNull());
    }
}

void TestStrobe::idleHeldWhileShown_data()
{
    QTest::addColumn<QString>("close");
    for (const char *close : {"Escape", "window manager", "unload", "destroyed"})
        QTest::newRow(close) << QString::fromLatin1(close);
}

void TestStrobe::idleHeldWhileShown()
{
    QFETCH(QString, close);

    for (int opening = 1; opening <= 2; ++opening) {
        showStrobe();
        QVERIFY(m_idle.held);
        QCOMPARE(m_idle.window.data(), m_strobe->window());
        // Bringing it forward holds nothing more.
        m_strobe->show(QGuiApplication::primaryScreen());
        QCOMPARE(m_idle.inhibits, opening);
        if (close == u"Escape")
            press(*m_strobe, 27);
        else if (close == u"window manager")
            m_strobe->window()->close();
        else if (close == u"unload")
            m_strobe->unload();
        else
            m_strobe.reset();
        QVERIFY(!m_idle.held);
        QCOMPARE(m_idle.releases, opening);
        if (!m_strobe)
            break;
    }
    // Held on a window on screen, let go before it left the screen.
    QVERIFY(m_idle.shownAtInhibit);
    QVERIFY(m_idle.shownAtRelease);
}

void TestStrobe::coversTheScreen()
{
    m_options.style = 1;
    showStrobe();
    QWidget *window = m_strobe->window();
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
    m_strobe->step();
    const QImage image = window->grab().toImage();
    QCOMPARE(image.pixelColor(image.rect().center()), QColor(Qt::red));
    QCOMPARE(image.pixelColor(image.rect().bottomRight()), QColor(Qt::red));
}

void TestStrobe::waysOutGiveTheKeyboardBack_data()
{
    QTest::addColumn<bool>("escape");
    QTest::newRow("Escape") << true;
    QTest::newRow("window manager's close") << false;
}

// Whichever way the strobe goes, the main window has the keyboard again, even
// when something else had it in between.
void TestStrobe::waysOutGiveTheKeyboardBack()
{
    QFETCH(bool, escape);
    QWidget mainWindow;
    QWidget other;
    mainWindow.show();
    other.show();
    m_strobe->setMainWindow(&mainWindow);
    showStrobe();
    QPointer<QWidget> window = m_strobe->window();
    QTRY_VERIFY(window->isActiveWindow());
    other.activateWindow();
    QTRY_VERIFY(other.isActiveWindow());
    // Nothing takes the keyboard back to the strobe.
    QCoreApplication::processEvents();
    QVERIFY(other.isActiveWindow());
    window->activateWindow();
    QTRY_VERIFY(window->isActiveWindow());
    if (escape)
        press(*m_strobe, 27);
    else
        QVERIFY(!window->close());
    QVERIFY(!m_strobe->isLoaded());
    QTRY_VERIFY(mainWindow.isActiveWindow());
    QTRY_VERIFY(window.isNull());
}

// Without an on-screen window every step that needs it fails and is reported;
// the others still run, and H-I-D-E still ends idle with the key consumed.
void TestStrobe::failuresAreReportedAndCarryOn()
{
    m_options.speed = 1;
    m_strobe->applyOptions();
    QCOMPARE(failedLines(m_box, u"Form_Load"_s), u"100 110 136 142"_s);
    QCOMPARE(m_strobe->flashColors(), (QList<qint32>{ColorValue::Black, ColorValue::White}));
    typeKeys(*m_strobe, u"HID"_s);
    QVERIFY(m_box.shown.isEmpty());
    QCOMPARE(press(*m_strobe, 69), qint16(0));
    QCOMPARE(failedLines(m_box, u"Form_KeyDown"_s), u"156 158 160 162"_s);
    QCOMPARE(m_strobe->hideStep(), qint16(0));
}

void TestStrobe::warningGivesTheRates_data()
{
    const auto read = [](const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    };
    QTest::addColumn<QString>("warning");
    QTest::newRow("README") << read(QStringLiteral(LUMIVEX_README));
    QTest::newRow("AppStream description") << read(QStringLiteral(LUMIVEX_METAINFO));
    QTest::newRow("Start Strobing tooltip") << layouts::strobeWarning();
}

// The photosensitivity warnings state the rates the strobe really shows: for
// Classic Strobe Light the changes to white, for Random Colors every change.
void TestStrobe::warningGivesTheRates()
{
    QFETCH(QString, warning);
    QVERIFY(!warning.isEmpty());
    const QString text = warning.simplified().remove(u"> "_s);

    QStringList rates[2];
    for (qint16 style : {0, 1}) {
        for (qint16 speed : {0, 1, 2}) {
            m_options.style = style;
            m_options.speed = speed;
            showStrobe();
            const int interval = m_strobe->stepTimer()->interval();
            // Whole cycles of both styles (3 and 7 steps), after the first step.
            constexpr int kSteps = 42;
            m_strobe->step();
            int changes = 0;
            for (int step = 0; step < kSteps; ++step) {
                const qint32 before = m_strobe->backColor();
                m_strobe->step();
                const qint32 now = m_strobe->backColor();
                changes += now != before && (style == 1 || now == ColorValue::White);
            }
            m_strobe->unload();
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

QTEST_MAIN(TestStrobe)
#include "test_strobe.moc"
