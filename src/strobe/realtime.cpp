#include "strobe/realtime.h"

#include <dbus/dbus.h>

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>
#include <type_traits>

namespace strobe {

namespace {

constexpr const char *kService = "org.freedesktop.RealtimeKit1";
constexpr const char *kPath = "/org/freedesktop/RealtimeKit1";
constexpr const char *kDefaultSystemBus = "unix:path=/var/run/dbus/system_bus_socket";

// The thread that SIGXCPU puts back to normal scheduling, 0 for none.
std::atomic<pid_t> g_realtimeThread{0};
static_assert(std::atomic<pid_t>::is_always_lock_free);

// The soft RLIMIT_RTTIME sends SIGXCPU, which by default ends the process (as
// the hard limit does, with SIGKILL). A real-time thread that ran that long
// without waiting is stuck; the program goes on with the thread at normal
// priority instead, where it cannot starve the rest of the desktop.
extern "C" void demoteRealtimeThread(int)
{
    const int saved = errno;
    const pid_t thread = g_realtimeThread.exchange(0);
    if (thread != 0) {
        const sched_param normal{};
        sched_setscheduler(thread, SCHED_OTHER, &normal);
    }
    errno = saved;
}

// The handler is installed while a thread is armed, and the disposition found
// before it comes back once none is.
std::mutex g_backstopMutex;
int g_armedThreads = 0;
bool g_handlerInstalled = false;
struct sigaction g_previousAction
{
};

void armBackstop(quint64 thread)
{
    const std::lock_guard lock(g_backstopMutex);
    if (g_armedThreads++ == 0) {
        struct sigaction current
        {
        };
        // A handler someone else installed, or SIG_IGN, stays.
        if (sigaction(SIGXCPU, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
            struct sigaction action
            {
            };
            action.sa_handler = demoteRealtimeThread;
            sigemptyset(&action.sa_mask);
            action.sa_flags = SA_RESTART;
            g_handlerInstalled = sigaction(SIGXCPU, &action, &g_previousAction) == 0;
        }
    }
    g_realtimeThread.store(static_cast<pid_t>(thread));
}

void disarmBackstop(quint64 thread)
{
    const std::lock_guard lock(g_backstopMutex);
    pid_t armed = static_cast<pid_t>(thread);
    g_realtimeThread.compare_exchange_strong(armed, 0);
    if (--g_armedThreads == 0 && g_handlerInstalled) {
        sigaction(SIGXCPU, &g_previousAction, nullptr);
        g_handlerInstalled = false;
    }
}

// One request to RealtimeKit at a time in the process: on a bus that hangs,
// requests would otherwise pile up, one thread each.
std::atomic<bool> g_requestPending{false};

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

// A reply, or null after an error or the timeout.
DBusMessage *callAndWait(DBusConnection *connection, DBusMessage *message, int timeoutMs)
{
    if (!message)
        return nullptr;
    DBusError error;
    dbus_error_init(&error);
    DBusMessage *reply
        = dbus_connection_send_with_reply_and_block(connection, message, timeoutMs, &error);
    dbus_message_unref(message);
    dbus_error_free(&error);
    return reply;
}

} // namespace

ThreadScheduling::~ThreadScheduling() = default;

bool ThreadScheduling::limitRealtimeRun(std::chrono::microseconds soft,
                                        std::chrono::microseconds hard)
{
    rlimit limit{};
    if (getrlimit(RLIMIT_RTTIME, &limit) != 0)
        return false;
    limit.rlim_max = qMin<rlim_t>(limit.rlim_max, static_cast<rlim_t>(hard.count()));
    limit.rlim_cur = std::min({limit.rlim_cur, static_cast<rlim_t>(soft.count()), limit.rlim_max});
    return setrlimit(RLIMIT_RTTIME, &limit) == 0;
}

bool ThreadScheduling::setRoundRobin(int priority)
{
    sched_param parameters{};
    parameters.sched_priority = priority;
    return sched_setscheduler(0, SCHED_RR | SCHED_RESET_ON_FORK, &parameters) == 0;
}

void ThreadScheduling::setNormal()
{
    setThreadNormal(threadId());
}

void ThreadScheduling::setThreadNormal(quint64 thread)
{
    const auto id = static_cast<pid_t>(thread);
    // A thread that ended may have left its id to another process's thread.
    if (syscall(SYS_tgkill, getpid(), id, 0) != 0)
        return;
    const sched_param normal{};
    sched_setscheduler(id, SCHED_OTHER, &normal);
    setpriority(PRIO_PROCESS, static_cast<id_t>(id), 0);
}

quint64 ThreadScheduling::threadId() const
{
    return static_cast<quint64>(gettid());
}

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
    DBusMessage *reply
        = callAndWait(m_connection,
                      dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS,
                                                   DBUS_INTERFACE_DBUS, "Hello"),
                      m_timeoutMs);
    const char *name = nullptr;
    const bool greeted
        = reply
          && dbus_message_get_args(reply, nullptr, DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID)
          && dbus_bus_set_unique_name(m_connection, name);
    if (reply)
        dbus_message_unref(reply);
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
    DBusMessage *call = dbus_message_new_method_call(kService, kPath, kService, method);
    const dbus_uint64_t id = thread;
    if (call
        && !dbus_message_append_args(call, DBUS_TYPE_UINT64, &id, type, value,
                                     DBUS_TYPE_INVALID)) {
        dbus_message_unref(call);
        return false;
    }
    DBusMessage *reply = callAndWait(m_connection, call, m_timeoutMs);
    if (reply)
        dbus_message_unref(reply);
    return reply != nullptr;
}

