#include "intervaltimer.h"

#include "failure.h"

#include <QSocketNotifier>
#include <QTimerEvent>

#include <chrono>

#ifdef Q_OS_LINUX
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#endif

namespace strobe {

namespace {

TickGrid::Duration now()
{
    return std::chrono::duration_cast<TickGrid::Duration>(
        std::chrono::steady_clock::now().time_since_epoch());
}

int wholeMillisecondsUpTo(TickGrid::Duration duration)
{
    using std::chrono::milliseconds;
    const auto ms = std::chrono::ceil<milliseconds>(duration).count();
    return static_cast<int>(qMax<qint64>(ms, 1));
}

} // namespace

IntervalTimer::IntervalTimer(QObject *parent, Source source)
    : QObject(parent)
{
#ifdef Q_OS_LINUX
    if (source == Source::Best) {
        m_kernelTimer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (m_kernelTimer >= 0) {
            m_kernelNotifier = new QSocketNotifier(m_kernelTimer, QSocketNotifier::Read, this);
            m_kernelNotifier->setEnabled(false);
            connect(m_kernelNotifier, &QSocketNotifier::activated, this,
                    &IntervalTimer::kernelTimerExpired);
        }
    }
#else
    Q_UNUSED(source)
#endif
}

IntervalTimer::~IntervalTimer()
{
#ifdef Q_OS_LINUX
    if (m_kernelTimer >= 0) {
        delete m_kernelNotifier;
        ::close(m_kernelTimer);
    }
#endif
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
    stop();
    // A Qt timer of 0 ms fires on every pass of the event loop; ours never does.
    if (!m_enabled || m_interval == 0)
        return;
    m_armed = true;
    if (!startKernelTimer())
        startQtTimer();
}

void IntervalTimer::stop()
{
    m_armed = false;
    m_timer.stop();
    m_realigning = false;
#ifdef Q_OS_LINUX
    if (m_kernelTimer >= 0) {
        m_kernelNotifier->setEnabled(false);
        const itimerspec off{};
        timerfd_settime(m_kernelTimer, 0, &off, nullptr);
    }
#endif
}

bool IntervalTimer::startKernelTimer()
{
#ifdef Q_OS_LINUX
    if (m_kernelTimer < 0)
        return false;
    // The kernel keeps the grid itself: first deadline one interval from now,
    // then every interval after it, to the nanosecond.
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    const long long intervalNs = static_cast<long long>(m_interval) * 1000000LL;
    const long long firstNs = start.tv_nsec + intervalNs;
    itimerspec schedule{};
    schedule.it_interval.tv_sec = static_cast<time_t>(intervalNs / 1000000000LL);
    schedule.it_interval.tv_nsec = static_cast<long>(intervalNs % 1000000000LL);
    schedule.it_value.tv_sec = start.tv_sec + static_cast<time_t>(firstNs / 1000000000LL);
    schedule.it_value.tv_nsec = static_cast<long>(firstNs % 1000000000LL);
    if (timerfd_settime(m_kernelTimer, TFD_TIMER_ABSTIME, &schedule, nullptr) != 0)
        return false;
    m_kernelNotifier->setEnabled(true);
    return true;
#else
    return false;
#endif
}

void IntervalTimer::kernelTimerExpired()
{
#ifdef Q_OS_LINUX
    // The count says how many deadlines passed since the last read; those
    // missed are dropped, never replayed.
    std::uint64_t expirations = 0;
    if (::read(m_kernelTimer, &expirations, sizeof expirations) != sizeof expirations)
        return;
    if (expirations > 0)
        Q_EMIT Timer();
#endif
}

void IntervalTimer::startQtTimer()
{
    m_grid.start(now(), std::chrono::milliseconds(m_interval));
    m_timer.start(m_interval, Qt::PreciseTimer, this);
}

void IntervalTimer::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_timer.timerId()) {
        QObject::timerEvent(event);
        return;
    }
    const TickGrid::Due due = m_grid.check(now());
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
