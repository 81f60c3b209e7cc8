#pragma once

#include <QDBusConnection>
#include <QtGlobal>

#include <chrono>
#include <functional>
#include <optional>

namespace strobe {

// How far a thread's priority was raised.
enum class ThreadPriority {
    Normal,
    // A raised nice level.
    High,
    // Round-robin real-time scheduling.
    RealTime,
};

// The calling thread's scheduling, as the system offers it. Tests replace it
// to refuse what they like.
class ThreadScheduling
{
public:
    ThreadScheduling() = default;
    virtual ~ThreadScheduling();
    Q_DISABLE_COPY_MOVE(ThreadScheduling)

    // Lowers the process's limit on real-time processor time without a
    // blocking call (RLIMIT_RTTIME); a limit already lower stays.
    virtual bool limitRealtimeRun(std::chrono::microseconds soft, std::chrono::microseconds hard);
    // Round-robin real-time scheduling at priority, not passed on to children.
    virtual bool setRoundRobin(int priority);
    // Back to normal scheduling at nice level 0.
    virtual void setNormal();
    // The kernel's id of the calling thread.
    virtual quint64 threadId() const;
};

// RealtimeKit, the system bus service that lends real-time priority or a
// raised nice level to threads of desktop programs.
class RealtimeKit final
{
public:
    struct Limits
    {
        int maxRealtimePriority = 0;
        int minNiceLevel = 0;
        std::chrono::microseconds realtimeRunMax{0};
    };

    explicit RealtimeKit(QDBusConnection bus, std::chrono::milliseconds timeout);

    std::optional<Limits> limits() const;
    bool makeThreadRealtime(quint64 thread, int priority) const;
    bool makeThreadHighPriority(quint64 thread, int niceLevel) const;

private:
    std::optional<qint64> property(const QString &name) const;
    bool call(const QString &method, const QVariantList &arguments) const;

    QDBusConnection m_bus;
    int m_timeoutMs;
};

// What the strobe's step thread asks for, and the backstop behind it.
namespace stepPriority {
constexpr int realtime = 10;
constexpr int niceLevel = -10;
// A step takes microseconds and then waits for the next tick; a thread that
// ran this long without waiting is stuck. At the soft limit the thread goes
// back to normal scheduling; the hard limit, should that fail, ends the process.
constexpr std::chrono::microseconds softRun{100000};
constexpr std::chrono::microseconds hardRun{200000};
} // namespace stepPriority

// Raises the calling thread as far as the system allows, in this order:
// real-time by itself (RLIMIT_RTPRIO or privileges), real-time from
// RealtimeKit, a raised nice level from RealtimeKit; otherwise it stays as it
// is. Sets RLIMIT_RTTIME first and, for the real-time cases, has SIGXCPU put
// the thread back to normal scheduling. The bus is reached for only when the
// thread cannot raise itself.
ThreadPriority raiseThreadPriority(ThreadScheduling &scheduling,
                                   const std::function<RealtimeKit()> &realtimeKit);
// Puts the calling thread back to normal and releases the SIGXCPU backstop.
void lowerThreadPriority(ThreadScheduling &scheduling);

} // namespace strobe
