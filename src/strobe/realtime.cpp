#include "realtime.h"

#include <QDBusMessage>
#include <QDBusVariant>

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <mutex>

namespace strobe {

namespace {

const QString kService = QStringLiteral("org.freedesktop.RealtimeKit1");
const QString kPath = QStringLiteral("/org/freedesktop/RealtimeKit1");

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

void armBackstop(quint64 thread)
{
    static std::once_flag installed;
    std::call_once(installed, [] {
        struct sigaction current
        {
        };
        // A handler someone else installed, or SIG_IGN, stays.
        if (sigaction(SIGXCPU, nullptr, &current) != 0 || current.sa_handler != SIG_DFL)
            return;
        struct sigaction action
        {
        };
        action.sa_handler = demoteRealtimeThread;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGXCPU, &action, nullptr);
    });
    g_realtimeThread.store(static_cast<pid_t>(thread));
}

void disarmBackstop()
{
    g_realtimeThread.store(0);
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
    const sched_param normal{};
    sched_setscheduler(0, SCHED_OTHER, &normal);
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 0);
}

quint64 ThreadScheduling::threadId() const
{
    return static_cast<quint64>(gettid());
}

RealtimeKit::RealtimeKit(QDBusConnection bus, std::chrono::milliseconds timeout)
    : m_bus(std::move(bus))
    , m_timeoutMs(static_cast<int>(timeout.count()))
{}

std::optional<RealtimeKit::Limits> RealtimeKit::limits() const
{
    if (!m_bus.isConnected())
        return std::nullopt;
    const std::optional<qint64> priority = property(QStringLiteral("MaxRealtimePriority"));
    if (!priority)
        return std::nullopt;
    const std::optional<qint64> nice = property(QStringLiteral("MinNiceLevel"));
    const std::optional<qint64> run = property(QStringLiteral("RTTimeUSecMax"));
    return Limits{static_cast<int>(*priority), static_cast<int>(nice.value_or(0)),
                  std::chrono::microseconds(run.value_or(0))};
}

bool RealtimeKit::makeThreadRealtime(quint64 thread, int priority) const
{
    return call(
        QStringLiteral("MakeThreadRealtime"),
        {QVariant::fromValue(thread), QVariant::fromValue(static_cast<quint32>(priority))});
}

bool RealtimeKit::makeThreadHighPriority(quint64 thread, int niceLevel) const
{
    return call(
        QStringLiteral("MakeThreadHighPriority"),
        {QVariant::fromValue(thread), QVariant::fromValue(static_cast<qint32>(niceLevel))});
}

std::optional<qint64> RealtimeKit::property(const QString &name) const
{
    QDBusMessage get = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << kService << name;
    const QDBusMessage reply = m_bus.call(get, QDBus::Block, m_timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    bool ok = false;
    const qint64 value
        = qvariant_cast<QDBusVariant>(reply.arguments().constFirst()).variant().toLongLong(&ok);
    return ok ? std::optional<qint64>(value) : std::nullopt;
}

bool RealtimeKit::call(const QString &method, const QVariantList &arguments) const
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kService, method);
    message.setArguments(arguments);
    return m_bus.call(message, QDBus::Block, m_timeoutMs).type() == QDBusMessage::ReplyMessage;
}

ThreadPriority raiseThreadPriority(ThreadScheduling &scheduling,
                                   const std::function<RealtimeKit()> &realtimeKit)
{
    using namespace stepPriority;
    const quint64 thread = scheduling.threadId();
    if (scheduling.limitRealtimeRun(softRun, hardRun) && scheduling.setRoundRobin(realtime)) {
        armBackstop(thread);
        return ThreadPriority::RealTime;
    }
    const RealtimeKit kit = realtimeKit();
    const std::optional<RealtimeKit::Limits> limits = kit.limits();
    if (!limits)
        return ThreadPriority::Normal;
    // RealtimeKit lends real-time priority only to a process whose hard
    // RLIMIT_RTTIME is within its own maximum.
    const int priority = qMin(realtime, limits->maxRealtimePriority);
    const std::chrono::microseconds hard = qMin(hardRun, limits->realtimeRunMax);
    // A soft limit of 0 would have the first tick that finds the thread running end
    // the process.
    if (priority > 0 && hard.count() > 1
        && scheduling.limitRealtimeRun(qMin(softRun, hard / 2), hard)) {
        armBackstop(thread);
        if (kit.makeThreadRealtime(thread, priority))
            return ThreadPriority::RealTime;
        disarmBackstop();
    }
    const int nice = qMax(niceLevel, limits->minNiceLevel);
    if (nice < 0 && kit.makeThreadHighPriority(thread, nice))
        return ThreadPriority::High;
    return ThreadPriority::Normal;
}

void lowerThreadPriority(ThreadScheduling &scheduling)
{
    disarmBackstop();
    scheduling.setNormal();
}

} // namespace strobe
