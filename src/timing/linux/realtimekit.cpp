#include "timing/linux/realtimekit.h"

#include "handles/owned.h"

#include <dbus/dbus.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <type_traits>

namespace timing {

namespace {

constexpr const char *kService = "org.freedesktop.RealtimeKit1";
constexpr const char *kPath = "/org/freedesktop/RealtimeKit1";
constexpr const char *kDefaultSystemBus = "unix:path=/var/run/dbus/system_bus_socket";

template<typename Basic> qint64 readBasic(DBusMessageIter *iter)
{
    Basic number = 0;
    dbus_message_iter_get_basic(iter, &number);
    if constexpr (std::is_same_v<Basic, dbus_uint64_t>)
        return static_cast<qint64>(std::min<dbus_uint64_t>(number, INT64_MAX));
    else
        return number;
}

bool readInteger(DBusMessageIter *iter, qint64 *value)
{
    switch (dbus_message_iter_get_arg_type(iter)) {
    case DBUS_TYPE_VARIANT: {
        DBusMessageIter inner;
        dbus_message_iter_recurse(iter, &inner);
        return readInteger(&inner, value);
    }
    case DBUS_TYPE_INT32:
        *value = readBasic<dbus_int32_t>(iter);
        return true;
    case DBUS_TYPE_UINT32:
        *value = readBasic<dbus_uint32_t>(iter);
        return true;
    case DBUS_TYPE_INT64:
        *value = readBasic<dbus_int64_t>(iter);
        return true;
    case DBUS_TYPE_UINT64:
        *value = readBasic<dbus_uint64_t>(iter);
        return true;
    default:
        return false;
    }
}

using Message = handles::Owned<DBusMessage, dbus_message_unref>;

// A reply, or null after an error or the timeout.
Message callAndWait(DBusConnection *connection, const Message &message, int timeoutMs)
{
    if (!message)
        return nullptr;
    DBusError error;
    dbus_error_init(&error);
    Message reply(
        dbus_connection_send_with_reply_and_block(connection, message.get(), timeoutMs, &error));
    dbus_error_free(&error);
    return reply;
}

} // namespace

std::string systemBusAddress()
{
    const char *address = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    return address && *address ? address : kDefaultSystemBus;
}

RealtimeKit::RealtimeKit(std::string busAddress, std::chrono::milliseconds timeout)
    : m_address(std::move(busAddress))
    , m_timeoutMs(static_cast<int>(timeout.count()))
{}

RealtimeKit::~RealtimeKit()
{
    if (m_connection) {
        dbus_connection_close(m_connection);
        dbus_connection_unref(m_connection);
    }
}

bool RealtimeKit::connect()
{
    if (m_connection)
        return true;
    static const bool threadsReady = dbus_threads_init_default();
    if (!threadsReady)
        return false;
    DBusError error;
    dbus_error_init(&error);
    m_connection = dbus_connection_open_private(m_address.c_str(), &error);
    dbus_error_free(&error);
    if (!m_connection)
        return false;
    dbus_connection_set_exit_on_disconnect(m_connection, false);
    // The bus's greeting, with the same timeout as every call (dbus_bus_register
    // would wait libdbus's default 25 s).
    const Message hello(dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS,
                                                     DBUS_INTERFACE_DBUS, "Hello"));
    const Message reply = callAndWait(m_connection, hello, m_timeoutMs);
    const char *name = nullptr;
    const bool greeted = reply
                         && dbus_message_get_args(reply.get(), nullptr, DBUS_TYPE_STRING, &name,
                                                  DBUS_TYPE_INVALID)
                         && dbus_bus_set_unique_name(m_connection, name);
    if (!greeted) {
        dbus_connection_close(m_connection);
        dbus_connection_unref(m_connection);
        m_connection = nullptr;
    }
    return greeted;
}

std::optional<RealtimeKit::Limits> RealtimeKit::limits()
{
    if (!connect())
        return std::nullopt;
    const std::optional<qint64> priority = property("MaxRealtimePriority");
    if (!priority)
        return std::nullopt;
    const std::optional<qint64> nice = property("MinNiceLevel");
    const std::optional<qint64> run = property("RTTimeUSecMax");
    return Limits{static_cast<int>(*priority), static_cast<int>(nice.value_or(0)),
                  std::chrono::microseconds(run.value_or(0))};
}

bool RealtimeKit::makeThreadRealtime(quint64 thread, int priority)
{
    const dbus_uint32_t value = static_cast<dbus_uint32_t>(priority);
    return callForThread("MakeThreadRealtime", thread, DBUS_TYPE_UINT32, &value);
}

bool RealtimeKit::makeThreadHighPriority(quint64 thread, int niceLevel)
{
    const dbus_int32_t value = niceLevel;
    return callForThread("MakeThreadHighPriority", thread, DBUS_TYPE_INT32, &value);
}

bool RealtimeKit::callForThread(const char *method, quint64 thread, int type, const void *value)
{
    if (!connect())
        return false;
    const Message call(dbus_message_new_method_call(kService, kPath, kService, method));
    const dbus_uint64_t id = thread;
    if (call
        && !dbus_message_append_args(call.get(), DBUS_TYPE_UINT64, &id, type, value,
                                     DBUS_TYPE_INVALID))
        return false;
    return callAndWait(m_connection, call, m_timeoutMs) != nullptr;
}

std::optional<qint64> RealtimeKit::property(const char *name)
{
    const Message get(
        dbus_message_new_method_call(kService, kPath, "org.freedesktop.DBus.Properties", "Get"));
    if (get
        && !dbus_message_append_args(get.get(), DBUS_TYPE_STRING, &kService, DBUS_TYPE_STRING,
                                     &name, DBUS_TYPE_INVALID))
        return std::nullopt;
    const Message reply = callAndWait(m_connection, get, m_timeoutMs);
    DBusMessageIter iter;
    qint64 value = 0;
    if (!reply || !dbus_message_iter_init(reply.get(), &iter) || !readInteger(&iter, &value))
        return std::nullopt;
    return value;
}

} // namespace timing
