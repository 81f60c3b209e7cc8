#include "strobe/strobe.h"

#include "errors/failure.h"
#include "errors/guard.h"
#include "errors/report.h"
#include "layouts/applicationicon.h"
#include "layouts/colorvalue.h"
#include "strobe/currentdesktop.h"
#include "strobe/idleinhibitor.h"
#include "strobe/optionsource.h"
#include "strobe/strobewindow.h"
#include "strobe/virtualkey.h"
#include "timing/intervaltimer.h"
#include "timing/pacinglog.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

#include <utility>

namespace strobe {

namespace {

bool isHideKey(qint16 keyCode)
{
    return keyCode == VirtualKey::H || keyCode == VirtualKey::I || keyCode == VirtualKey::D
           || keyCode == VirtualKey::E;
}

// Error reports name the window, the handler and the step's line as they
// always have, so that a report reads the same from one version to the next.
namespace report {

constexpr char kWindow[] = "Form2";

namespace applyOptions {
constexpr char kHandler[] = "Form_Load";
constexpr quint16 kSetIcon = 100;
constexpr quint16 kIsClassic = 102;
constexpr quint16 kTwoColours = 104;
constexpr quint16 kClassicBlack = 106;
constexpr quint16 kClassicWhite = 108;
constexpr quint16 kBlackBackground = 110;
constexpr quint16 kIsRandom = 112;
constexpr quint16 kSixColours = 114;
constexpr quint16 kRandomRed = 116;
constexpr quint16 kRandomGreen = 118;
constexpr quint16 kRandomBlue = 120;
constexpr quint16 kRandomCyan = 122;
constexpr quint16 kRandomMagenta = 124;
constexpr quint16 kRandomYellow = 126;
constexpr quint16 kFirstColour = 128;
constexpr quint16 kIsSlow = 130;
constexpr quint16 kSlowInterval = 132;
constexpr quint16 kIsMedium = 134;
constexpr quint16 kMediumInterval = 136;
constexpr quint16 kIsFast = 138;
constexpr quint16 kFastInterval = 140;
constexpr quint16 kStartTimer = 142;
constexpr quint16 kHidingInactive = 144;
constexpr quint16 kHidingAtStart = 146;
} // namespace applyOptions

// The hint goes at the keys H, I, D and E pressed in turn; each letter's
// branch has the same steps.
namespace handleKey {
constexpr char kHandler[] = "Form_KeyDown";
constexpr quint16 kIsOtherKey = 100;
constexpr quint16 kOtherKeyInactive = 102;
constexpr quint16 kOtherKeyAtStart = 104;
constexpr quint16 kIsEscape = 106;
constexpr quint16 kClose = 108;
constexpr quint16 kIsH = 110;
constexpr quint16 kHWhenIdle = 112;
constexpr quint16 kHActive = 114;
constexpr quint16 kHAdvance = 116;
constexpr quint16 kHInactive = 118;
constexpr quint16 kHAtStart = 120;
constexpr quint16 kHSwallow = 122;
constexpr quint16 kIsI = 124;
constexpr quint16 kIAfterH = 126;
constexpr quint16 kIActive = 128;
constexpr quint16 kIAdvance = 130;
constexpr quint16 kIInactive = 132;
constexpr quint16 kIAtStart = 134;
constexpr quint16 kISwallow = 136;
constexpr quint16 kIsD = 138;
constexpr quint16 kDAfterI = 140;
constexpr quint16 kDActive = 142;
constexpr quint16 kDAdvance = 144;
constexpr quint16 kDInactive = 146;
constexpr quint16 kDAtStart = 148;
constexpr quint16 kDSwallow = 150;
constexpr quint16 kIsE = 152;
constexpr quint16 kEAfterD = 154;
constexpr quint16 kHintHasSize = 156;
constexpr quint16 kNotMinimized = 158;
constexpr quint16 kHintNoWidth = 160;
constexpr quint16 kHintNoHeight = 162;
constexpr quint16 kEInactive = 164;
constexpr quint16 kEAtStart = 166;
constexpr quint16 kESwallow = 168;
} // namespace handleKey

} // namespace report

errors::Failure objectRequired()
{
    return errors::Failure(QStringLiteral("Object required"));
}

} // namespace

Strobe::Strobe(errors::MessageBox &box, const OptionSource &options, IdleInhibitor &idle,
               QObject *parent)
    : QObject(parent)
    , m_box(box)
    , m_options(options)
    , m_idle(idle)
    , m_backColor(layouts::ColorValue::ButtonFace)
{}

Strobe::~Strobe()
{
    unload();
    for (const QPointer<StrobeWindow> &closing : std::as_const(m_closing))
        delete closing.data();
}

void Strobe::show(QScreen *screen)
{
    if (!isLoaded()) {
        load();
        // An error box during loading lets the program go on, even to unload us.
        if (!m_window)
            return;
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        m_window->cover(*screen,
                        [this] { return m_mainWindow ? m_mainWindow->screen() : nullptr; });
        m_idle.inhibit(*m_window);
        stepOnTimerThread();
    } else {
        moveToCurrentDesktop(*m_window);
        // A window manager may have taken the full screen away for another window.
        if (m_window->isMinimized() || !m_window->isFullScreen())
            m_window->showFullScreen();
    }
    m_window->raise();
    m_window->activateWindow();
    m_window->setFocus(Qt::ActiveWindowFocusReason);
}

void Strobe::load()
{
    m_window = new StrobeWindow(
        [this](qint16 &keyCode) {
            onWoken();
            handleKey(keyCode);
        },
        [this] { unload(); });
    connect(&m_window->stepTimer(), &timing::IntervalTimer::ticked, this, &Strobe::step);
    connect(&m_window->stepTimer(), &timing::IntervalTimer::woken, this, &Strobe::onWoken);
    m_backColor = layouts::ColorValue::ButtonFace;
    m_window->setColor(layouts::toQColor(m_backColor, m_window->palette()));
    // Every opening tells the user how to get out again for its own first ticks.
    m_tickCount = 0;
    applyOptions();
}

void Strobe::unload()
{
    if (!m_window)
        return;
    onWoken();
    sayTimerClock();
    StrobeWindow *window = m_window;
    m_window = nullptr;
    window->detach();
    window->disconnect(this);
    window->stepTimer().disconnect(this);
    m_idle.release();
    window->hide();
    // It may be unloading from inside its own key press.
    window->deleteLater();
    m_closing.append(window);
    m_closing.removeAll(nullptr);
    activateMainWindow();
}

// The steps of the colour sequence, from the colour the next tick shows, go to
// a thread of real-time priority where the window system lets another thread
// fill the window. This thread then runs step() for those steps only
// when it has to: for the hint, at a key and at closing.
void Strobe::stepOnTimerThread()
{
    m_timerClockToSay = false;
    // A timer without a speed never ticks, and needs no thread.
    if (!m_window || !m_window->stepTimer().isArmed())
        return;
    QList<QColor> colours;
    colours.reserve(m_flashColors.size());
    for (qint32 value : std::as_const(m_flashColors))
        colours.append(layouts::toQColor(value, m_window->palette()));
    if (m_window->stepOnTimerThread(colours, m_colorIndex))
        m_window->stepTimer().wakeAfter(ticksUntilHint());
    else
        m_timerClockToSay = true;
}

void Strobe::sayTimerClock()
{
    if (std::exchange(m_timerClockToSay, false))
        qCInfo(timing::lcFrames, "Strobe steps follow the timer");
}

void Strobe::onWoken()
{
    if (!m_window)
        return;
    catchUp(m_window->stepTimer().takeSteps());
    if (m_window)
        m_window->stepTimer().wakeAfter(ticksUntilHint());
}

void Strobe::catchUp(quint64 ticks)
{
    // Once the hint is gone and the colours went round once, every further
    // round ends in the same state: the ticks run here stay few however long
    // the strobe ran.
    const quint64 round = static_cast<quint64>(m_flashColors.size()) + 1;
    const quint64 settled = kTicksToHint + round;
    if (ticks > settled)
        ticks = settled + (ticks - settled) % round;
    for (; ticks > 0 && m_window; --ticks)
        step();
}

quint64 Strobe::ticksUntilHint() const
{
    // step() counts 45 ticks, then hides the hint at every tick after.
    if (m_tickCount <= 44)
        return static_cast<quint64>(kTicksToHint - m_tickCount);
    const QLabel *label = m_window ? m_window->hint() : nullptr;
    return label && !label->isHidden() ? 1 : 0;
}

void Strobe::setMainWindow(QWidget *window)
{
    m_mainWindow = window;
}

void Strobe::activateMainWindow()
{
    // Once the strobe is gone some window managers give the keyboard to the
    // root window, or to whatever is under the pointer.
    if (m_mainWindow && m_mainWindow->isVisible())
        m_mainWindow->activateWindow();
}

bool Strobe::isLoaded() const
{
    return !m_window.isNull();
}

QWidget *Strobe::window() const
{
    return m_window;
}

QLabel *Strobe::hint() const
{
    return m_window ? m_window->hint() : nullptr;
}

timing::IntervalTimer *Strobe::stepTimer() const
{
    return m_window ? &m_window->stepTimer() : nullptr;
}

StrobeWindow &Strobe::loadedWindow() const
{
    if (!m_window)
        throw objectRequired();
    return *m_window;
}

void Strobe::setBackColor(qint32 value)
{
    StrobeWindow &window = loadedWindow();
    window.setColor(layouts::toQColor(value, window.palette()));
    m_backColor = value;
}

void Strobe::setFlashColor(qsizetype index, qint32 value)
{
    if (index < 0 || index >= m_flashColors.size())
        throw errors::Failure(QStringLiteral("Subscript out of range"));
    m_flashColors[index] = value;
}

void Strobe::setInterval(int milliseconds)
{
    loadedWindow().stepTimer().setInterval(milliseconds);
}

void Strobe::applyOptions()
{
    namespace line = report::applyOptions;
    errors::Guard guard(m_box, errors::handlerLocation(report::kWindow, line::kHandler));
    guard.step(line::kSetIcon, [&] { loadedWindow().setWindowIcon(layouts::applicationIcon()); });
    if (guard.test(line::kIsClassic, [&] { return m_options.styleIndex() == 0; })) {
        guard.step(line::kTwoColours, [&] { m_flashColors = QList<qint32>(2, 0); });
        guard.step(line::kClassicBlack, [&] { setFlashColor(0, layouts::ColorValue::Black); });
        guard.step(line::kClassicWhite, [&] { setFlashColor(1, layouts::ColorValue::White); });
        guard.step(line::kBlackBackground, [&] { setBackColor(layouts::ColorValue::Black); });
    } else if (guard.test(line::kIsRandom, [&] { return m_options.styleIndex() == 1; })) {
        guard.step(line::kSixColours, [&] { m_flashColors = QList<qint32>(6, 0); });
        guard.step(line::kRandomRed, [&] { setFlashColor(0, 0x0000FF); });
        guard.step(line::kRandomGreen, [&] { setFlashColor(1, 0x00FF00); });
        guard.step(line::kRandomBlue, [&] { setFlashColor(2, 0xFF0000); });
        guard.step(line::kRandomCyan, [&] { setFlashColor(3, 0xFFFF00); });
        guard.step(line::kRandomMagenta, [&] { setFlashColor(4, 0xFF00FF); });
        guard.step(line::kRandomYellow, [&] { setFlashColor(5, 0x00FFFF); });
    }
    guard.step(line::kFirstColour, [&] { m_colorIndex = 0; });
    if (guard.test(line::kIsSlow, [&] { return m_options.speedIndex() == 0; }))
        guard.step(line::kSlowInterval, [&] { setInterval(200); });
    else if (guard.test(line::kIsMedium, [&] { return m_options.speedIndex() == 1; }))
        guard.step(line::kMediumInterval, [&] { setInterval(150); });
    else if (guard.test(line::kIsFast, [&] { return m_options.speedIndex() == 2; }))
        guard.step(line::kFastInterval, [&] { setInterval(100); });
    guard.step(line::kStartTimer, [&] { loadedWindow().stepTimer().setEnabled(true); });
    guard.step(line::kHidingInactive, [&] { m_hideActive = false; });
    guard.step(line::kHidingAtStart, [&] { m_hideStep = 0; });
}

void Strobe::step()
{
    if (!m_window)
        return;
    if (m_tickCount > 44) {
        m_window->hint()->setVisible(false);
        sayTimerClock();
    } else {
        ++m_tickCount;
    }
    if (m_colorIndex > m_flashColors.size() - 1) {
        m_colorIndex = 0;
    } else {
        setBackColor(m_flashColors.at(m_colorIndex));
        ++m_colorIndex;
    }
}

void Strobe::shrinkHintWidth()
{
    QLabel *label = loadedWindow().hint();
    label->resize(0, label->height());
}

void Strobe::shrinkHintHeight()
{
    QLabel *label = loadedWindow().hint();
    label->resize(label->width(), 0);
}

void Strobe::handleKey(qint16 &keyCode)
{
    namespace line = report::handleKey;
    errors::Guard guard(m_box, errors::handlerLocation(report::kWindow, line::kHandler));
    if (guard.test(line::kIsOtherKey, [&] { return !isHideKey(keyCode); })) {
        guard.step(line::kOtherKeyInactive, [&] { m_hideActive = false; });
        guard.step(line::kOtherKeyAtStart, [&] { m_hideStep = 0; });
    }
    if (guard.test(line::kIsEscape, [&] { return keyCode == VirtualKey::Escape; })) {
        guard.step(line::kClose, [&] { unload(); });
    } else if (guard.test(line::kIsH, [&] { return keyCode == VirtualKey::H; })) {
        if (guard.test(line::kHWhenIdle, [&] { return idle(); })) {
            guard.step(line::kHActive, [&] { m_hideActive = true; });
            guard.step(line::kHAdvance, [&] { m_hideStep = 1; });
        } else {
            guard.step(line::kHInactive, [&] { m_hideActive = false; });
            guard.step(line::kHAtStart, [&] { m_hideStep = 0; });
        }
        guard.step(line::kHSwallow, [&] { keyCode = VirtualKey::None; });
    } else if (guard.test(line::kIsI, [&] { return keyCode == VirtualKey::I; })) {
        if (guard.test(line::kIAfterH, [&] { return inState(1); })) {
            guard.step(line::kIActive, [&] { m_hideActive = true; });
            guard.step(line::kIAdvance, [&] { m_hideStep = 2; });
        } else {
            guard.step(line::kIInactive, [&] { m_hideActive = false; });
            guard.step(line::kIAtStart, [&] { m_hideStep = 0; });
        }
        guard.step(line::kISwallow, [&] { keyCode = VirtualKey::None; });
    } else if (guard.test(line::kIsD, [&] { return keyCode == VirtualKey::D; })) {
        if (guard.test(line::kDAfterI, [&] { return inState(2); })) {
            guard.step(line::kDActive, [&] { m_hideActive = true; });
            guard.step(line::kDAdvance, [&] { m_hideStep = 3; });
        } else {
            guard.step(line::kDInactive, [&] { m_hideActive = false; });
            guard.step(line::kDAtStart, [&] { m_hideStep = 0; });
        }
        guard.step(line::kDSwallow, [&] { keyCode = VirtualKey::None; });
    } else if (guard.test(line::kIsE, [&] { return keyCode == VirtualKey::E; })) {
        if (guard.test(line::kEAfterD, [&] { return inState(3); })) {
            if (guard.test(line::kHintHasSize, [&] {
                    const QLabel *label = loadedWindow().hint();
                    return label->width() != 0 && label->height() != 0;
                })) {
                if (guard.test(line::kNotMinimized,
                               [&] { return !loadedWindow().isMinimized(); })) {
                    guard.step(line::kHintNoWidth, [&] { shrinkHintWidth(); });
                    guard.step(line::kHintNoHeight, [&] { shrinkHintHeight(); });
                }
            }
            guard.step(line::kEInactive, [&] { m_hideActive = false; });
            guard.step(line::kEAtStart, [&] { m_hideStep = 0; });
        }
        guard.step(line::kESwallow, [&] { keyCode = VirtualKey::None; });
    }
}

} // namespace strobe
