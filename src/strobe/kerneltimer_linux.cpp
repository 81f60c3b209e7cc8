#include "strobe/kerneltimer.h"

#include "strobe/framelog.h"
#include "strobe/stepthread.h"

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
        // The thread reads the descriptor until it is joined.
        dropStepThread();
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
            setStepper(nullptr);
            return false;
        }
        m_armed = true;
        m_notifier->setEnabled(!m_steps);
        return true;
    }

    void stop() override
    {
        m_armed = false;
        m_notifier->setEnabled(false);
        const itimerspec off{};
        timerfd_settime(m_fd, 0, &off, nullptr);
    }

    bool setStepper(std::unique_ptr<Stepper> stepper) override
    {
        dropStepThread();
        const bool wanted = stepper != nullptr;
        if (wanted) {
            // Only one thread reads the descriptor at a time.
            m_notifier->setEnabled(false);
            m_steps = StepThread::start(m_fd, std::move(stepper));
        }
        if (!m_steps) {
            m_notifier->setEnabled(m_armed);
            return !wanted;
        }
        m_reportNotifier = new QSocketNotifier(m_steps->reportFd(), QSocketNotifier::Read, this);
        connect(m_reportNotifier, &QSocketNotifier::activated, this, &TimerFd::readReport);
        return true;
    }

    quint64 steps() const override { return m_stepsBefore + (m_steps ? m_steps->steps() : 0); }

    void reportAt(quint64 count) override
    {
        if (m_steps)
            m_steps->reportAt(count > m_stepsBefore ? count - m_stepsBefore : 0);
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

    void readReport()
    {
        std::uint64_t reports = 0;
        if (::read(m_steps->reportFd(), &reports, sizeof reports) != sizeof reports)
            return;
        reportPacing();
        Q_EMIT stepsReached();
    }

    // Whether the steps follow the display's refreshes, and how many were shown
    // after their refresh: whenever this thread hears from the step thread,
    // and when the strobe closes. Late steps at the first, the second, the
    // fourth ... of them, so that a busy machine does not fill the log.
    void reportPacing()
    {
        const double rate = m_steps->refreshRate();
        if (!m_pacingSaid || (rate > 0) != (m_refreshRate > 0)) {
            if (rate > 0)
                qCInfo(lcFrames, "Strobe steps follow the display's refreshes at %.2f Hz", rate);
            else
                qCInfo(lcFrames, "Strobe steps follow the timer");
        }
        m_refreshRate = rate;
        m_pacingSaid = true;
        const quint64 late = m_lateBefore + m_steps->lateSteps();
        if (late >= m_nextLateReport) {
            qCWarning(lcFrames, "%llu strobe %s shown after %s refresh",
                      static_cast<unsigned long long>(late), late == 1 ? "step was" : "steps were",
                      late == 1 ? "its" : "their");
            m_nextLateReport = late * 2;
        }
    }

    void dropStepThread()
    {
        delete m_reportNotifier;
        m_reportNotifier = nullptr;
        // The count goes on across threads, so that steps not yet taken stay.
        if (m_steps) {
            reportPacing();
            m_stepsBefore += m_steps->steps();
            m_lateBefore += m_steps->lateSteps();
            m_refreshRate = 0;
            m_pacingSaid = false;
        }
        m_steps.reset();
    }

    int m_fd;
    bool m_armed = false;
    QSocketNotifier *m_notifier;
    std::unique_ptr<StepThread> m_steps;
    QSocketNotifier *m_reportNotifier = nullptr;
    quint64 m_stepsBefore = 0;
    quint64 m_lateBefore = 0;
    quint64 m_nextLateReport = 1;
    double m_refreshRate = 0;
    // Each strobe says once which it follows, the timer too.
    bool m_pacingSaid = false;
};

} // namespace

KernelTimer *KernelTimer::create(QObject *parent)
{
    const int fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    return fd >= 0 ? new TimerFd(fd, parent) : nullptr;
}

} // namespace strobe
