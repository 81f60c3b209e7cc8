#include "presentpacer.h"

#include <xcb/present.h>

#include <cstdlib>

namespace strobe {

namespace {

// A report the server asks for at once or for the next refresh, to learn the
// display's clock; step reports carry the step's index.
constexpr quint32 kClockSerial = 0;
// A report stamped this far from the monotonic clock is on another clock.
constexpr qint64 kSameClock = 1'000'000;
// The timer's next deadline is read as an offset from now; it moves by this
// much before the grid is taken to have started over.
constexpr qint64 kSameGrid = 50;

quint32 serialOf(qint64 index)
{
    return static_cast<quint32>(index & 0x7FFFFFFF);
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
    for (Waiting &waiting : m_waiting)
        waiting.index = -1;
    m_calibrating = m_window != 0;
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
    m_rate.store(m_clock.isLocked() ? 1e6 / m_clock.period() : 0, std::memory_order_relaxed);
}

bool PresentPacer::deadlinePassed(quint64 expirations, qint64 nextDeadline, qint64 interval,
                                  qint64 now)
{
    Q_UNUSED(now)
    m_index += static_cast<qint64>(expirations);
    const qint64 start = nextDeadline - (m_index + 1) * interval;
    if (interval != m_interval || qAbs(start - m_gridStart) > kSameGrid) {
        m_interval = interval;
        m_gridStart = start;
        m_grid.start(start, interval);
    }
    bool show = m_index > m_shown;
    bool lost = false;
    for (Waiting &waiting : m_waiting) {
        if (waiting.index == m_index) {
            // Its refresh begins at most half a refresh from now.
            show = false;
        } else if (waiting.index >= 0 && waiting.index < m_index) {
            // The report never came: whatever the clock was, it is not now.
            waiting.index = -1;
            lost = true;
        }
    }
    if (lost) {
        m_late.fetch_add(1, std::memory_order_relaxed);
        startOver();
    }
    if (m_window && m_clock.isLocked()) {
        const qint64 next = m_index + 1;
        m_waiting[next & 1].index = next;
        ask(serialOf(next), m_grid.target(next, m_clock));
    } else if (m_window && !m_calibrating) {
        m_calibrating = true;
        ask(kClockSerial, 0);
    }
    return show;
}

bool PresentPacer::handle(const xcb_generic_event_t &event, qint64 now)
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
        m_clock.add(reported);
    publish();

    if (complete.serial == kClockSerial) {
        // One report after another until the clock is known.
        m_calibrating = !m_clock.isLocked();
        if (m_calibrating)
            ask(kClockSerial, reported.msc + 1);
        return false;
    }
    Waiting &waiting = m_waiting[complete.serial & 1];
    if (waiting.index < 0 || serialOf(waiting.index) != complete.serial)
        return false;
    const qint64 index = waiting.index;
    waiting.index = -1;
    m_shown = qMax(m_shown, index);
    if (m_clock.isLocked()) {
        m_grid.continueAfter(index - 1);
        const FrameGrid::Due due = m_grid.check(reported, now, m_clock);
        if (due.late)
            m_late.fetch_add(1, std::memory_order_relaxed);
    }
    return true;
}

} // namespace strobe
