#pragma once

#include "strobe/frameclock.h"
#include "strobe/stepper.h"

#include <QtGlobal>

#include <xcb/xcb.h>

#include <atomic>
#include <memory>

namespace strobe {

// Puts the strobe's steps on the refreshes of the display a window is on, as
// the X server's Present extension reports them. The timer's grid stays the
// grid: once the refresh clock is known, each step is shown right after the
// refresh that begins nearest to its deadline, so that every step lasts a whole
// number of refreshes; while it is not known (no usable reports, a window no
// display shows, reports that stopped coming), each step is shown at its
// deadline. While a step waits for its refresh, the step thread waits for the
// server alone: one wake-up a step.
//
// Runs on the step thread, on that thread's own connection: bounded work and no
// allocation per step. Times are microseconds on the monotonic clock, the clock
// the server stamps refreshes with.
class PresentPacer final
{
public:
    using TimerGrid = Stepper::TimerGrid;

    // Null where the server behind connection, which the caller keeps, has no
    // Present extension.
    static std::unique_ptr<PresentPacer> create(xcb_connection_t *connection);
    ~PresentPacer();
    Q_DISABLE_COPY_MOVE(PresentPacer)

    // Where the steps are shown; a new window starts the clock over.
    void follow(xcb_window_t window);

    bool followsTimer() const { return m_waiting < 0; }
    int timeout(qint64 now) const;
    // The timer passed a deadline: whether to show its step now.
    bool deadlinePassed(TimerGrid grid, qint64 now);
    // An event read from the connection: whether to show a step now, right
    // after its refresh.
    bool handle(const xcb_generic_event_t &event, TimerGrid grid, qint64 now);
    // A step whose refresh was not reported a whole interval after it is given
    // up, and the timer's grid takes over until the clock is known again.
    void giveUpIfLost(qint64 now);

    // For the window's thread: the display's rate while the clock is known
    // (0 otherwise), and the steps shown late so far.
    double refreshRate() const { return m_rate.load(std::memory_order_relaxed); }
    quint64 lateSteps() const { return m_late.load(std::memory_order_relaxed); }

private:
    PresentPacer(xcb_connection_t *connection, quint8 presentOpcode);
    // Follows the timer's grid; false when it is not the one followed so far.
    bool sameGrid(TimerGrid grid, bool deadlineStep);
    qint64 deadline(qint64 index) const;
    void schedule(qint64 index);
    void ask(quint32 serial, quint64 msc);
    void startOver();
    // How many refreshes ahead to ask for the next report while the clock is
    // learnt.
    quint64 calibrationStride(Refresh reported);
    void publish();

    xcb_connection_t *m_connection;
    quint8 m_presentOpcode;
    xcb_window_t m_window = 0;
    quint32 m_events = 0;
    SteadyFrameClock m_clock;
    FrameGrid m_grid;
    // Step index i is due at m_gridStart + i * m_interval.
    qint64 m_gridStart = 0;
    qint64 m_interval = 0;
    // The last step shown, and the one waiting for its refresh (-1: none),
    // given up at m_giveUpAt.
    qint64 m_shown = -1;
    qint64 m_waiting = -1;
    qint64 m_giveUpAt = 0;
    bool m_calibrating = false;
    int m_calibrationReports = 0;
    Refresh m_lastReport;
    std::atomic<double> m_rate{0};
    std::atomic<quint64> m_late{0};
};

} // namespace strobe
