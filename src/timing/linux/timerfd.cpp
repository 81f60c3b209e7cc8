#include "timing/kerneltimer.h"

#include "timing/linux/timerfdsteps.h"

#include <QSocketNotifier>

#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdint>

namespace timing {

namespace {

// timerfd: the kernel keeps the grid itself, to the nanosecond, and counts the
// deadlines that passed since the last read.
class TimerFd final : public KernelTimer
{
public:
    TimerFd(int fd, QObject *parent)
        : KernelTimer(parent)
        , m_fd(fd)
        , m_notifier(new QSocketNotifier(fd, QSocketNotifier::Read, this))
        , m_steps(new TimerFdSteps(
              fd, [this](bool reads) { threadReads(reads); }, this))
    {
        m_notifier->setEnabled(false);
        connect(m_notifier, &QSocketNotifier::activated, this, &TimerFd::readExpirations);
    }

    ~TimerFd() override
    {
        // The thread reads the descriptor until it is joined.
        delete m_steps;
        delete m_notifier;
        ::close(m_fd);
    }
    Q_DISABLE_COPY_MOVE(TimerFd)

    bool start(int milliseconds) override
    {
        // First deadline one interval from now, then every interval after it.
        timespec start{};
        clock_gettime(CLOCK_MONOTONIC, &start);
        const long long intervalNs = static_cast<long long>(milliseconds) * 1000000LL;
        const long long firstNs = start.tv_nsec + intervalNs;
        itimerspec schedule{};
        schedule.it_interval.tv_sec = static_cast<time_t>(intervalNs / 1000000000LL);
        schedule.it_interval.tv_nsec = static_cast<long>(intervalNs % 1000000000LL);
        schedule.it_value.tv_sec = start.tv_sec + static_cast<time_t>(firstNs / 1000000000LL);
        schedule.it_value.tv_nsec = static_cast<long>(firstNs % 1000000000LL);
        if (timerfd_settime(m_fd, TFD_TIMER_ABSTIME, &schedule, nullptr) != 0) {
            stop();
            // Whatever ticks instead is read on this thread.
            m_steps->run(nullptr, nullptr);
            return false;
        }
        m_armed = true;
        m_notifier->setEnabled(!m_steps->running());
        return true;
    }

    void stop() override
    {
        m_armed = false;
        m_notifier->setEnabled(false);
        const itimerspec off{};
        timerfd_settime(m_fd, 0, &off, nullptr);
    }

    TimerSteps *steps() override { return m_steps; }

private:
    void threadReads(bool reads) { m_notifier->setEnabled(m_armed && !reads); }

    void readExpirations()
    {
        // Deadlines missed in between are dropped, never replayed.
        std::uint64_t expirations = 0;
        if (::read(m_fd, &expirations, sizeof expirations) != sizeof expirations)
            return;
        if (expirations > 0)
            Q_EMIT expired();
    }

    int m_fd;
    bool m_armed = false;
    QSocketNotifier *m_notifier;
    TimerFdSteps *m_steps;
};

} // namespace

KernelTimer *KernelTimer::create(QObject *parent)
{
    const int fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    return fd >= 0 ? new TimerFd(fd, parent) : nullptr;
}

} // namespace timing
