#include "kerneltimer.h"

#include <QSocketNotifier>

#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdint>

namespace strobe {

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
    {
        m_notifier->setEnabled(false);
        connect(m_notifier, &QSocketNotifier::activated, this, &TimerFd::readExpirations);
    }

    ~TimerFd() override
    {
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
            return false;
        }
        m_notifier->setEnabled(true);
        return true;
    }

    void stop() override
    {
        m_notifier->setEnabled(false);
        const itimerspec off{};
        timerfd_settime(m_fd, 0, &off, nullptr);
    }

private:
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
    QSocketNotifier *m_notifier;
};

} // namespace

KernelTimer *KernelTimer::create(QObject *parent)
{
    const int fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    return fd >= 0 ? new TimerFd(fd, parent) : nullptr;
}

} // namespace strobe
