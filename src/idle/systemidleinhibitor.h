#pragma once

#include "strobe/idleinhibitor.h"

#include <QtGlobal>

#include <memory>
#include <vector>

namespace idle {

// Every way this system offers to keep the screen awake, held and released
// together: the session's screen saver service over D-Bus, the X server's own
// saver and power saving, the Wayland compositor's idle inhibitor and, on
// Windows, the thread's execution state. A way the running session lacks does
// nothing. Nothing it holds outlives the process.
class SystemIdleInhibitor final : public strobe::IdleInhibitor
{
public:
    SystemIdleInhibitor();
    ~SystemIdleInhibitor() override;
    Q_DISABLE_COPY_MOVE(SystemIdleInhibitor)

    void inhibit(QWidget &window) override;
    void release() override;

private:
    std::vector<std::unique_ptr<strobe::IdleInhibitor>> m_ways;
    bool m_looked = false;
    bool m_held = false;
};

} // namespace idle
