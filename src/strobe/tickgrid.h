#pragma once

#include <QtGlobal>

#include <chrono>

namespace strobe {

// Deadlines on a fixed grid, start + n * interval, so that a late tick does
// not move the later ones. Deadlines that passed without a tick are dropped:
// a check delivers at most one tick however late it comes.
class TickGrid final
{
public:
    using Duration = std::chrono::nanoseconds;

    struct Due
    {
        bool tick = false;
        // Deadlines that passed before this one without a tick of their own.
        qint64 skipped = 0;
        // Time from now to the next deadline.
        Duration untilNext{};
    };

    void start(Duration now, Duration interval);
    Due check(Duration now);

    Duration interval() const { return m_interval; }

private:
    Duration m_start{};
    Duration m_interval{1};
    qint64 m_reached = 0;
};

// The monotonic clock the grids are kept on.
inline TickGrid::Duration monotonicNow()
{
    return std::chrono::duration_cast<TickGrid::Duration>(
        std::chrono::steady_clock::now().time_since_epoch());
}

} // namespace strobe
