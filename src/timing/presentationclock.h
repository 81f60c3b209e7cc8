#pragma once

#include "timing/frameclock.h"
#include "timing/monotonic.h"

#include <QtGlobal>

namespace timing {

// Nanoseconds, as a compositor stamps its presentations.
using Nanos = qint64;

// One presentation as a compositor reports it: the time on its clock, the
// refresh period it gives (0: unknown), and its sequence number, which some
// count refreshes, some frames shown, and some leave at 0.
struct PresentationReport
{
    bool monotonicClock = true;
    Nanos time = 0;
    Nanos period = 0;
    quint64 sequence = 0;
};

// The compositor's clock read between two readings of the monotonic one, all
// taken together by the caller.
struct ClockReadings
{
    Nanos monotonicBefore = 0;
    Nanos other = 0;
    Nanos monotonicAfter = 0;
};

// Turns a compositor's presentation reports into refreshes for FrameClock:
// microseconds on the monotonic clock, and a count of refreshes. Where the
// sequence number does not count refreshes (always 0, or one a frame while
// frames skip refreshes), the count is taken from the time since the last
// report and the period; from the last report rather than the first, so that a
// period given a little off does not add up over a long run.
class PresentationClock final
{
public:
    // Readings further apart than this give no offset: the caller was held
    // up between them.
    static constexpr Nanos kWidestReading = 200'000;

    // For a compositor whose clock is not the monotonic one, and again from
    // time to time, as the two clocks drift apart. False where the readings
    // are too far apart to tell the offset.
    bool measureOffset(ClockReadings readings);
    // Forgets the reports and the offset: a new surface, another output.
    void clear();

    // The refresh a report tells of; false where it tells of none: another
    // clock whose offset is not known, no sequence and no period, a report
    // of the same refresh as the last or an earlier one.
    bool normalise(const PresentationReport &report, Refresh &refresh);
    // Whether the count is taken from times rather than sequence numbers.
    bool countsFromTime() const { return m_fromTime; }

private:
    quint64 count(const PresentationReport &report, Nanos time);

    bool m_hasOffset = false;
    Nanos m_offset = 0;
    bool m_hasLast = false;
    bool m_fromTime = false;
    Nanos m_lastTime = 0;
    quint64 m_lastSequence = 0;
    quint64 m_lastMsc = 0;
};

} // namespace timing