std::optional<qint64> RealtimeKit::property(const char *name)
{
    DBusMessage *get
        = dbus_message_new_method_call(kService, kPath, "org.freedesktop.DBus.Properties", "Get");
    if (get
        && !dbus_message_append_args(get, DBUS_TYPE_STRING, &kService, DBUS_TYPE_STRING, &name,
                                     DBUS_TYPE_INVALID)) {
        dbus_message_unref(get);
        return std::nullopt;
    }
    DBusMessage *reply = callAndWait(m_connection, get, m_timeoutMs);
    if (!reply)
        return std::nullopt;
    DBusMessageIter iter;
    qint64 value = 0;
    const bool ok = dbus_message_iter_init(reply, &iter) && readInteger(&iter, &value);
    dbus_message_unref(reply);
    return ok ? std::optional<qint64>(value) : std::nullopt;
}

struct RaisedPriority::Shared
{
    Shared(std::shared_ptr<ThreadScheduling> threads, std::string address)
        : scheduling(std::move(threads))
        , busAddress(std::move(address))
    {}

    // Held briefly, never across a call on the bus.
    std::mutex mutex;
    const std::shared_ptr<ThreadScheduling> scheduling;
    const std::string busAddress;
    quint64 thread = 0;
    // Whether the thread is raised or may be raised still.
    bool alive = false;
    bool armed = false;
    std::atomic<int> priority{-1};

    // Arms the backstop for a thread that is still there.
    bool arm()
    {
        const std::lock_guard lock(mutex);
        if (!alive)
            return false;
        armBackstop(thread);
        armed = true;
        return true;
    }

    void disarm()
    {
        const std::lock_guard lock(mutex);
        if (armed)
            disarmBackstop(thread);
        armed = false;
    }

    ThreadPriority ask(RealtimeKit &kit)
    {
        using namespace stepPriority;
        const std::optional<RealtimeKit::Limits> limits = kit.limits();
        if (!limits)
            return ThreadPriority::Normal;
        // RealtimeKit lends real-time priority only to a process whose hard
        // RLIMIT_RTTIME is within its own maximum.
        const int lent = qMin(realtime, limits->maxRealtimePriority);
        const std::chrono::microseconds hard = qMin(hardRun, limits->realtimeRunMax);
        // A soft limit of 0 would have the first tick that finds the thread
        // running end the process.
        if (lent > 0 && hard.count() > 1
            && scheduling->limitRealtimeRun(qMin(softRun, hard / 2), hard)) {
            if (!arm())
                return ThreadPriority::Normal;
            if (kit.makeThreadRealtime(thread, lent))
                return ThreadPriority::RealTime;
            disarm();
        }
        const int nice = qMax(niceLevel, limits->minNiceLevel);
        if (nice < 0 && kit.makeThreadHighPriority(thread, nice))
            return ThreadPriority::High;
        return ThreadPriority::Normal;
    }

    // On a detached thread: nothing waits for it, however long the bus takes.
    static void request(const std::shared_ptr<Shared> &shared)
    {
        pthread_setname_np(pthread_self(), "strobe priority");
        ThreadPriority got = ThreadPriority::Normal;
        {
            RealtimeKit kit(shared->busAddress, stepPriority::busTimeout);
            got = shared->ask(kit);
        }
        const std::lock_guard lock(shared->mutex);
        g_requestPending.store(false);
        if (shared->alive) {
            shared->priority.store(static_cast<int>(got));
            return;
        }
        // The thread lowered itself before the grant came: take it back.
        if (shared->armed)
            disarmBackstop(shared->thread);
        shared->armed = false;
        if (got != ThreadPriority::Normal)
            shared->scheduling->setThreadNormal(shared->thread);
    }
};

RaisedPriority::RaisedPriority(std::shared_ptr<ThreadScheduling> scheduling,
                               std::string busAddress)
    : m_shared(std::make_shared<Shared>(std::move(scheduling), std::move(busAddress)))
{}

RaisedPriority::~RaisedPriority() = default;

void RaisedPriority::raise()
{
    using namespace stepPriority;
    Shared &shared = *m_shared;
    {
        const std::lock_guard lock(shared.mutex);
        shared.thread = shared.scheduling->threadId();
        shared.alive = true;
        if (shared.scheduling->limitRealtimeRun(softRun, hardRun)
            && shared.scheduling->setRoundRobin(realtime)) {
            armBackstop(shared.thread);
            shared.armed = true;
            shared.priority.store(static_cast<int>(ThreadPriority::RealTime));
            return;
        }
    }
    // Claimed before the priority is known, so that whoever sees the one sees
    // the other.
    bool idle = false;
    if (g_requestPending.compare_exchange_strong(idle, true)) {
        try {
            std::thread([shared = m_shared] { Shared::request(shared); }).detach();
        } catch (const std::system_error &) {
            g_requestPending.store(false);
        }
    }
    int none = -1;
    shared.priority.compare_exchange_strong(none, static_cast<int>(ThreadPriority::Normal));
}

void RaisedPriority::lower()
{
    Shared &shared = *m_shared;
    const std::lock_guard lock(shared.mutex);
    if (!shared.alive)
        return;
    shared.alive = false;
    if (shared.armed)
        disarmBackstop(shared.thread);
    shared.armed = false;
    shared.scheduling->setNormal();
}

std::optional<ThreadPriority> RaisedPriority::priority() const
{
    const int priority = m_shared->priority.load();
    if (priority < 0)
        return std::nullopt;
    return static_cast<ThreadPriority>(priority);
}

bool RaisedPriority::requestPending()
{
    return g_requestPending.load();
}

} // namespace strobe
