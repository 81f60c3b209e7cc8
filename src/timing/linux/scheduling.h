#pragma once

#include <QtGlobal>

#include <chrono>

namespace timing {

// Threads' scheduling, as the system offers it. Tests replace it to refuse
// what they like.
class ThreadScheduling
{
public:
    ThreadScheduling() = default;
    virtual ~ThreadScheduling();
    Q_DISABLE_COPY_MOVE(ThreadScheduling)

    // Lowers the process's limit on real-time processor time without a
    // blocking call (RLIMIT_RTTIME); a limit already lower stays.
    virtual bool limitRealtimeRun(std::chrono::microseconds soft, std::chrono::microseconds hard);
    // Round-robin real-time scheduling at priority for the calling thread, not
    // passed on to children.
    virtual bool setRoundRobin(int priority);
    // The calling thread back to normal scheduling at nice level 0.
    virtual void setNormal();
    // The same for another thread, if it is still one of this process's.
    virtual void setThreadNormal(quint64 thread);
    // The kernel's id of the calling thread.
    virtual quint64 threadId() const;
};

} // namespace timing
