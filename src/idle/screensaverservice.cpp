#include "idle/idleways.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QObject>

#include <optional>
#include <utility>

namespace idle {

namespace {

const QString kService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kPath = QStringLiteral("/org/freedesktop/ScreenSaver");
// The GUI thread never waits for the answer; this only bounds how long a
// silent service keeps the request open.
constexpr int kReplyTimeoutMs = 5000;

// Only a session bus that is already there counts: the library would
// otherwise launch one of its own for the X display.
bool sessionBusAnnounced()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo(runtime + QStringLiteral("/bus")).exists();
}

// The session's org.freedesktop.ScreenSaver: Inhibit while held, UnInhibit with
// its cookie on release. Calls never block; a cookie that comes back after the
// release is handed straight back. The bus drops the inhibit of a client that
// goes away, so a killed program leaves none behind.
class ScreenSaverServiceHold final
    : public QObject
    , public strobe::IdleInhibitor
{
public:
    explicit ScreenSaverServiceHold(const QDBusConnection &bus)
        : m_bus(bus)
    {}

    void inhibit(QWidget &) override
    {
        m_wanted = true;
        if (m_cookie || m_pending)
            return;
        QDBusMessage call = screenSaverCall(QStringLiteral("Inhibit"));
        call << QCoreApplication::applicationName()
             << QStringLiteral("The strobe light is on screen");
        m_pending = true;
        auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, kReplyTimeoutMs), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                &ScreenSaverServiceHold::answered);
    }

    void release() override
    {
        m_wanted = false;
        if (m_cookie)
            unInhibit(*std::exchange(m_cookie, std::nullopt));
    }

private:
    void answered(QDBusPendingCallWatcher *watcher)
    {
        watcher->deleteLater();
        m_pending = false;
        const QDBusPendingReply<uint> reply = *watcher;
        // No screen saver service, or one that refused: nothing is held.
        if (reply.isError())
            return;
        if (m_wanted)
            m_cookie = reply.value();
        else
            unInhibit(reply.value());
    }

    void unInhibit(uint cookie)
    {
        QDBusMessage call = screenSaverCall(QStringLiteral("UnInhibit"));
        call << cookie;
        m_bus.call(call, QDBus::NoBlock);
    }

    static QDBusMessage screenSaverCall(const QString &method)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, method);
        // Only a screen saver that runs already is asked; none is started.
        call.setAutoStartService(false);
        return call;
    }

    QDBusConnection m_bus;
    bool m_wanted = false;
    bool m_pending = false;
    std::optional<uint> m_cookie;
};

} // namespace

void askScreenSaverServiceOwned(QObject &context, std::function<void(bool owned)> answer)
{
    if (!sessionBusAnnounced()) {
        answer(false);
        return;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        answer(false);
        return;
    }
    const QString daemon = QStringLiteral("org.freedesktop.DBus");
    QDBusMessage call = QDBusMessage::createMethodCall(
        daemon, QStringLiteral("/org/freedesktop/DBus"), daemon, QStringLiteral("NameHasOwner"));
    call << kService;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kReplyTimeoutMs), &context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &context,
                     [answer = std::move(answer)](QDBusPendingCallWatcher *finished) {
                         finished->deleteLater();
                         const QDBusPendingReply<bool> reply = *finished;
                         answer(!reply.isError() && reply.value());
                     });
}

std::unique_ptr<strobe::IdleInhibitor> makeScreenSaverServiceHold()
{
    if (!sessionBusAnnounced())
        return nullptr;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return nullptr;
    return std::make_unique<ScreenSaverServiceHold>(bus);
}

} // namespace idle
