#include "timing/kerneltimer.h"

#include "timing/tickgrid.h"
#include "timing/windows/multimediatask.h"

#include <QWinEventNotifier>

#include <qt_windows.h>
// Needs the types of windows.h.
#include <mmsystem.h>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace timing {

namespace {

// A one-shot waitable timer aimed at each deadline of the grid in turn, in
// units of 100 ns: every expiry reads the monotonic clock and re-arms for the
// next deadline, so the grid does not depend on how the system schedules a
// periodic timer, and an early or late expiry moves no later deadline. A
// high-resolution timer (Windows 10 1803 and later) meets a deadline within a
// fraction of a millisecond; elsewhere the system timer's period is raised to
// 1 ms while the timer runs. The timer is waited on and re-armed by a thread
// of its own, registered with the multimedia class scheduler while the timer
// runs, which sets an event for the window's thread at each tick.
class WaitableTimer final : public KernelTimer
{
public:
    WaitableTimer(HANDLE handle, HANDLE tick, HANDLE quit, bool highResolution, QObject *parent)
        : KernelTimer(parent)
        , m_handle(handle)
        , m_tick(tick)
        , m_quit(quit)
        , m_highResolution(highResolution)
        , m_notifier(new QWinEventNotifier(tick, this))
    {
        m_notifier->setEnabled(false);
        connect(m_notifier, &QWinEventNotifier::activated, this, &KernelTimer::expired);
    }

    ~WaitableTimer() override
    {
        stop();
        delete m_notifier;
        CloseHandle(m_quit);
        CloseHandle(m_tick);
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
        m_grid.start(monotonicMicros(), Micros(milliseconds) * 1000);
        ResetEvent(m_quit);
        ResetEvent(m_tick);
        if (!arm(m_grid.interval())) {
            stop();
            return false;
        }
        m_thread = CreateThread(nullptr, 0, &WaitableTimer::runThread, this, 0, nullptr);
        if (!m_thread) {
            stop();
            return false;
        }
        m_notifier->setEnabled(true);
        return true;
    }

    void stop() override
    {
        m_notifier->setEnabled(false);
        if (m_thread) {
            SetEvent(m_quit);
            WaitForSingleObject(m_thread, INFINITE);
            CloseHandle(m_thread);
            m_thread = nullptr;
        }
        CancelWaitableTimer(m_handle);
        if (m_periodRaised)
            timeEndPeriod(1);
        m_periodRaised = false;
        if (m_throttlingOff)
            setPowerThrottling(true);
        m_throttlingOff = false;
    }

private:
    // fromNow in microseconds; the timer counts in units of 100 ns.
    bool arm(Micros fromNow)
    {
        LARGE_INTEGER due;
        // Negative: relative to now, on the interrupt clock rather than the
        // wall clock, so that setting the date moves nothing.
        due.QuadPart = -qMax<qint64>(fromNow * 10, 1);
        return SetWaitableTimer(m_handle, &due, 0, nullptr, nullptr, FALSE);
    }

    static DWORD WINAPI runThread(LPVOID timer)
    {
        static_cast<WaitableTimer *>(timer)->run();
        return 0;
    }

    // The grid is this thread's alone while it runs.
    void run()
    {
        const MultimediaTask task;
        const HANDLE handles[2] = {m_handle, m_quit};
        while (WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0) {
            // An early wake-up only re-arms; deadlines missed entirely are
            // dropped, and ticks the window's thread has not yet taken come
            // out as one.
            const TickGrid::Due due = m_grid.check(monotonicMicros());
            if (!arm(due.untilNext))
                break;
            if (due.tick)
                SetEvent(m_tick);
        }
    }

    HANDLE m_handle;
    HANDLE m_tick;
    HANDLE m_quit;
    HANDLE m_thread = nullptr;
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
    // Auto-reset: however many ticks were set, one wake-up takes them.
    const HANDLE tick = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    const HANDLE quit = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (handle && tick && quit)
        return new WaitableTimer(handle, tick, quit, highResolution, parent);
    for (HANDLE owned : {handle, tick, quit}) {
        if (owned)
            CloseHandle(owned);
    }
    return nullptr;
}

} // namespace timing
