#include "idle/idleways.h"

#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

namespace idle {

namespace {

// xscreensaver counts input itself rather than the X server's idle time, and
// its own screen saver service needs a helper of its own. Told to stay off
// this often, as desktop tools do, it never reaches a timeout of a minute.
constexpr int kDeactivateIntervalMs = 50000;

struct FreeReply
{
    void operator()(void *reply) const { std::free(reply); }
};
template<typename Reply> using ReplyPtr = std::unique_ptr<Reply, FreeReply>;

// xscreensaver marks a window of its own, a child of the root, with its
// version; the command finds it the same way.
bool xscreensaverRunning(xcb_connection_t *connection)
{
    static const char kVersion[] = "_SCREENSAVER_VERSION";
    const ReplyPtr<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, sizeof kVersion - 1, kVersion), nullptr));
    // No such atom: xscreensaver never ran on this server.
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return false;
    for (auto roots = xcb_setup_roots_iterator(xcb_get_setup(connection)); roots.rem;
         xcb_screen_next(&roots)) {
        const ReplyPtr<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(
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
            const ReplyPtr<xcb_get_property_reply_t> property(
                xcb_get_property_reply(connection, cookie, nullptr));
            found = found || (property && property->type != XCB_ATOM_NONE);
        }
        if (found)
            return true;
    }
    return false;
}

// While held, tells a running xscreensaver to stay off at once and about
// every 50 s, when no screen saver service is on the session bus to take the
// inhibit (xscreensaver's own service needs its helper and logind). The
// command runs beside the window's thread, one at a time: one that hangs is
// ended at the next turn, and one that is missing changes nothing.
class XScreenSaverCommandHold final
    : public QObject
    , public strobe::IdleInhibitor
{
public:
    XScreenSaverCommandHold(xcb_connection_t *connection, QString command)
        : m_connection(connection)
        , m_command(std::move(command))
    {
        m_timer.setInterval(kDeactivateIntervalMs);
        m_timer.setTimerType(Qt::CoarseTimer);
        connect(&m_timer, &QTimer::timeout, this, &XScreenSaverCommandHold::turn);
    }

    ~XScreenSaverCommandHold() override { endCommand(); }
    Q_DISABLE_COPY_MOVE(XScreenSaverCommandHold)

    void inhibit(QWidget &) override
    {
        m_held = true;
        m_timer.start();
        turn();
    }

    void release() override
    {
        m_held = false;
        m_timer.stop();
    }

private:
    void turn()
    {
        // One that still runs after 50 s hangs: it is ended, and the next turn
        // starts afresh.
        if (m_running) {
            m_running->kill();
            return;
        }
        askScreenSaverServiceOwned(*this, [this](bool owned) {
            if (m_held && !owned && !m_running && xscreensaverRunning(m_connection))
                deactivate();
        });
    }

    void deactivate()
    {
        auto *process = new QProcess(this);
        process->setStandardInputFile(QProcess::nullDevice());
        process->setStandardOutputFile(QProcess::nullDevice());
        process->setStandardErrorFile(QProcess::nullDevice());
        connect(process, &QProcess::finished, this, [this, process] { done(process); });
        connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError) {
            if (process->state() == QProcess::NotRunning)
                done(process);
        });
        m_running = process;
        process->start(m_command, {QStringLiteral("-deactivate")});
    }

    void done(QProcess *process)
    {
        if (m_running == process)
            m_running = nullptr;
        process->deleteLater();
    }

    // At exit: a process still running is killed and collected here, so that
    // QProcess does not wait for it.
    void endCommand()
    {
        if (!m_running)
            return;
        m_running->disconnect(this);
        m_running->kill();
        m_running->waitForFinished(100);
    }

    xcb_connection_t *m_connection;
    QString m_command;
    QTimer m_timer;
    QProcess *m_running = nullptr;
    bool m_held = false;
};

} // namespace

std::unique_ptr<strobe::IdleInhibitor> makeXScreenSaverCommandHold()
{
    const auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return nullptr;
    QString command = QStandardPaths::findExecutable(QStringLiteral("xscreensaver-command"));
    if (command.isEmpty())
        return nullptr;
    return std::make_unique<XScreenSaverCommandHold>(x11->connection(), std::move(command));
}

} // namespace idle
