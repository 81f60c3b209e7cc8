// The ways to keep the screen awake that this build does not have. Each is
// compiled in only when its own file is not (see CMakeLists.txt).
#include "idle/idleways.h"

namespace idle {

#ifndef LUMIVEX_IDLE_DBUS
std::unique_ptr<strobe::IdleInhibitor> makeScreenSaverServiceHold()
{
    return nullptr;
}

void askScreenSaverServiceOwned(QObject &, std::function<void(bool owned)> answer)
{
    answer(false);
}
#endif

#ifndef LUMIVEX_IDLE_XCB
std::unique_ptr<strobe::IdleInhibitor> makeXServerSaverHold()
{
    return nullptr;
}

std::unique_ptr<strobe::IdleInhibitor> makeXScreenSaverCommandHold()
{
    return nullptr;
}
#endif

#ifndef LUMIVEX_IDLE_WAYLAND
std::unique_ptr<strobe::IdleInhibitor> makeWaylandIdleHold()
{
    return nullptr;
}
#endif

#ifndef _WIN32
std::unique_ptr<strobe::IdleInhibitor> makeExecutionStateHold()
{
    return nullptr;
}
#endif

} // namespace idle
