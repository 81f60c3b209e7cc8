#include "idle/idleways.h"

#include "idle/saverdeactivation.h"

#include "handles/owned.h"

#include <QGuiApplication>
#include <QStandardPaths>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

namespace idle {

namespace {

// xscreensaver counts input itself rather than the X server's idle time, and
// its own screen saver service needs a helper of its own (which needs
// logind). Told to stay off this often, as desktop tools do, it never reaches
// a timeout of a minute, the shortest its settings dialog offers.
constexpr int kDeactivateIntervalMs = 50000;

// xscreensaver marks a window of its own, a child of the root, with its
// version; the command finds it the same way.
bool xscreensaverRunning(xcb_connection_t *connection)
{
    static const char kVersion[] = "_SCREENSAVER_VERSION";
    const handles::Malloced<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, sizeof kVersion - 1, kVersion), nullptr));
    // No such atom: xscreensaver never ran on this server.
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return false;
    for (auto roots = xcb_setup_roots_iterator(xcb_get_setup(connection)); roots.rem;
         xcb_screen_next(&roots)) {
        const handles::Malloced<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(
            connection, xcb_query_tree(connection, roots.data->root), nullptr));
        if (!tree)
            continue;
        const xcb_window_t *children = xcb_query_tree_children(tree.get());
        std::vector<xcb_get_property_cookie_t> asked;
        asked.reserve(static_cast<size_t>(xcb_query_tree_children_length(tree.get())));
        for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i)
            asked.push_back(
                xcb_get_property(connection, 0, children[i], atom->atom, XCB_ATOM_STRING, 0, 0));
        bool found = false;
        for (const xcb_get_property_cookie_t cookie : asked) {
            const handles::Malloced<xcb_get_property_reply_t> property(
                xcb_get_property_reply(connection, cookie, nullptr));
            found = found || (property && property->type != XCB_ATOM_NONE);
        }
        if (found)
            return true;
    }
    return false;
}

} // namespace

std::unique_ptr<strobe::IdleInhibitor> makeXScreenSaverCommandHold()
{
    const auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return nullptr;
    SaverDeactivation::Ways ways;
    ways.program = QStandardPaths::findExecutable(QStringLiteral("xscreensaver-command"));
    if (ways.program.isEmpty())
        return nullptr;
    ways.arguments = QStringList{QStringLiteral("-deactivate")};
    ways.intervalMs = kDeactivateIntervalMs;
    xcb_connection_t *connection = x11->connection();
    ways.saverRunning = [connection] {
        return xscreensaverRunning(connection);
    };
    ways.askServiceOwned = askScreenSaverServiceOwned;
    return std::make_unique<SaverDeactivation>(std::move(ways));
}

} // namespace idle
