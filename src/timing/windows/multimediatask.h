#pragma once

#include <QtGlobal>

#include <qt_windows.h>

namespace timing {

// While the timer runs the system must neither slow the process down to save
// power (EcoQoS) nor ignore its timer resolution, as Windows 11 does for a
// process whose windows have no focus: a strobe on a second monitor keeps its
// timing while the user works elsewhere. Stopping hands the choice back.
void setPowerThrottling(bool allowed);

// The multimedia class scheduler (avrt.dll, Windows Vista and later) raises a
// registered thread into the real-time range for most of each period and
// leaves the rest to the other programs, as it does for media players. Where
// it is missing, or refuses, the thread runs at time-critical priority, the
// highest of its process's class. Made and destroyed on the thread it raises.
class MultimediaTask final
{
public:
    MultimediaTask();
    ~MultimediaTask();
    Q_DISABLE_COPY_MOVE(MultimediaTask)

private:
    HMODULE m_library = nullptr;
    HANDLE m_task = nullptr;
};

} // namespace timing
