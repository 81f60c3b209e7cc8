#pragma once

#include "timing/monotonic.h"

#include <QtGlobal>

namespace timing {

// Puts the steps on a clock of its own (a display's refreshes) while the
// timer keeps the grid: at each deadline, and at each wake-up of its own, the
// pacer says whether to step now. Runs on the step thread, under the same
// rules as a Stepper: bounded work, no allocation, no lock.
class Pacer
{
public:
    // The timer as the step thread reads it.
    struct TimerGrid
    {
        // The timer's next deadline and its interval; interval 0 while the
        // timer is stopped.
        Micros nextDeadline = 0;
        Micros interval = 0;
        // False where the deadline could only be guessed: the thread was held
        // up while it read the timer, or a deadline was due that the kernel
        // had not handled yet. The guess can be late by as long.
        bool exact = true;

        // Whether this reading is of the grid whose deadlines are start + k *
        // interval: the same interval, and a deadline within tolerance of
        // one of them, or only guessed.
        bool follows(Micros start, Micros gridInterval, Micros tolerance) const
        {
            if (interval <= 0 || interval != gridInterval)
                return false;
            if (!exact)
                return true;
            const Micros offset = (nextDeadline - start) % interval;
            return qAbs(offset) <= tolerance || qAbs(offset) >= interval - tolerance;
        }
    };

    virtual ~Pacer() = default;

    // The descriptor that brings the clock's reports, waited on besides the
    // timer's.
    virtual int descriptor() const noexcept = 0;
    // Whether to wait on the timer now. While not, the wait lasts at most
    // timeout() ms (-1: no limit).
    virtual bool followsTimer() const noexcept = 0;
    virtual int timeout(Micros now) const noexcept = 0;
    // The timer passed a deadline: whether to step now.
    virtual bool deadlinePassed(TimerGrid grid, Micros now) noexcept = 0;
    // After every wake-up that was not the timer's alone: whether to step now.
    virtual bool paced(TimerGrid grid, Micros now) noexcept = 0;

    // For other threads: the clock's rate while the steps follow it (0
    // otherwise), and the steps shown after their refresh so far.
    virtual double refreshRate() const noexcept = 0;
    virtual quint64 lateSteps() const noexcept = 0;
};

} // namespace timing
