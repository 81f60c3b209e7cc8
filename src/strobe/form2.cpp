#include "strobe/form2.h"

#include "errors/failure.h"
#include "errors/guard.h"
#include "errors/report.h"
#include "layouts/applicationicon.h"
#include "layouts/colorvalue.h"
#include "strobe/currentdesktop.h"
#include "strobe/idleinhibitor.h"
#include "strobe/intervaltimer.h"
#include "strobe/optionsource.h"
#include "strobe/strobewindow.h"
#include "strobe/virtualkey.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

namespace strobe {

namespace {

bool isHideKey(qint16 keyCode)
{
    return keyCode == VirtualKey::H || keyCode == VirtualKey::I || keyCode == VirtualKey::D
           || keyCode == VirtualKey::E;
}

errors::Failure objectRequired()
{
    return errors::Failure(QStringLiteral("Object required"));
}

} // namespace

Form2::Form2(errors::MessageBox &box, const OptionSource &options, IdleInhibitor &idle,
             QObject *parent)
    : QObject(parent)
    , m_box(box)
    , m_options(options)
    , m_idle(idle)
    , m_backColor(layouts::ColorValue::ButtonFace)
{}

Form2::~Form2()
{
    Unload();
    for (const QPointer<StrobeWindow> &closing : std::as_const(m_closing))
        delete closing.data();
}

void Form2::Show(QScreen *screen)
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

void Form2::load()
{
    m_window = new StrobeWindow(
        [this](qint16 &keyCode) {
            followSteps();
            Form_KeyDown(keyCode);
        },
        [this] { Unload(); });
    connect(&m_window->Timer1(), &IntervalTimer::Timer, this, &Form2::Timer1_Timer);
    connect(&m_window->Timer1(), &IntervalTimer::Stepped, this, &Form2::followSteps);
    m_backColor = layouts::ColorValue::ButtonFace;
    m_window->setColor(layouts::toQColor(m_backColor, m_window->palette()));
    // Every opening tells the user how to get out again for its own first ticks.
    m_tickCount = 0;
    Form_Load();
}

void Form2::Unload()
{
    if (!m_window)
        return;
    followSteps();
    StrobeWindow *window = m_window;
    m_window = nullptr;
    window->detach();
    window->disconnect(this);
    window->Timer1().disconnect(this);
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
// fill the window. This thread then runs Timer1_Timer for those steps only
// when it has to: for the hint, at a key and at closing.
void Form2::stepOnTimerThread()
{
    // A timer without a speed never ticks, and needs no thread.
    if (!m_window || !m_window->Timer1().isArmed())
        return;
    QList<QColor> colours;
    colours.reserve(m_flashColors.size());
    for (qint32 value : std::as_const(m_flashColors))
        colours.append(layouts::toQColor(value, m_window->palette()));
    if (m_window->stepOnTimerThread(colours, m_colorIndex))
        m_window->Timer1().reportAfter(ticksUntilHint());
}

void Form2::followSteps()
{
    if (!m_window)
        return;
    catchUp(m_window->Timer1().takeSteps());
    if (m_window)
        m_window->Timer1().reportAfter(ticksUntilHint());
}

void Form2::catchUp(quint64 ticks)
{
    // Once the hint is gone and the colours went round once, every further
    // round ends in the same state: the ticks run here stay few however long
    // the strobe ran.
    const quint64 round = static_cast<quint64>(m_flashColors.size()) + 1;
    const quint64 settled = kTicksToHint + round;
    if (ticks > settled)
        ticks = settled + (ticks - settled) % round;
    for (; ticks > 0 && m_window; --ticks)
        Timer1_Timer();
}

quint64 Form2::ticksUntilHint() const
{
    // Timer1_Timer counts 45 ticks, then hides the hint at every tick after.
    if (m_tickCount <= 44)
        return static_cast<quint64>(kTicksToHint - m_tickCount);
    const QLabel *label = m_window ? m_window->Label1() : nullptr;
    return label && !label->isHidden() ? 1 : 0;
}

void Form2::setMainWindow(QWidget *window)
{
    m_mainWindow = window;
}

void Form2::activateMainWindow()
{
    // Once the strobe is gone some window managers give the keyboard to the
    // root window, or to whatever is under the pointer.
    if (m_mainWindow && m_mainWindow->isVisible())
        m_mainWindow->activateWindow();
}

bool Form2::isLoaded() const
{
    return !m_window.isNull();
}

QWidget *Form2::window() const
{
    return m_window;
}

QLabel *Form2::Label1() const
{
    return m_window ? m_window->Label1() : nullptr;
}

IntervalTimer *Form2::Timer1() const
{
    return m_window ? &m_window->Timer1() : nullptr;
}

StrobeWindow &Form2::loadedWindow() const
{
    if (!m_window)
        throw objectRequired();
    return *m_window;
}

void Form2::setBackColor(qint32 value)
{
    StrobeWindow &window = loadedWindow();
    window.setColor(layouts::toQColor(value, window.palette()));
    m_backColor = value;
}

void Form2::setFlashColor(qsizetype index, qint32 value)
{
    if (index < 0 || index >= m_flashColors.size())
        throw errors::Failure(QStringLiteral("Subscript out of range"));
    m_flashColors[index] = value;
}

void Form2::setInterval(int milliseconds)
{
    loadedWindow().Timer1().setInterval(milliseconds);
}

void Form2::Form_Load()
{
    errors::Guard guard(m_box, errors::handlerLocation("Form2", "Form_Load"));
    guard.step(100, [&] { loadedWindow().setWindowIcon(layouts::applicationIcon()); });
    if (guard.test(102, [&] { return m_options.styleIndex() == 0; })) {
        guard.step(104, [&] { m_flashColors = QList<qint32>(2, 0); });
        guard.step(106, [&] { setFlashColor(0, layouts::ColorValue::Black); });
        guard.step(108, [&] { setFlashColor(1, layouts::ColorValue::White); });
        guard.step(110, [&] { setBackColor(layouts::ColorValue::Black); });
    } else if (guard.test(112, [&] { return m_options.styleIndex() == 1; })) {
        guard.step(114, [&] { m_flashColors = QList<qint32>(6, 0); });
        guard.step(116, [&] { setFlashColor(0, 0x0000FF); });
        guard.step(118, [&] { setFlashColor(1, 0x00FF00); });
        guard.step(120, [&] { setFlashColor(2, 0xFF0000); });
        guard.step(122, [&] { setFlashColor(3, 0xFFFF00); });
        guard.step(124, [&] { setFlashColor(4, 0xFF00FF); });
        guard.step(126, [&] { setFlashColor(5, 0x00FFFF); });
    }
    guard.step(128, [&] { m_colorIndex = 0; });
    if (guard.test(130, [&] { return m_options.speedIndex() == 0; }))
        guard.step(132, [&] { setInterval(200); });
    else if (guard.test(134, [&] { return m_options.speedIndex() == 1; }))
        guard.step(136, [&] { setInterval(150); });
    else if (guard.test(138, [&] { return m_options.speedIndex() == 2; }))
        guard.step(140, [&] { setInterval(100); });
    guard.step(142, [&] { loadedWindow().Timer1().setEnabled(true); });
    guard.step(144, [&] { m_hideActive = false; });
    guard.step(146, [&] { m_hideStep = 0; });
}

void Form2::Timer1_Timer()
{
    if (!m_window)
        return;
    if (m_tickCount > 44)
        m_window->Label1()->setVisible(false);
    else
        ++m_tickCount;
    if (m_colorIndex > m_flashColors.size() - 1) {
        m_colorIndex = 0;
    } else {
        setBackColor(m_flashColors.at(m_colorIndex));
        ++m_colorIndex;
    }
}

void Form2::shrinkLabelWidth()
{
    QLabel *label = loadedWindow().Label1();
    label->resize(0, label->height());
}

void Form2::shrinkLabelHeight()
{
    QLabel *label = loadedWindow().Label1();
    label->resize(label->width(), 0);
}

void Form2::Form_KeyDown(qint16 &keyCode)
{
    errors::Guard guard(m_box, errors::handlerLocation("Form2", "Form_KeyDown"));
    if (guard.test(100, [&] { return !isHideKey(keyCode); })) {
        guard.step(102, [&] { m_hideActive = false; });
        guard.step(104, [&] { m_hideStep = 0; });
    }
    if (guard.test(106, [&] { return keyCode == VirtualKey::Escape; })) {
        guard.step(108, [&] { Unload(); });
    } else if (guard.test(110, [&] { return keyCode == VirtualKey::H; })) {
        if (guard.test(112, [&] { return idle(); })) {
            guard.step(114, [&] { m_hideActive = true; });
            guard.step(116, [&] { m_hideStep = 1; });
        } else {
            guard.step(118, [&] { m_hideActive = false; });
            guard.step(120, [&] { m_hideStep = 0; });
        }
        guard.step(122, [&] { keyCode = VirtualKey::None; });
    } else if (guard.test(124, [&] { return keyCode == VirtualKey::I; })) {
        if (guard.test(126, [&] { return inState(1); })) {
            guard.step(128, [&] { m_hideActive = true; });
            guard.step(130, [&] { m_hideStep = 2; });
        } else {
            guard.step(132, [&] { m_hideActive = false; });
            guard.step(134, [&] { m_hideStep = 0; });
        }
        guard.step(136, [&] { keyCode = VirtualKey::None; });
    } else if (guard.test(138, [&] { return keyCode == VirtualKey::D; })) {
        if (guard.test(140, [&] { return inState(2); })) {
            guard.step(142, [&] { m_hideActive = true; });
            guard.step(144, [&] { m_hideStep = 3; });
        } else {
            guard.step(146, [&] { m_hideActive = false; });
            guard.step(148, [&] { m_hideStep = 0; });
        }
        guard.step(150, [&] { keyCode = VirtualKey::None; });
    } else if (guard.test(152, [&] { return keyCode == VirtualKey::E; })) {
        if (guard.test(154, [&] { return inState(3); })) {
            if (guard.test(156, [&] {
                    const QLabel *label = loadedWindow().Label1();
                    return label->width() != 0 && label->height() != 0;
                })) {
                if (guard.test(158, [&] { return !loadedWindow().isMinimized(); })) {
                    guard.step(160, [&] { shrinkLabelWidth(); });
                    guard.step(162, [&] { shrinkLabelHeight(); });
                }
            }
            guard.step(164, [&] { m_hideActive = false; });
            guard.step(166, [&] { m_hideStep = 0; });
        }
        guard.step(168, [&] { keyCode = VirtualKey::None; });
    }
}

} // namespace strobe
