#include "strobe/x11/presentpacer.h"

#include "handles/owned.h"

#include <xcb/present.h>

namespace strobe {

std::unique_ptr<PresentPacer> PresentPacer::create(XcbConnection connection,
                                                   std::shared_ptr<FillTarget> target)
{
    xcb_connection_t *raw = connection.get();
    const xcb_query_extension_reply_t *present = xcb_get_extension_data(raw, &xcb_present_id);
    if (!present || !present->present)
        return nullptr;
    const handles::Malloced<xcb_present_query_version_reply_t> version(
        xcb_present_query_version_reply(
            raw,
            xcb_present_query_version(raw, XCB_PRESENT_MAJOR_VERSION, XCB_PRESENT_MINOR_VERSION),
            nullptr));
    if (!version)
        return nullptr;
    std::unique_ptr<PresentPacer> pacer(
        new PresentPacer(std::move(connection), std::move(target), present->major_opcode));
    // Learning the display's clock takes some refreshes: start before the
    // first step.
    pacer->follow(pacer->m_target->window.load());
    return pacer;
}

PresentPacer::PresentPacer(XcbConnection connection, std::shared_ptr<FillTarget> target,
                           quint8 presentOpcode)
    : m_connection(std::move(connection))
    , m_target(std::move(target))
    , m_presentOpcode(presentOpcode)
{}

PresentPacer::~PresentPacer() = default;

int PresentPacer::descriptor() const noexcept
{
    return xcb_get_file_descriptor(m_connection.get());
}

void PresentPacer::follow(xcb_window_t window)
{
    if (window == m_window)
        return;
    xcb_connection_t *connection = m_connection.get();
    if (m_window)
        xcb_present_select_input(connection, m_events, m_window, 0);
    m_window = window;
    m_events = 0;
    if (window) {
        m_events = xcb_generate_id(connection);
        xcb_present_select_input(connection, m_events, window,
                                 XCB_PRESENT_EVENT_MASK_COMPLETE_NOTIFY);
    }
    m_pacing.startOver(window != 0);
}

void PresentPacer::requestReport(quint32 serial, quint64 msc)
{
    xcb_present_notify_msc(m_connection.get(), m_window, serial, msc, 0, 0);
    xcb_flush(m_connection.get());
}

bool PresentPacer::deadlinePassed(TimerGrid grid, timing::Micros now) noexcept
{
    follow(m_target->window.load());
    return m_pacing.deadlinePassed(grid, now);
}

bool PresentPacer::paced(TimerGrid grid, timing::Micros now) noexcept
{
    bool due = false;
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection.get())) {
        const handles::Malloced<xcb_generic_event_t> owned(event);
        due = handle(*event, grid, now) || due;
    }
    if (!due)
        m_pacing.giveUpIfLost(now);
    return due;
}

bool PresentPacer::handle(const xcb_generic_event_t &event, TimerGrid grid, timing::Micros now)
{
    if ((event.response_type & 0x7F) != XCB_GE_GENERIC)
        return false;
    const auto &generic = reinterpret_cast<const xcb_ge_generic_event_t &>(event);
    const auto &complete = reinterpret_cast<const xcb_present_complete_notify_event_t &>(event);
    if (generic.extension != m_presentOpcode || generic.event_type != XCB_PRESENT_COMPLETE_NOTIFY
        || complete.event != m_events || complete.kind != XCB_PRESENT_COMPLETE_KIND_NOTIFY_MSC)
        return false;
    const timing::Refresh reported{complete.msc, static_cast<timing::Micros>(complete.ust)};
    return m_pacing.reported(complete.serial, reported, grid, now);
}

} // namespace strobe
