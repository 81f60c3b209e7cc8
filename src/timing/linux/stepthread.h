#pragma once

#include "errors/threadaffinity.h"
#include "handles/descriptor.h"
#include "timing/linux/raisedpriority.h"
#include "timing/pacer.h"
#include "timing/stepper.h"

#include <QtGlobal>

#include <atomic>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace timing {

// A thread that waits on an interval timer's file descriptor and, at each
// expiry however many deadlines passed, runs a stepper and counts the step. A
// pacer, where there is one, may move each step off the expiry, onto a clock
// of its own.
// The window's thread reads the count when it needs it and is woken only at
// the count it asked for. The thread asks for real-time priority as soon as it
// starts, steps at once whatever the answer, and gives the priority up when it
// ends.
class StepThread final
{
public:
    // Null when the system refuses the thread or its eventfd.
    static std::unique_ptr<StepThread> start(int timerFd, std::unique_ptr<Stepper> stepper,
                                             std::unique_ptr<Pacer> pacer);
    // The same, with the scheduling and the system bus given.
    static std::unique_ptr<StepThread> start(int timerFd, std::unique_ptr<Stepper> stepper,
                                             std::unique_ptr<Pacer> pacer,
                                             std::shared_ptr<ThreadScheduling> scheduling,
                                             std::string busAddress);
    // Stops and joins the thread, which never waits for the bus.
    ~StepThread();
    Q_DISABLE_COPY_MOVE(StepThread)

    // Steps made so far.
    quint64 steps() const { return m_steps.load(); }
    // Makes wakeFd() readable once, as soon as steps() reaches count; an
    // earlier request that was not met yet is replaced.
    void wakeAt(quint64 count);
    // Readable once a wake-up is due; reading 8 bytes clears it.
    int wakeFd() const { return m_wakeFd.get(); }
    // What the thread has so far, once it asked: a grant from RealtimeKit
    // comes later.
    std::optional<ThreadPriority> priority() const;
    // What the pacer tells of its clock (nothing without one).
    double refreshRate() const { return m_pacer ? m_pacer->refreshRate() : 0; }
    quint64 lateSteps() const { return m_pacer ? m_pacer->lateSteps() : 0; }

private:
    StepThread(int timerFd, handles::Descriptor stopFd, handles::Descriptor wakeFd,
               std::unique_ptr<Stepper> stepper, std::unique_ptr<Pacer> pacer,
               std::shared_ptr<ThreadScheduling> scheduling, std::string busAddress);
    void run();
    // Whichever thread takes the request due at made writes the wake-up.
    void wakeIfDue(quint64 made);
    Pacer::TimerGrid timerGrid() const;
    bool timerExpired();
    void step();

    int m_timerFd;
    handles::Descriptor m_stopFd;
    handles::Descriptor m_wakeFd;
    std::unique_ptr<Stepper> m_stepper;
    std::unique_ptr<Pacer> m_pacer;
    std::atomic<quint64> m_steps{0};
    std::atomic<quint64> m_wakeAt{std::numeric_limits<quint64>::max()};
    RaisedPriority m_priority;
    // The thread that asks for wake-ups.
    errors::ThreadAffinity m_owner;
    std::thread m_thread;
};

} // namespace timing
