#include "shell/sessionbus.h"

#include "handles/owned.h"

#include <QByteArray>
#include <QtGlobal>

#include <dbus/dbus.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace shell {

// One bus under test: the variable that names it for Qt, and the answer.
struct SessionBusCheck::State
{
    const char *variable = nullptr;
    const char *consequence = nullptr; // of starting without it
    bool isSessionBus = false;
    std::string address;
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    bool usable = false;
};

namespace {

using Message = handles::Owned<DBusMessage, dbus_message_unref>;

// One question to the bus itself, answered with a method return in time.
bool answers(DBusConnection *connection, const char *method, const char *name, int timeoutMs)
{
    const Message call(dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS,
                                                    DBUS_INTERFACE_DBUS, method));
    if (!call)
        return false;
    if (name && !dbus_message_append_args(call.get(), DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID))
        return false;
    DBusError error;
    dbus_error_init(&error);
    const Message reply(
        dbus_connection_send_with_reply_and_block(connection, call.get(), timeoutMs, &error));
    dbus_error_free(&error);
    return reply && dbus_message_get_type(reply.get()) == DBUS_MESSAGE_TYPE_METHOD_RETURN;
}

// Whether Qt can use the bus without waiting on it. One that cannot be
// reached at all fails at once for Qt too. One that takes the connection
// must greet (libdbus waits on a bus that never finishes authenticating with
// no deadline) and answer the first question Qt's accessibility bridge asks
// (which Qt waits 25 s for). A private connection: libdbus's shared one would
// be Qt's.
bool usable(const std::string &address, bool isSessionBus, int timeoutMs)
{
    if (!dbus_threads_init_default())
        return true;
    DBusError error;
    dbus_error_init(&error);
    DBusConnection *connection = dbus_connection_open_private(address.c_str(), &error);
    dbus_error_free(&error);
    if (!connection)
        return true;
    dbus_connection_set_exit_on_disconnect(connection, false);
    const bool greeted
        = answers(connection, "Hello", nullptr, timeoutMs)
          && (!isSessionBus || answers(connection, "NameHasOwner", "org.a11y.Bus", timeoutMs));
    dbus_connection_close(connection);
    dbus_connection_unref(connection);
    return greeted;
}

void check(const std::shared_ptr<SessionBusCheck::State> &state, int timeoutMs)
{
    const bool found = usable(state->address, state->isSessionBus, timeoutMs);
    const std::lock_guard<std::mutex> lock(state->mutex);
    state->usable = found;
    state->done = true;
    state->changed.notify_all();
}

// Control characters in an address stay off the terminal.
std::string printable(std::string text)
{
    for (char &c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    }
    return text;
}

} // namespace

std::string sessionBusAddress()
{
    const char *address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address && *address)
        return address;
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || !*runtime)
        return {};
    // As libdbus takes it: a socket of the user's own.
    const std::string path = std::string(runtime) + "/bus";
    struct stat status = {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISSOCK(status.st_mode)
        || status.st_uid != ::getuid())
        return {};
    char *escaped = dbus_address_escape_value(path.c_str());
    if (!escaped)
        return {};
    const std::string found = std::string("unix:path=") + escaped;
    dbus_free(escaped);
    return found;
}

SessionBusCheck::SessionBusCheck(std::chrono::milliseconds deadline)
    : m_deadline(std::chrono::steady_clock::now() + deadline)
{
    // Qt's accessibility bridge connects straight to a bus named here, with
    // no deadline either.
    const char *accessibility = std::getenv("AT_SPI_BUS_ADDRESS");
    struct Named
    {
        const char *variable;
        const char *consequence;
        bool isSessionBus;
        std::string address;
    };
    const Named buses[] = {
        {"DBUS_SESSION_BUS_ADDRESS",
         "no screen reader, and the screen saver is held off without the desktop's service", true,
         sessionBusAddress()},
        {"AT_SPI_BUS_ADDRESS", "no screen reader", false,
         accessibility ? accessibility : std::string()},
    };
    // The thread's own limit lies past the deadline, so that the deadline decides.
    const int timeoutMs = static_cast<int>(deadline.count()) + 1000;
    for (const Named &bus : buses) {
        if (bus.address.empty())
            continue;
        auto state = std::make_shared<State>();
        state->variable = bus.variable;
        state->consequence = bus.consequence;
        state->isSessionBus = bus.isSessionBus;
        state->address = bus.address;
        try {
            std::thread(check, state, timeoutMs).detach();
            m_buses.push_back(std::move(state));
        } catch (const std::system_error &) {
        }
    }
}

bool SessionBusCheck::settle()
{
    bool allUsed = true;
    for (const std::shared_ptr<State> &bus : m_buses) {
        {
            std::unique_lock<std::mutex> lock(bus->mutex);
            bus->changed.wait_until(lock, m_deadline, [&bus] { return bus->done; });
            if (bus->usable)
                continue;
        }
        allUsed = false;
        qputenv(bus->variable, QByteArray(kNoSessionBus));
        std::fprintf(stderr,
                     "lumivex: the %s bus (%s) did not answer properly within a second; "
                     "starting without it: %s\n",
                     bus->isSessionBus ? "session" : "accessibility",
                     printable(bus->address).c_str(), bus->consequence);
    }
    m_buses.clear();
    return allUsed;
}

} // namespace shell
