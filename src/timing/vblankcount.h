#pragma once

#include "timing/frameclock.h"
#include "timing/monotonic.h"

#include <QtGlobal>

namespace timing {

// The refresh count of a monitor whose system gives no count, only a wait for
// its next vertical blank: each return of the wait, stamped on the monotonic
// clock, is a refresh, and a gap of about k periods between two returns is k
// refreshes. Each gap is taken from the return before, so that a period given
// a little off does not add up over a long run; a return stamped up to half a
// refresh late is still counted right.
class VblankCount final
{
public:
    enum class Result {
        // A refresh, counted.
        Counted,
        // The first refresh of a new count, from 0: the first return, or the
        // first after the period changed (the window went to another
        // monitor). A clock fitted to the count before starts over.
        Started,
        // Another return within a refresh already counted.
        Repeated,
        // A return faster than any monitor's: the wait failed or the monitor
        // sleeps, and the returns are no clock. The next one starts a count.
        Unusable,
    };

    static constexpr Micros kFastest = 1000;

    // The wait returned at time now, on a monitor whose refresh period the
    // system gives as periodUs.
    Result add(Micros now, double periodUs);
    void restart();
    // The refresh the last return that was not Repeated or Unusable counted.
    Refresh last() const { return m_last; }

private:
    Result start(Micros now, double periodUs);

    bool m_started = false;
    bool m_hasReturn = false;
    double m_period = 0;
    Micros m_lastReturn = 0;
    Refresh m_last;
};

} // namespace timing
