#pragma once

#include "strobe/idleinhibitor.h"

#include <memory>

namespace idle {

// One way each of keeping the screen awake; null where this build or the
// running session has none. They are created with the application running.
std::unique_ptr<strobe::IdleInhibitor> makeScreenSaverServiceHold();
std::unique_ptr<strobe::IdleInhibitor> makeXServerSaverHold();
std::unique_ptr<strobe::IdleInhibitor> makeWaylandIdleHold();
std::unique_ptr<strobe::IdleInhibitor> makeExecutionStateHold();

} // namespace idle
