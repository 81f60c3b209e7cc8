#pragma once

#include "timing/monotonic.h"

namespace timing {

// Deadlines on a fixed grid, start + n * interval, so that a late tick does
// not move the later ones. Deadlines that passed without a tick are dropped:
// a check delivers at most one tick however late it comes.
class TickGrid final
{
public:
    struct Due
    {
        bool tick = false;
        // Deadlines that passed before this one without a tick of their own.
        qint64 skipped = 0;
        // Time from now to the next deadline.
        Micros untilNext = 0;
    };

    // interval > 0.
    void start(Micros now, Micros interval);
    Due check(Micros now);

    Micros interval() const { return m_interval; }

private:
    Micros m_start = 0;
    Micros m_interval = 1;
    qint64 m_reached = 0;
};

} // namespace timing
