#include "timing/linux/scheduling.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>

namespace timing {

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

} // namespace timing
