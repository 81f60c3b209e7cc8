#include "timing/presentationclock.h"

#include <cmath>

namespace timing {

namespace {

// Whole refreshes in span at period.
qint64 refreshesIn(Nanos span, Nanos period)
{
    return std::llround(static_cast<double>(span) / static_cast<double>(period));
}

} // namespace

bool PresentationClock::measureOffset(ClockReadings readings)
{
    const Nanos span = readings.monotonicAfter - readings.monotonicBefore;
    if (span < 0 || span > kWidestReading)
        return false;
    m_offset = readings.monotonicBefore + span / 2 - readings.other;
    m_hasOffset = true;
    return true;
}

void PresentationClock::clear()
{
    m_hasOffset = false;
    m_offset = 0;
    m_hasLast = false;
    m_fromTime = false;
}

bool PresentationClock::normalise(const PresentationReport &report, Refresh &refresh)
{
    if (!report.monotonicClock && !m_hasOffset)
        return false;
    const Nanos time = report.monotonicClock ? report.time : report.time + m_offset;
    if (report.sequence == 0 && report.period <= 0)
        return false;
    if (m_hasLast && time - m_lastTime < report.period / 2)
        return false;
    const quint64 msc = count(report, time);
    if (m_hasLast && msc <= m_lastMsc)
        return false;
    m_hasLast = true;
    m_lastTime = time;
    m_lastSequence = report.sequence;
    m_lastMsc = msc;
    refresh = {msc, static_cast<Micros>(std::llround(static_cast<double>(time) / 1000.0))};
    return true;
}

quint64 PresentationClock::count(const PresentationReport &report, Nanos time)
{
    if (!m_hasLast || report.period <= 0)
        return report.sequence;
    const qint64 elapsed = refreshesIn(time - m_lastTime, report.period);
    if (!m_fromTime) {
        // A sequence that stands still, or moves by other than the refreshes
        // that passed, counts no refreshes: from then on time counts.
        if (report.sequence > m_lastSequence
            && report.sequence - m_lastSequence == static_cast<quint64>(elapsed))
            return report.sequence;
        m_fromTime = true;
    }
    return m_lastMsc + static_cast<quint64>(elapsed);
}

} // namespace timing
