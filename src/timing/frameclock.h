#pragma once

#include "timing/monotonic.h"

#include <QtGlobal>

#include <array>

namespace timing {

// One refresh of a display as the window system reports it: its count, and
// the time it began in microseconds on the monotonic clock.
struct Refresh
{
    quint64 msc = 0;
    Micros ust = 0;
};

// A display's refresh clock, fitted to the refreshes reported lately: their
// period and phase. Reports that stray from the others (a time taken late, a
// compositor's guess) are left out of the fit. Holds a fixed number of
// reports, so adding one allocates nothing.
class FrameClock final
{
public:
    static constexpr int kCapacity = 32;
    static constexpr int kMinimum = 8;
    // The rates a display can have; anything else is no usable clock (an X
    // server without a display reports one refresh a second).
    static constexpr double kShortestPeriod = 1e6 / 600;
    static constexpr double kLongestPeriod = 1e6 / 20;

    // A report whose count does not follow the last one's starts over: the
    // window went to another display, or the display was reset.
    void add(Refresh refresh);
    void clear();

    // Whether the reports give a display's clock: enough of them, at least
    // three in four of them on one line, at a display's rate.
    bool isLocked() const { return m_locked; }
    // Microseconds per refresh.
    double period() const { return m_period; }
    double ustOf(quint64 msc) const;
    // The refresh that begins nearest to ust; exactly between two, the later.
    quint64 nearest(double ust) const;
    int reports() const { return m_count; }
    int outliers() const { return m_outliers; }

private:
    void fit();

    std::array<Refresh, kCapacity> m_reports{};
    int m_count = 0;
    int m_first = 0;
    bool m_locked = false;
    double m_period = 0;
    // The fitted line: refresh m_originMsc began at m_originUst.
    quint64 m_originMsc = 0;
    double m_originUst = 0;
    int m_outliers = 0;
};

// The clock steps are put on: a fit of every report, and a copy of it that is
// renewed only once the fit moved by a sixteenth of a refresh, now or a step
// ahead. A step whose time falls right between two refreshes would otherwise
// go to one or the other with the noise of each new report: one step a refresh
// too long and the next one a refresh too short.
class SteadyFrameClock final
{
public:
    // stepUs: how far ahead the clock is used, one step.
    void add(Refresh refresh, Micros stepUs);
    void clear();
    const FrameClock &clock() const { return m_steady; }

private:
    FrameClock m_fit;
    FrameClock m_steady;
};

// The strobe's steps on a display's refreshes. Step k of a run started at time
// start is shown from the refresh that begins nearest to start + k * step: a
// whole number of refreshes per step, the ratio's floor or ceiling where it is
// not whole, and never more than half a refresh away from the time grid. A late
// step does not move the later ones.
class FrameGrid final
{
public:
    struct Due
    {
        // Whether a step is shown now, and which one.
        bool step = false;
        qint64 index = 0;
        // Steps whose refresh passed before this one without being shown.
        qint64 skipped = 0;
        // Shown after its refresh: the report came for a later one, or it came
        // too late for the change to be in place before the next refresh.
        bool late = false;
        // Refreshes between the step's own and the one it is shown at.
        qint64 lateBy = 0;
    };

    // Times in microseconds on the monotonic clock; step > 0. The first step
    // is index 1, one step after start.
    void start(Micros startUst, Micros stepUs);
    // The refresh step index begins at.
    quint64 target(qint64 index, const FrameClock &clock) const;
    // Step index is the next to show, at the refresh returned: that refresh
    // stays the step's own, however the clock's fit moves meanwhile. Where
    // the step's time lies right between two refreshes (within an eighth of
    // one), the refresh on the same side as the last step that lay there.
    quint64 ask(qint64 index, const FrameClock &clock);
    qint64 nextIndex() const { return m_next; }
    // Refresh msc was reported, and now is the time the caller can change the
    // colour: which step to show, if any.
    Due check(Refresh reported, Micros now, const FrameClock &clock);

private:
    quint64 due(qint64 index, const FrameClock &clock) const;

    Micros m_start = 0;
    Micros m_step = 1;
    qint64 m_next = 1;
    quint64 m_asked = 0;
    bool m_hasAsked = false;
    // Where the last step asked for that lay right between two refreshes lies
    // in its refresh.
    double m_side = 0;
    bool m_hasSide = false;
};

} // namespace timing
