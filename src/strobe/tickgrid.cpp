#include "strobe/tickgrid.h"

namespace strobe {

void TickGrid::start(Duration now, Duration interval)
{
    m_start = now;
    m_interval = interval;
    m_reached = 0;
}

TickGrid::Due TickGrid::check(Duration now)
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

} // namespace strobe
