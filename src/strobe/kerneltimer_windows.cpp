#include "kerneltimer.h"

#include "tickgrid.h"

#include <QWinEventNotifier>

#include <qt_windows.h>
// Needs the types of windows.h.
#include <mmsystem.h>

#include <chrono>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace strobe {

namespace {

// While the timer runs the system must neither slow the process down to save
// power (EcoQoS) nor ignore its timer resolution, as Windows 11 does for a
// process whose windows have no focus: a strobe on a second monitor keeps its
// timing while the user works elsewhere. Stopping hands the choice back.
void setPowerThrottling(bool allowed)
{
    PROCESS_POWER_THROTTLING_STATE state{};
    state.Version = PROCESS_POWER_THROTTLING_CURRENT_VERSION;
    state.ControlMask = allowed ? 0
                                : PROCESS_POWER_THROTTLING_EXECUTION_SPEED
                                      | PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION;
    state.StateMask = 0;
    if (SetProcessInformation(GetCurrentProcess(), ProcessPowerThrottling, &state, sizeof state)
        || allowed)
        return;
    // Windows 10 knows only the first.
    state.ControlMask = PROCESS_POWER_THROTTLING_EXECUTION_SPEED;
    SetProcessInformation(GetCurrentProcess(), ProcessPowerThrottling, &state, sizeof state);
}

// A one-shot waitable timer aimed at each deadline of the grid in turn, in
// units of 100 ns: every expiry reads the monotonic clock and re-arms for the
// next deadline, so the grid does not depend on how the system schedules a
// periodic timer, and an early or late expiry moves no later deadline. A
// high-resolution timer (Windows 10 1803 and later) meets a deadline within a
// fraction of a millisecond; elsewhere the system timer's period is raised to
// 1 ms while the timer runs.
class WaitableTimer final : public KernelTimer
{
public:
    WaitableTimer(HANDLE handle, bool highResolution, QObject *parent)
        : KernelTimer(parent)
        , m_handle(handle)
        , m_highResolution(highResolution)
        , m_notifier(new QWinEventNotifier(handle, this))
    {
        m_notifier->setEnabled(false);
        connect(m_notifier, &QWinEventNotifier::activated, this, &WaitableTimer::signalled);
    }

    ~WaitableTimer() override
    {
        stop();
        delete m_notifier;
        CloseHandle(m_handle);
    }
    Q_DISABLE_COPY_MOVE(WaitableTimer)

    bool start(int milliseconds) override
    {
        stop();
        setPowerThrottling(false);
        m_throttlingOff = true;
        if (!m_highResolution)
            m_periodRaised = timeBeginPeriod(1) == TIMERR_NOERROR;
        m_grid.start(monotonicNow(), std::chrono::milliseconds(milliseconds));
        if (!arm(m_grid.interval())) {
            stop();
            return false;
        }
        m_notifier->setEnabled(true);
        return true;
    }

    void stop() override
    {
        m_notifier->setEnabled(false);
        CancelWaitableTimer(m_handle);
        if (m_periodRaised)
            timeEndPeriod(1);
        m_periodRaised = false;
        if (m_throttlingOff)
            setPowerThrottling(true);
        m_throttlingOff = false;
    }

private:
    bool arm(TickGrid::Duration fromNow)
    {
        using Units = std::chrono::duration<qint64, std::ratio<1, 10000000>>;
        LARGE_INTEGER due;
        // Negative: relative to now, on the interrupt clock rather than the
        // wall clock, so that setting the date moves nothing.
        due.QuadPart = -qMax<qint64>(std::chrono::ceil<Units>(fromNow).count(), 1);
        return SetWaitableTimer(m_handle, &due, 0, nullptr, nullptr, FALSE);
    }

    void signalled()
    {
        // An early wake-up only re-arms; deadlines missed entirely are dropped.
        const TickGrid::Due due = m_grid.check(monotonicNow());
        if (!arm(due.untilNext)) {
            stop();
            return;
        }
        if (due.tick)
            Q_EMIT expired();
    }

    HANDLE m_handle;
    bool m_highResolution;
    bool m_periodRaised = false;
    bool m_throttlingOff = false;
    TickGrid m_grid;
    QWinEventNotifier *m_notifier;
};

} // namespace

KernelTimer *KernelTimer::create(QObject *parent)
{
    HANDLE handle = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                           TIMER_ALL_ACCESS);
    const bool highResolution = handle != nullptr;
    if (!handle)
        handle = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
    return handle ? new WaitableTimer(handle, highResolution, parent) : nullptr;
}

} // namespace strobe
