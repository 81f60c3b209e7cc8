#pragma once

#include "timing/linux/stepthread.h"
#include "timing/pacinglog.h"
#include "timing/timersteps.h"

#include <functional>
#include <memory>

class QSocketNotifier;

namespace timing {

// The steps of a timerfd, on a StepThread that reads the descriptor in place of
// the window's thread while it runs.
class TimerFdSteps final : public TimerSteps
{
    Q_OBJECT

public:
    // threadReads is told whenever the thread starts or stops reading fd, so
    // that the timer's own notifier stays off meanwhile.
    TimerFdSteps(int fd, std::function<void(bool)> threadReads, QObject *parent);
    ~TimerFdSteps() override;
    Q_DISABLE_COPY_MOVE(TimerFdSteps)

    bool run(std::unique_ptr<Stepper> stepper, std::unique_ptr<Pacer> pacer) override;
    quint64 made() const override;
    void wakeAt(quint64 count) override;

    bool running() const { return m_thread != nullptr; }

private:
    void readWake();
    void endThread();

    int m_fd;
    std::function<void(bool)> m_threadReads;
    std::unique_ptr<StepThread> m_thread;
    QSocketNotifier *m_wakeNotifier = nullptr;
    // The count goes on across threads, so that steps not yet taken stay.
    quint64 m_madeBefore = 0;
    PacingLog m_log;
};

} // namespace timing
