#include "idle/systemidleinhibitor.h"

#include "idle/idleways.h"

namespace idle {

SystemIdleInhibitor::SystemIdleInhibitor() = default;

SystemIdleInhibitor::~SystemIdleInhibitor()
{
    release();
}

void SystemIdleInhibitor::inhibit(QWidget &window)
{
    if (m_held)
        return;
    // The session is looked at only once the strobe first opens.
    if (!m_looked) {
        m_looked = true;
        for (auto make :
             {makeScreenSaverServiceHold, makeXServerSaverHold, makeXScreenSaverCommandHold,
              makeWaylandIdleHold, makeExecutionStateHold}) {
            if (std::unique_ptr<strobe::IdleInhibitor> way = make())
                m_ways.push_back(std::move(way));
        }
    }
    m_held = true;
    for (const auto &way : m_ways)
        way->inhibit(window);
}

void SystemIdleInhibitor::release()
{
    if (!m_held)
        return;
    m_held = false;
    for (const auto &way : m_ways)
        way->release();
}

} // namespace idle
