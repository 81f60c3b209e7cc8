#include "idle/idleways.h"

#include <windows.h>

namespace idle {

namespace {

// Tells Windows that the display and the system are in use for as long as it
// is held. The state belongs to the GUI thread and ends with it.
class ExecutionStateHold final : public strobe::IdleInhibitor
{
public:
    void inhibit(QWidget &) override
    {
        SetThreadExecutionState(ES_CONTINUOUS | ES_DISPLAY_REQUIRED | ES_SYSTEM_REQUIRED);
    }

    void release() override { SetThreadExecutionState(ES_CONTINUOUS); }
};

} // namespace

std::unique_ptr<strobe::IdleInhibitor> makeExecutionStateHold()
{
    return std::make_unique<ExecutionStateHold>();
}

} // namespace idle
