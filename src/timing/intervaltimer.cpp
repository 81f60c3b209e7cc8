#include "timing/intervaltimer.h"

#include "errors/failure.h"
#include "timing/kerneltimer.h"
#include "timing/timersteps.h"

#include <QTimerEvent>

#include <limits>

namespace timing {

namespace {

int wholeMillisecondsUpTo(Micros duration)
{
    return static_cast<int>(qMax<Micros>((duration + 999) / 1000, 1));
}

} // namespace

IntervalTimer::IntervalTimer(QObject *parent, Source source)
    : QObject(parent)
{
    if (source == Source::Best)
        m_kernelTimer = KernelTimer::create(this);
    if (m_kernelTimer) {
        connect(m_kernelTimer, &KernelTimer::expired, this, &IntervalTimer::ticked);
        if (TimerSteps *steps = m_kernelTimer->steps())
            connect(steps, &TimerSteps::woken, this, &IntervalTimer::woken);
    }
}

IntervalTimer::~IntervalTimer() = default;

TimerSteps *IntervalTimer::timerSteps() const
{
    return m_kernelTimer ? m_kernelTimer->steps() : nullptr;
}

void IntervalTimer::setInterval(int milliseconds)
{
    if (milliseconds < 0)
        throw errors::Failure(errors::Description::invalidPropertyValue());
    m_interval = milliseconds;
    restart();
}

void IntervalTimer::setEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    restart();
}

bool IntervalTimer::setStepper(std::unique_ptr<Stepper> stepper, std::unique_ptr<Pacer> pacer)
{
    m_owner.check();
    TimerSteps *steps = timerSteps();
    // Ticks from Qt's timer are read on this thread only.
    if (!steps || (stepper && m_timer.isActive()))
        return false;
    return steps->run(std::move(stepper), std::move(pacer));
}

quint64 IntervalTimer::takeSteps()
{
    m_owner.check();
    TimerSteps *steps = timerSteps();
    if (!steps)
        return 0;
    const quint64 made = steps->made();
    const quint64 taken = made - m_stepsTaken;
    m_stepsTaken = made;
    return taken;
}

void IntervalTimer::wakeAfter(quint64 steps)
{
    m_owner.check();
    if (TimerSteps *own = timerSteps())
        own->wakeAt(steps == 0 ? std::numeric_limits<quint64>::max() : m_stepsTaken + steps);
}

void IntervalTimer::restart()
{
    stop();
    // A Qt timer of 0 ms fires on every pass of the event loop; ours never does.
    if (!m_enabled || m_interval == 0)
        return;
    m_armed = true;
    if (!m_kernelTimer || !m_kernelTimer->start(m_interval))
        startQtTimer();
}

void IntervalTimer::stop()
{
    m_armed = false;
    m_timer.stop();
    m_realigning = false;
    if (m_kernelTimer)
        m_kernelTimer->stop();
}

void IntervalTimer::startQtTimer()
{
    m_grid.start(monotonicMicros(), Micros(m_interval) * 1000);
    m_timer.start(m_interval, Qt::PreciseTimer, this);
}

void IntervalTimer::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_timer.timerId()) {
        QObject::timerEvent(event);
        return;
    }
    const TickGrid::Due due = m_grid.check(monotonicMicros());
    // Qt keeps a repeating precise timer on its own grid until a timeout is
    // missed, then restarts it from that moment; steer back onto ours.
    if (!due.tick || due.skipped > 0) {
        m_timer.start(wholeMillisecondsUpTo(due.untilNext), Qt::PreciseTimer, this);
        m_realigning = true;
    } else if (m_realigning) {
        m_timer.start(m_interval, Qt::PreciseTimer, this);
        m_realigning = false;
    }
    if (due.tick)
        Q_EMIT ticked();
}

} // namespace timing
