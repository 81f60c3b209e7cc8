#include "timing/kerneltimer.h"

#include "handles/descriptor.h"
#include "timing/linux/timerfdsteps.h"
#include "timing/monotonic.h"

#include <QSocketNotifier>

#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdint>

namespace timing {

namespace {

timespec timespecOf(Micros time)
{
    timespec converted{};
    converted.tv_sec = static_cast<time_t>(time / 1000000);
    converted.tv_nsec = static_cast<long>(time % 1000000) * 1000;
    return converted;
}

// timerfd: the kernel keeps the grid itself, to the nanosecond, and counts the
// deadlines that passed since the last read.
class TimerFd final : public KernelTimer
{
public:
    TimerFd(handles::Descriptor fd, QObject *parent)
        : KernelTimer(parent)
        , m_fd(std::move(fd))
        , m_notifier(new QSocketNotifier(m_fd.get(), QSocketNotifier::Read, this))
        , m_steps(new TimerFdSteps(
              m_fd.get(), [this](bool reads) { threadReads(reads); }, this))
    {
        m_notifier->setEnabled(false);
        connect(m_notifier, &QSocketNotifier::activated, this, &TimerFd::readExpirations);
    }

    ~TimerFd() override
    {
        // The thread reads the descriptor until it is joined.
        delete m_steps;
        delete m_notifier;
    }
    Q_DISABLE_COPY_MOVE(TimerFd)

    bool start(int milliseconds) override
    {
        // First deadline one interval from now, then every interval after it,
        // as an absolute time: the benchmarks read the grid off this call.
        const Micros interval = Micros(milliseconds) * 1000;
        itimerspec schedule{};
        schedule.it_interval = timespecOf(interval);
        schedule.it_value = timespecOf(monotonicMicros() + interval);
        if (timerfd_settime(m_fd.get(), TFD_TIMER_ABSTIME, &schedule, nullptr) != 0) {
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
        timerfd_settime(m_fd.get(), 0, &off, nullptr);
    }

    TimerSteps *steps() override { return m_steps; }

private:
    void threadReads(bool reads) { m_notifier->setEnabled(m_armed && !reads); }

    void readExpirations()
    {
        // Deadlines missed in between are dropped, never replayed.
        std::uint64_t expirations = 0;
        if (::read(m_fd.get(), &expirations, sizeof expirations) != sizeof expirations)
            return;
        if (expirations > 0)
            Q_EMIT expired();
    }

    handles::Descriptor m_fd;
    bool m_armed = false;
    QSocketNotifier *m_notifier;
    TimerFdSteps *m_steps;
};

} // namespace

KernelTimer *KernelTimer::create(QObject *parent)
{
    handles::Descriptor fd(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC));
    return fd.isValid() ? new TimerFd(std::move(fd), parent) : nullptr;
}

} // namespace timing
