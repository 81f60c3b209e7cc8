#include "timing/tickgrid.h"

namespace timing {

void TickGrid::start(Micros now, Micros interval)
{
    m_start = now;
    m_interval = interval;
    m_reached = 0;
}

TickGrid::Due TickGrid::check(Micros now)
{
    Due due;
    const qint64 reached = now < m_start ? 0 : (now - m_start) / m_interval;
    if (reached > m_reached) {
        due.tick = true;
        due.skipped = reached - m_reached - 1;
        m_reached = reached;
    }
    due.untilNext = m_start + (m_reached + 1) * m_interval - now;
    return due;
}

} // namespace timing
