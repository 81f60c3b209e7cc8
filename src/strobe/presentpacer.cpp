#include "strobe/presentpacer.h"

#include <xcb/present.h>

#include <cmath>
#include <cstdlib>

namespace strobe {

namespace {

// Reports asked for to learn the display's clock: the current refresh at once,
// then one refresh after another. Step reports carry the step's index.
constexpr quint32 kClockSerial = 0;
// A report stamped this far from the monotonic clock is on another clock.
constexpr qint64 kSameClock = 1'000'000;
// The timer's next deadline is read as an offset from now, and the thread may
// be held up between reading the two: the deadline moves by this much before
// the grid is taken to have started over.
constexpr qint64 kSameGrid = 2000;
// Reports asked for one refresh after another before a clock that is still not
// known (a made-up one, too noisy to lock to) is asked about once a step: a
// display of hundreds of refreshes a second must not wake the thread as often.
constexpr int kEveryRefresh = 4 * FrameClock::kCapacity;

quint32 serialOf(qint64 index)
{
    return static_cast<quint32>(index & 0x7FFFFFFF) | 0x80000000u;
}

} // namespace

std::unique_ptr<PresentPacer> PresentPacer::create(xcb_connection_t *connection)
{
    const xcb_query_extension_reply_t *present
        = xcb_get_extension_data(connection, &xcb_present_id);
    if (!present || !present->present)
        return nullptr;
    xcb_present_query_version_reply_t *version = xcb_present_query_version_reply(
        connection,
        xcb_present_query_version(connection, XCB_PRESENT_MAJOR_VERSION,
                                  XCB_PRESENT_MINOR_VERSION),
        nullptr);
    if (!version)
        return nullptr;
    std::free(version);
    return std::unique_ptr<PresentPacer>(new PresentPacer(connection, present->major_opcode));
}

PresentPacer::PresentPacer(xcb_connection_t *connection, quint8 presentOpcode)
    : m_connection(connection)
    , m_presentOpcode(presentOpcode)
{}

PresentPacer::~PresentPacer() = default;

void PresentPacer::follow(xcb_window_t window)
{
    if (window == m_window)
        return;
    if (m_window)
        xcb_present_select_input(m_connection, m_events, m_window, 0);
    m_window = window;
    m_events = 0;
    if (window) {
        m_events = xcb_generate_id(m_connection);
        xcb_present_select_input(m_connection, m_events, window,
                                 XCB_PRESENT_EVENT_MASK_COMPLETE_NOTIFY);
    }
    startOver();
}

void PresentPacer::startOver()
{
    m_clock.clear();
    m_waiting = -1;
    m_calibrating = m_window != 0;
    m_calibrationReports = 0;
    if (m_calibrating)
        ask(kClockSerial, 0);
    publish();
}

void PresentPacer::ask(quint32 serial, quint64 msc)
{
    xcb_present_notify_msc(m_connection, m_window, serial, msc, 0, 0);
    xcb_flush(m_connection);
}

void PresentPacer::publish()
{
    m_rate.store(m_clock.clock().isLocked() ? 1e6 / m_clock.clock().period() : 0,
                 std::memory_order_relaxed);
}

qint64 PresentPacer::deadline(qint64 index) const
{
    return m_gridStart + index * m_interval;
}

int PresentPacer::timeout(qint64 now) const
{
    if (m_waiting < 0)
        return -1;
    return static_cast<int>(qMax<qint64>(0, (m_giveUpAt - now + 999) / 1000));
}

bool PresentPacer::sameGrid(TimerGrid grid, bool deadlineStep)
{
    if (grid.follows(m_gridStart, m_interval, kSameGrid))
        return true;
    // The deadline that just passed is step 0 of the new grid: to be shown
    // where a deadline brought us here, taken as shown where a report did.
    m_interval = grid.interval;
    m_gridStart = grid.nextDeadline - grid.interval;
    m_grid.start(m_gridStart, qMax<qint64>(grid.interval, 1));
    m_shown = deadlineStep ? -1 : 0;
    m_waiting = -1;
    return false;
}

void PresentPacer::schedule(qint64 index)
{
    const quint64 target = m_grid.ask(index, m_clock.clock());
    m_waiting = index;
    // From the timer's grid, not the clock's: a clock gone wrong (the window
    // on another display, whose count is another) must not hold the steps.
    m_giveUpAt = deadline(index) + m_interval;
    ask(serialOf(index), target);
}

bool PresentPacer::deadlinePassed(TimerGrid grid, qint64 now)
{
    Q_UNUSED(now)
    // A timer that stopped as it expired: its last step, as without a clock.
    if (grid.interval <= 0)
        return true;
    sameGrid(grid, true);
    const qint64 passed = std::llround(static_cast<double>(grid.nextDeadline - m_gridStart)
                                       / static_cast<double>(m_interval))
                          - 1;
    const bool show = passed > m_shown;
    m_shown = qMax(m_shown, passed);
    if (m_window && m_clock.clock().isLocked() && m_waiting < 0)
        schedule(passed + 1);
    return show;
}

bool PresentPacer::handle(const xcb_generic_event_t &event, TimerGrid grid, qint64 now)
{
    if ((event.response_type & 0x7F) != XCB_GE_GENERIC)
        return false;
    const auto &generic = reinterpret_cast<const xcb_ge_generic_event_t &>(event);
    const auto &complete = reinterpret_cast<const xcb_present_complete_notify_event_t &>(event);
    if (generic.extension != m_presentOpcode || generic.event_type != XCB_PRESENT_COMPLETE_NOTIFY
        || complete.event != m_events || complete.kind != XCB_PRESENT_COMPLETE_KIND_NOTIFY_MSC)
        return false;
    const Refresh reported{complete.msc, static_cast<qint64>(complete.ust)};
    if (reported.ust > 0 && qAbs(reported.ust - now) < kSameClock)
        m_clock.add(reported, m_interval);
    publish();
    const bool locked = m_clock.clock().isLocked();
    if (complete.serial == kClockSerial || !locked) {
        // One report after another until the clock is known.
        m_calibrating = !locked;
        if (m_calibrating)
            ask(kClockSerial, reported.msc + calibrationStride(reported));
    }
    if (m_waiting < 0 || complete.serial != serialOf(m_waiting))
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
        startOver();
        return false;
    }
    m_shown = qMax(m_shown, index);
    if (locked) {
        if (m_grid.check(reported, now, m_clock.clock()).late)
            m_late.fetch_add(1, std::memory_order_relaxed);
        schedule(index + 1);
    }
    return true;
}

quint64 PresentPacer::calibrationStride(Refresh reported)
{
    const Refresh previous = m_lastReport;
    m_lastReport = reported;
    if (m_calibrationReports < kEveryRefresh) {
        ++m_calibrationReports;
        return 1;
    }
    if (reported.msc <= previous.msc || reported.ust <= previous.ust || m_interval <= 0)
        return 1;
    const qint64 perRefresh
        = (reported.ust - previous.ust) / static_cast<qint64>(reported.msc - previous.msc);
    return static_cast<quint64>(
        qBound(qint64(1), m_interval / qMax<qint64>(perRefresh, 1), qint64(1000)));
}

void PresentPacer::giveUpIfLost(qint64 now)
{
    if (m_waiting < 0 || now < m_giveUpAt)
        return;
    m_late.fetch_add(1, std::memory_order_relaxed);
    startOver();
}

} // namespace strobe
