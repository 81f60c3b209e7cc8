#include "strobe/currentdesktop.h"

#include "handles/owned.h"

#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstring>
#include <optional>

namespace strobe {

namespace {

// Desktop number that means every desktop.
constexpr quint32 kAllDesktops = 0xFFFFFFFF;
// The request comes from the user's press on "Start Strobing".
constexpr quint32 kSourceUser = 2;

xcb_atom_t atom(xcb_connection_t *connection, const char *name)
{
    const handles::Malloced<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<quint16>(std::strlen(name)), name),
        nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

std::optional<quint32> cardinal(xcb_connection_t *connection, xcb_window_t window,
                                xcb_atom_t property)
{
    const handles::Malloced<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, property, XCB_ATOM_CARDINAL, 0, 1),
        nullptr));
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) != 4)
        return std::nullopt;
    return *static_cast<const quint32 *>(xcb_get_property_value(reply.get()));
}

} // namespace

void moveToCurrentDesktop(const QWidget &window)
{
    const auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    const auto id = static_cast<xcb_window_t>(window.internalWinId());
    if (!connection || id == 0)
        return;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const xcb_atom_t windowDesktop = atom(connection, "_NET_WM_DESKTOP");
    const std::optional<quint32> current
        = cardinal(connection, root, atom(connection, "_NET_CURRENT_DESKTOP"));
    const std::optional<quint32> own = cardinal(connection, id, windowDesktop);
    if (!current || !own || *own == *current || *own == kAllDesktops)
        return;
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = id;
    event.type = windowDesktop;
    event.data.data32[0] = *current;
    event.data.data32[1] = kSourceUser;
    xcb_send_event(connection, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&event));
    xcb_flush(connection);
}

} // namespace strobe
