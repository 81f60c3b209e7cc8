#include "timing/refreshpacing.h"

#include <cmath>

namespace timing {

namespace {

// A report stamped this far from the monotonic clock is on another clock.
constexpr Micros kSameClock = 1'000'000;
// The timer's next deadline is read as an offset from now, and the thread may
// be held up between reading the two: the deadline moves by this much before
// the grid is taken to have started over.
constexpr Micros kSameGrid = 2000;
// Reports asked for one refresh after another before a clock that is still not
// known (a made-up one, too noisy to lock to) is asked about once a step: a
// display of hundreds of refreshes a second must not wake the thread as often.
constexpr int kEveryRefresh = 4 * FrameClock::kCapacity;

} // namespace

quint32 RefreshPacing::serialOf(qint64 index)
{
    return static_cast<quint32>(index & 0x7FFFFFFF) | 0x80000000u;
}

RefreshPacing::RefreshPacing(RefreshReports &reports)
    : m_reports(reports)
{}

void RefreshPacing::startOver(bool shown)
{
    m_shown = shown;
    restart();
}

void RefreshPacing::restart()
{
    m_clock.clear();
    m_waiting = -1;
    m_calibrating = m_shown;
    m_calibrationReports = 0;
    if (m_calibrating)
        m_reports.requestReport(kClockSerial, 0);
    publish();
}

void RefreshPacing::publish()
{
    m_rate.store(m_clock.clock().isLocked() ? 1e6 / m_clock.clock().period() : 0,
                 std::memory_order_relaxed);
}

Micros RefreshPacing::deadline(qint64 index) const
{
    return m_gridStart + index * m_interval;
}

int RefreshPacing::timeout(Micros now) const
{
    if (m_waiting < 0)
        return -1;
    return static_cast<int>(qMax<Micros>(0, (m_giveUpAt - now + 999) / 1000));
}

bool RefreshPacing::sameGrid(TimerGrid grid, bool deadlineStep)
{
    if (grid.follows(m_gridStart, m_interval, kSameGrid))
        return true;
    // The deadline that just passed is step 0 of the new grid: to be shown
    // where a deadline brought us here, taken as shown where a report did.
    m_interval = grid.interval;
    m_gridStart = grid.nextDeadline - grid.interval;
    m_grid.start(m_gridStart, qMax<Micros>(grid.interval, 1));
    m_lastShown = deadlineStep ? -1 : 0;
    m_waiting = -1;
    return false;
}

void RefreshPacing::schedule(qint64 index)
{
    const quint64 target = m_grid.ask(index, m_clock.clock());
    m_waiting = index;
    // From the timer's grid, not the clock's: a clock gone wrong (the window
    // on another display, whose count is another) must not hold the steps.
    m_giveUpAt = deadline(index) + m_interval;
    m_reports.requestReport(serialOf(index), target);
}

bool RefreshPacing::deadlinePassed(TimerGrid grid, Micros now)
{
    Q_UNUSED(now)
    // A timer that stopped as it expired: its last step, as without a clock.
    if (grid.interval <= 0)
        return true;
    sameGrid(grid, true);
    const qint64 passed = std::llround(static_cast<double>(grid.nextDeadline - m_gridStart)
                                       / static_cast<double>(m_interval))
                          - 1;
    const bool show = passed > m_lastShown;
    m_lastShown = qMax(m_lastShown, passed);
    if (m_shown && m_clock.clock().isLocked() && m_waiting < 0)
        schedule(passed + 1);
    return show;
}

bool RefreshPacing::reported(quint32 serial, Refresh refresh, TimerGrid grid, Micros now)
{
    if (refresh.ust > 0 && qAbs(refresh.ust - now) < kSameClock)
        m_clock.add(refresh, m_interval);
    publish();
    const bool locked = m_clock.clock().isLocked();
    if (serial == kClockSerial || !locked) {
        // One report after another until the clock is known.
        m_calibrating = !locked;
        if (m_calibrating)
            m_reports.requestReport(kClockSerial, refresh.msc + calibrationStride(refresh));
    }
    if (m_waiting < 0 || serial != serialOf(m_waiting))
        return false;
    const qint64 index = m_waiting;
    m_waiting = -1;
    // The timer stopped, or started a grid of its own meanwhile.
    if (!sameGrid(grid, false))
        return false;
    // A report long before the step's deadline: the clock is not this
    // display's (the window moved to another, with a count of its own). Its
    // step waits for the timer, and the clock is learnt anew.
    if (now < deadline(index) - m_interval / 2) {
        restart();
        return false;
    }
    m_lastShown = qMax(m_lastShown, index);
    if (locked) {
        if (m_grid.check(refresh, now, m_clock.clock()).late)
            m_late.fetch_add(1, std::memory_order_relaxed);
        schedule(index + 1);
    }
    return true;
}

quint64 RefreshPacing::calibrationStride(Refresh reported)
{
    const Refresh previous = m_lastReport;
    m_lastReport = reported;
    if (m_calibrationReports < kEveryRefresh) {
        ++m_calibrationReports;
        return 1;
    }
    if (reported.msc <= previous.msc || reported.ust <= previous.ust || m_interval <= 0)
        return 1;
    const Micros perRefresh
        = (reported.ust - previous.ust) / static_cast<Micros>(reported.msc - previous.msc);
    return static_cast<quint64>(
        qBound(Micros(1), m_interval / qMax<Micros>(perRefresh, 1), Micros(1000)));
}

void RefreshPacing::giveUpIfLost(Micros now)
{
    if (m_waiting < 0 || now < m_giveUpAt)
        return;
    m_late.fetch_add(1, std::memory_order_relaxed);
    restart();
}

} // namespace timing
