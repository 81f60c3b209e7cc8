#include "intervaltimer.h"

#include "failure.h"

#include <QTimerEvent>

namespace strobe {

namespace {

int wholeMillisecondsUpTo(TickGrid::Duration duration)
{
    using std::chrono::milliseconds;
    const auto ms = std::chrono::ceil<milliseconds>(duration).count();
    return static_cast<int>(qMax<qint64>(ms, 1));
}

} // namespace

IntervalTimer::IntervalTimer(QObject *parent, Clock clock)
    : QObject(parent)
    , m_clock(std::move(clock))
{}

IntervalTimer::~IntervalTimer() = default;

IntervalTimer::Clock IntervalTimer::steadyClock()
{
    return [] {
        return std::chrono::duration_cast<TickGrid::Duration>(
            std::chrono::steady_clock::now().time_since_epoch());
    };
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

void IntervalTimer::restart()
{
    m_timer.stop();
    m_realigning = false;
    // A Qt timer of 0 ms fires on every pass of the event loop; ours never does.
    if (!m_enabled || m_interval == 0)
        return;
    m_grid.start(m_clock(), std::chrono::milliseconds(m_interval));
    m_timer.start(m_interval, Qt::PreciseTimer, this);
}

void IntervalTimer::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_timer.timerId()) {
        QObject::timerEvent(event);
        return;
    }
    const TickGrid::Due due = m_grid.check(m_clock());
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
        Q_EMIT Timer();
}

} // namespace strobe
