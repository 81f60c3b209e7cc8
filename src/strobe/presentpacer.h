#pragma once

#include "frameclock.h"

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
// display shows, reports that stopped), each step is shown at its deadline.
//
// Runs on the step thread, on that thread's own connection: bounded work and no
// allocation per step. Times are microseconds on the monotonic clock, the clock
// the server stamps refreshes with.
class PresentPacer final
{
public:
    // Null where the server behind connection, which the caller keeps, has no
    // Present extension.
    static std::unique_ptr<PresentPacer> create(xcb_connection_t *connection);
    ~PresentPacer();
    Q_DISABLE_COPY_MOVE(PresentPacer)

    // Where the steps are shown; a new window starts the clock over.
    void follow(xcb_window_t window);
    // The timer passed expirations deadlines; its next one is nextDeadline,
    // interval after the last. Whether to show the step now, on the time grid.
    bool deadlinePassed(quint64 expirations, qint64 nextDeadline, qint64 interval, qint64 now);
    // An event read from the connection: whether to show a step now, right
    // after its refresh.
    bool handle(const xcb_generic_event_t &event, qint64 now);

    // For the window's thread: the display's rate while the clock is known
    // (0 otherwise), and the steps shown late so far.
    double refreshRate() const { return m_rate.load(std::memory_order_relaxed); }
    quint64 lateSteps() const { return m_late.load(std::memory_order_relaxed); }

private:
    // A step that waits for its refresh.
    struct Waiting
    {
        qint64 index = -1;
    };

    PresentPacer(xcb_connection_t *connection, quint8 presentOpcode);
    void ask(quint32 serial, quint64 msc);
    void startOver();
    void publish();

    xcb_connection_t *m_connection;
    quint8 m_presentOpcode;
    xcb_window_t m_window = 0;
    quint32 m_events = 0;
    FrameClock m_clock;
    FrameGrid m_grid;
    qint64 m_gridStart = 0;
    qint64 m_interval = 0;
    // Deadlines passed so far: the index of the last one; and the last step
    // shown after its refresh.
    qint64 m_index = 0;
    qint64 m_shown = 0;
    // A step's refresh may come after its deadline, by up to half a refresh,
    // while the next step is already asked for.
    Waiting m_waiting[2];
    bool m_calibrating = false;
    std::atomic<double> m_rate{0};
    std::atomic<quint64> m_late{0};
};

} // namespace strobe
