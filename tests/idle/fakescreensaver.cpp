// A stand-in for the session's screen saver service on a private session bus.
// It owns org.freedesktop.ScreenSaver, answers Inhibit with a fresh cookie and
// UnInhibit by dropping it, and, as real services do, drops every inhibit of a
// client that leaves the bus. Each event is one line on standard output:
//   ready
//   inhibit <cookie> <application> <client>
//   uninhibit <cookie> <known|unknown>
//   gone <cookie> <client>
//   held <number of inhibits now held>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QHash>
#include <QObject>

#include <cstdio>

namespace {

void say(const QString &line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

class FakeScreenSaver final
    : public QObject
    , protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")

public:
    explicit FakeScreenSaver(const QDBusConnection &bus)
        : m_watcher(QString(), bus, QDBusServiceWatcher::WatchForUnregistration)
    {
        connect(&m_watcher, &QDBusServiceWatcher::serviceUnregistered, this,
                &FakeScreenSaver::clientGone);
    }

public Q_SLOTS:
    uint Inhibit(const QString &application, const QString &)
    {
        const QString client = message().service();
        const uint cookie = ++m_lastCookie;
        m_held.insert(cookie, client);
        m_watcher.addWatchedService(client);
        say(QStringLiteral("inhibit %1 %2 %3").arg(cookie).arg(application, client));
        sayHeld();
        return cookie;
    }

    void UnInhibit(uint cookie)
    {
        const bool known = m_held.remove(cookie);
        say(QStringLiteral("uninhibit %1 %2")
                .arg(cookie)
                .arg(known ? QLatin1String("known") : QLatin1String("unknown")));
        sayHeld();
    }

private:
    void clientGone(const QString &client)
    {
        for (auto it = m_held.begin(); it != m_held.end();) {
            if (it.value() == client) {
                say(QStringLiteral("gone %1 %2").arg(it.key()).arg(client));
                it = m_held.erase(it);
            } else {
                ++it;
            }
        }
        m_watcher.removeWatchedService(client);
        sayHeld();
    }

    void sayHeld() { say(QStringLiteral("held %1").arg(m_held.size())); }

    QDBusServiceWatcher m_watcher;
    QHash<uint, QString> m_held;
    uint m_lastCookie = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    FakeScreenSaver service(bus);
    for (const QString &path :
         {QStringLiteral("/org/freedesktop/ScreenSaver"), QStringLiteral("/ScreenSaver")}) {
        if (!bus.registerObject(path, &service, QDBusConnection::ExportAllSlots))
            return 1;
    }
    if (!bus.registerService(QStringLiteral("org.freedesktop.ScreenSaver")))
        return 1;
    say(QStringLiteral("ready"));
    say(QStringLiteral("held 0"));
    return QCoreApplication::exec();
}

#include "fakescreensaver.moc"
