#include "timing/linux/raisedpriority.h"

#include "timing/linux/realtimekit.h"

#include <pthread.h>
#include <sched.h>
#include <sys/types.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <mutex>
#include <system_error>
#include <thread>

namespace timing {

namespace {

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

} // namespace

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
    m_raised.check();
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
    m_raised.check();
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

} // namespace timing
