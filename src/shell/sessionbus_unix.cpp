#include "shell/sessionbus.h"

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

struct SessionBusCheck::State
{
    std::mutex mutex;
    std::condition_variable changed;
    bool answered = false;
};

namespace {

// The greeting, on a private connection: libdbus's shared one would be Qt's.
// A bus that refuses or fails answers too: Qt gives up on it at once.
void greet(const std::shared_ptr<SessionBusCheck::State> &state, const std::string &address,
           int timeoutMs)
{
    bool silent = false;
    if (dbus_threads_init_default()) {
        DBusError error;
        dbus_error_init(&error);
        DBusConnection *connection = dbus_connection_open_private(address.c_str(), &error);
        dbus_error_free(&error);
        DBusMessage *hello = dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS,
                                                          DBUS_INTERFACE_DBUS, "Hello");
        if (connection && hello) {
            dbus_connection_set_exit_on_disconnect(connection, false);
            DBusMessage *reply
                = dbus_connection_send_with_reply_and_block(connection, hello, timeoutMs, &error);
            silent = !reply && dbus_error_has_name(&error, DBUS_ERROR_NO_REPLY);
            dbus_error_free(&error);
            if (reply)
                dbus_message_unref(reply);
        }
        if (hello)
            dbus_message_unref(hello);
        if (connection) {
            dbus_connection_close(connection);
            dbus_connection_unref(connection);
        }
    }
    const std::lock_guard<std::mutex> lock(state->mutex);
    state->answered = !silent;
    state->changed.notify_all();
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
    std::string address = sessionBusAddress();
    if (address.empty())
        return;
    auto state = std::make_shared<State>();
    // The thread's own limit lies past the deadline, so that the deadline decides.
    const int timeoutMs = static_cast<int>(deadline.count()) + 1000;
    try {
        std::thread(greet, state, std::move(address), timeoutMs).detach();
        m_state = std::move(state);
    } catch (const std::system_error &) {
    }
}

bool SessionBusCheck::settle()
{
    if (!m_state)
        return true;
    {
        std::unique_lock<std::mutex> lock(m_state->mutex);
        if (m_state->changed.wait_until(lock, m_deadline, [this] { return m_state->answered; }))
            return true;
    }
    std::string address = sessionBusAddress();
    for (char &c : address) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", QByteArray(kNoSessionBus));
    std::fprintf(stderr,
                 "lumivex: the session bus (%s) did not answer within a second; starting "
                 "without it: no screen reader, and the screen saver is held off without the "
                 "desktop's service\n",
                 address.c_str());
    m_state.reset();
    return false;
}

} // namespace shell
