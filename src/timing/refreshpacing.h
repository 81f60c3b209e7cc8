#pragma once

#include "timing/frameclock.h"
#include "timing/monotonic.h"
#include "timing/pacer.h"

#include <QtGlobal>

#include <atomic>

namespace timing {

// Where a pacer's refreshes come from: a window system that reports, on
// request, when a refresh of the window's display began.
class RefreshReports
{
public:
    virtual ~RefreshReports() = default;
    // Report the refresh counted msc (or, where msc already passed, the next
    // one), tagged with serial.
    virtual void requestReport(quint32 serial, quint64 msc) = 0;
};

// The policy that puts steps on a display's refreshes, apart from the window
// system that reports them. The timer's grid stays the grid: once the refresh
// clock is known, each step is shown right after the refresh that begins
// nearest to its deadline, so that every step lasts a whole number of
// refreshes; while it is not known (no usable reports, a window no display
// shows, reports that stopped coming), each step is shown at its deadline.
// While a step waits for its refresh, the step thread waits for the reports
// alone: one wake-up a step.
//
// Runs on the step thread: bounded work and no allocation per step.
class RefreshPacing final
{
public:
    using TimerGrid = Pacer::TimerGrid;

    explicit RefreshPacing(RefreshReports &reports);
    Q_DISABLE_COPY_MOVE(RefreshPacing)

    // The clock is learnt anew: for a new window, or none (shown false).
    void startOver(bool shown);

    bool followsTimer() const { return m_waiting < 0; }
    int timeout(Micros now) const;
    // The timer passed a deadline: whether to show its step now.
    bool deadlinePassed(TimerGrid grid, Micros now);
    // The refresh asked for with serial was reported: whether to show a step
    // now, right after its refresh.
    bool reported(quint32 serial, Refresh refresh, TimerGrid grid, Micros now);
    // A step whose refresh was not reported a whole interval after it is given
    // up, and the timer's grid takes over until the clock is known again.
    void giveUpIfLost(Micros now);

    // For the window's thread: the display's rate while the clock is known
    // (0 otherwise), and the steps shown late so far.
    double refreshRate() const { return m_rate.load(std::memory_order_relaxed); }
    quint64 lateSteps() const { return m_late.load(std::memory_order_relaxed); }

    // Serials: the clock's own reports, and those of step index.
    static constexpr quint32 kClockSerial = 0;
    static quint32 serialOf(qint64 index);

private:
    // Follows the timer's grid; false when it is not the one followed so far.
    bool sameGrid(TimerGrid grid, bool deadlineStep);
    Micros deadline(qint64 index) const;
    void schedule(qint64 index);
    void restart();
    // How many refreshes ahead to ask for the next report while the clock is
    // learnt.
    quint64 calibrationStride(Refresh reported);
    void publish();

    RefreshReports &m_reports;
    bool m_shown = false;
    SteadyFrameClock m_clock;
    FrameGrid m_grid;
    // Step index i is due at m_gridStart + i * m_interval.
    Micros m_gridStart = 0;
    Micros m_interval = 0;
    // The last step shown, and the one waiting for its refresh (-1: none),
    // given up at m_giveUpAt.
    qint64 m_lastShown = -1;
    qint64 m_waiting = -1;
    Micros m_giveUpAt = 0;
    bool m_calibrating = false;
    int m_calibrationReports = 0;
    Refresh m_lastReport;
    std::atomic<double> m_rate{0};
    std::atomic<quint64> m_late{0};
};

} // namespace timing
