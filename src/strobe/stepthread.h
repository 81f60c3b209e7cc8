#pragma once

#include "realtime.h"
#include "stepper.h"

#include <QtGlobal>

#include <atomic>
#include <memory>
#include <optional>
#include <thread>

namespace strobe {

// A thread that waits on an interval timer's file descriptor and, at each
// expiry however many deadlines passed, runs a stepper and counts the step on
// an eventfd for the window's thread to read. It asks for real-time priority
// as soon as it starts and gives it up when it ends.
class StepThread final
{
public:
    // Null when the system refuses the thread or its eventfd.
    static std::unique_ptr<StepThread> start(int timerFd, std::unique_ptr<Stepper> stepper);
    // Stops and joins the thread.
    ~StepThread();
    Q_DISABLE_COPY_MOVE(StepThread)

    // Readable once steps were made; reading 8 bytes gives how many.
    int stepsFd() const { return m_stepsFd; }
    // What the thread got, once it asked.
    std::optional<ThreadPriority> priority() const;

private:
    StepThread(int timerFd, int stopFd, int stepsFd, std::unique_ptr<Stepper> stepper);
    void run();

    int m_timerFd;
    int m_stopFd;
    int m_stepsFd;
    std::unique_ptr<Stepper> m_stepper;
    // -1 until the thread asked for its priority.
    std::atomic<int> m_priority{-1};
    std::thread m_thread;
};

} // namespace strobe
