#pragma once

#include "strobe/realtime.h"
#include "strobe/stepper.h"

#include <QtGlobal>

#include <atomic>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace strobe {

// A thread that waits on an interval timer's file descriptor and, at each
// expiry however many deadlines passed, runs a stepper and counts the step. A
// stepper with a clock of its own may move each step off the expiry, onto that
// clock.
// The window's thread reads the count when it needs it and is woken only at
// the count it asked for, so that a step wakes one thread, not two. The thread
// asks for real-time priority as soon as it starts, steps at once whatever the
// answer, and gives the priority up when it ends.
class StepThread final
{
public:
    // Null when the system refuses the thread or its eventfd.
    static std::unique_ptr<StepThread> start(int timerFd, std::unique_ptr<Stepper> stepper);
    // The same, with the scheduling and the system bus given.
    static std::unique_ptr<StepThread> start(int timerFd, std::unique_ptr<Stepper> stepper,
                                             std::shared_ptr<ThreadScheduling> scheduling,
                                             std::string busAddress);
    // Stops and joins the thread, which never waits for the bus.
    ~StepThread();
    Q_DISABLE_COPY_MOVE(StepThread)

    // Steps made so far.
    quint64 steps() const { return m_steps.load(); }
    // Makes reportFd() readable once, as soon as steps() reaches count; an
    // earlier request that was not met yet is replaced.
    void reportAt(quint64 count);
    // Readable once a report is due; reading 8 bytes clears it.
    int reportFd() const { return m_reportFd; }
    // What the thread has so far, once it asked: a grant from RealtimeKit
    // comes later.
    std::optional<ThreadPriority> priority() const;
    // What the stepper tells of its own clock.
    double refreshRate() const { return m_stepper->refreshRate(); }
    quint64 lateSteps() const { return m_stepper->lateSteps(); }

private:
    StepThread(int timerFd, int stopFd, int reportFd, std::unique_ptr<Stepper> stepper,
               std::shared_ptr<ThreadScheduling> scheduling, std::string busAddress);
    void run();
    // Whichever thread takes the request due at made writes the report.
    void reportIfDue(quint64 made);
    Stepper::TimerGrid timerGrid() const;
    bool timerExpired();
    void step();

    int m_timerFd;
    int m_stopFd;
    int m_reportFd;
    std::unique_ptr<Stepper> m_stepper;
    std::atomic<quint64> m_steps{0};
    std::atomic<quint64> m_reportAt{std::numeric_limits<quint64>::max()};
    RaisedPriority m_priority;
    std::thread m_thread;
};

} // namespace strobe
