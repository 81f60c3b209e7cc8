#pragma once

#include "strobe/idleinhibitor.h"

#include <functional>
#include <memory>

class QObject;

namespace idle {

// One way each of keeping the screen awake; null where this build or the
// running session has none. They are created with the application running.
std::unique_ptr<strobe::IdleInhibitor> makeScreenSaverServiceHold();
std::unique_ptr<strobe::IdleInhibitor> makeXServerSaverHold();
std::unique_ptr<strobe::IdleInhibitor> makeWaylandIdleHold();
std::unique_ptr<strobe::IdleInhibitor> makeExecutionStateHold();
std::unique_ptr<strobe::IdleInhibitor> makeXScreenSaverCommandHold();

// Asks, without waiting, whether anything owns the screen saver service on the
// session bus; answered later on context's thread, or at once (false) where
// there is no session bus. A bus that does not answer counts as no owner.
void askScreenSaverServiceOwned(QObject &context, std::function<void(bool owned)> answer);

} // namespace idle
