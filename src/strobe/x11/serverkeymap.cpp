#include "strobe/x11/serverkeymap.h"

#include "handles/owned.h"
#include "strobe/virtualkey.h"

#include <QGuiApplication>

#include <xkbcommon/xkbcommon-x11.h>

namespace strobe {

namespace {

using Keymap = handles::Owned<xkb_keymap, xkb_keymap_unref>;

Keymap serverKeymap()
{
    const auto *x11
        = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection
        || !xkb_x11_setup_xkb_extension(
            connection, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
            XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr))
        return {};
    const int32_t device = xkb_x11_get_core_keyboard_device_id(connection);
    xkb_context *context = xkb_context_new(XKB_CONTEXT_NO_DEFAULT_INCLUDES);
    if (device < 0 || !context) {
        xkb_context_unref(context);
        return {};
    }
    Keymap keymap(
        xkb_x11_keymap_new_from_device(context, connection, device, XKB_KEYMAP_COMPILE_NO_FLAGS));
    xkb_context_unref(context);
    return keymap;
}

} // namespace

qint16 serverKeyCode(quint32 keycode)
{
    return xkbKeyCode(serverKeymap().get(), keycode);
}

} // namespace strobe
