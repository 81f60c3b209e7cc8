#pragma once

#include <QtGlobal>

#include <cstddef>
#include <vector>

namespace strobe {

// Work done at each tick on the timer's own thread, before the tick reaches
// the window's thread. That thread runs at real-time priority where the system
// allows, so step() must be short and bounded (microseconds): no allocation,
// no lock that another thread may hold, no waiting on anything but the output
// it writes.
class Stepper
{
public:
    virtual ~Stepper() = default;
    virtual void step() noexcept = 0;

    // A stepper may put its steps on a clock of its own (a display's
    // refreshes) while the timer keeps the grid. Times are microseconds on the
    // monotonic clock.
    struct TimerGrid
    {
        // The timer's next deadline and its interval; interval 0 while the
        // timer is stopped.
        qint64 nextDeadline = 0;
        qint64 interval = 0;
        // False where the deadline could only be guessed: the thread was held
        // up while it read the timer, or a deadline was due that the kernel
        // had not handled yet. The guess can be late by as long.
        bool exact = true;

        // Whether this reading is of the grid whose deadlines are start + k *
        // interval: the same interval, and a deadline within tolerance of
        // one of them, or only guessed.
        bool follows(qint64 start, qint64 gridInterval, qint64 tolerance) const
        {
            if (interval <= 0 || interval != gridInterval)
                return false;
            if (!exact)
                return true;
            const qint64 offset = (nextDeadline - start) % interval;
            return qAbs(offset) <= tolerance || qAbs(offset) >= interval - tolerance;
        }
    };

    // A descriptor to wait on besides the timer's, or -1.
    virtual int pacingFd() const noexcept { return -1; }
    // Whether to wait on the timer now. While not, the wait lasts at most
    // pacingTimeout() ms (-1: no limit).
    virtual bool followsTimer() const noexcept { return true; }
    virtual int pacingTimeout(qint64 now) const noexcept
    {
        Q_UNUSED(now)
        return -1;
    }
    // The timer passed a deadline: whether to step now.
    virtual bool deadlinePassed(TimerGrid grid, qint64 now) noexcept
    {
        Q_UNUSED(grid)
        Q_UNUSED(now)
        return true;
    }
    // After every wake-up that was not the timer's alone: whether to step now.
    virtual bool paced(TimerGrid grid, qint64 now) noexcept
    {
        Q_UNUSED(grid)
        Q_UNUSED(now)
        return false;
    }
    // For other threads: the display's rate while the steps follow its
    // refreshes (0 otherwise), and the steps shown after their refresh so far.
    virtual double refreshRate() const noexcept { return 0; }
    virtual quint64 lateSteps() const noexcept { return 0; }
};

// The strobe's colour sequence as the ticks walk through it: each tick shows
// the next colour, and the tick after the last one shows nothing new and starts
// over, so the last colour stays for two ticks. Sized once; a step allocates
// nothing.
template<typename Colour> class ColourSteps final
{
public:
    ColourSteps(std::vector<Colour> colours, qsizetype next)
        : m_colours(std::move(colours))
        , m_next(next)
    {}

    // The colour this tick shows, or false for the tick that starts over.
    bool next(Colour &colour) noexcept
    {
        if (m_next < 0 || m_next > static_cast<qsizetype>(m_colours.size()) - 1) {
            m_next = 0;
            return false;
        }
        colour = m_colours[static_cast<std::size_t>(m_next)];
        ++m_next;
        return true;
    }

private:
    std::vector<Colour> m_colours;
    qsizetype m_next;
};

} // namespace strobe
