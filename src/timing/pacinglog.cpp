#include "timing/pacinglog.h"

namespace timing {

Q_LOGGING_CATEGORY(lcFrames, "lumivex.strobe.frames", QtWarningMsg)

void PacingLog::tell(double refreshRate, quint64 lateSteps)
{
    if (!m_said || (refreshRate > 0) != (m_refreshRate > 0)) {
        if (refreshRate > 0)
            qCInfo(lcFrames, "Strobe steps follow the display's refreshes at %.2f Hz",
                   refreshRate);
        else
            qCInfo(lcFrames, "Strobe steps follow the timer");
    }
    m_refreshRate = refreshRate;
    m_said = true;
    const quint64 late = m_lateBefore + lateSteps;
    if (late >= m_nextLateReport) {
        qCWarning(lcFrames, "%llu strobe %s shown after %s refresh",
                  static_cast<unsigned long long>(late), late == 1 ? "step was" : "steps were",
                  late == 1 ? "its" : "their");
        m_nextLateReport = late * 2;
    }
}

void PacingLog::endRun(double refreshRate, quint64 lateSteps)
{
    tell(refreshRate, lateSteps);
    m_lateBefore += lateSteps;
    m_refreshRate = 0;
    m_said = false;
}

} // namespace timing
