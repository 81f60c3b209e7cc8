#pragma once

#include <QLoggingCategory>

namespace timing {

// What the strobe's steps follow, the display's refreshes or the timer, and
// steps shown after their refresh. Only warnings are on by default.
Q_DECLARE_LOGGING_CATEGORY(lcFrames)

// Says on the window's thread what the steps of one run follow, whenever the
// window's thread hears from the step thread and when the run ends, and the
// steps shown after their refresh: at the first, the second, the fourth ... of
// them, so that a busy machine does not fill the log.
class PacingLog final
{
public:
    // What the run's pacer tells now: the rate of the clock it follows (0 for
    // the timer) and its late steps so far.
    void tell(double refreshRate, quint64 lateSteps);
    // The run ends, telling this last; the next one says again what it
    // follows, and its late steps count on from these.
    void endRun(double refreshRate, quint64 lateSteps);

private:
    quint64 m_lateBefore = 0;
    quint64 m_nextLateReport = 1;
    double m_refreshRate = 0;
    // Each run says once which it follows, the timer too.
    bool m_said = false;
};

} // namespace timing
