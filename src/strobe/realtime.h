#pragma once

#include <QtGlobal>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

struct DBusConnection;

namespace strobe {

// How far a thread's priority was raised.
enum class ThreadPriority {
    Normal,
    // A raised nice level.
    High,
    // Round-robin real-time scheduling.
    RealTime,
};

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

// The system bus's address, as the environment gives it or by default.
std::string systemBusAddress();

// RealtimeKit, the system bus service that lends real-time priority or a
// raised nice level to threads of desktop programs. It talks to the bus on a
// private connection of its own, each call waiting at most the timeout; only
// the first connection's handshake may wait longer on a bus that never
// answers, so it is only ever used on a thread nothing waits for.
class RealtimeKit final
{
public:
    struct Limits
    {
        int maxRealtimePriority = 0;
        int minNiceLevel = 0;
        std::chrono::microseconds realtimeRunMax{0};
    };

    RealtimeKit(std::string busAddress, std::chrono::milliseconds timeout);
    ~RealtimeKit();
    Q_DISABLE_COPY_MOVE(RealtimeKit)

    // Connects on first use; nullopt without a connection or a RealtimeKit.
    std::optional<Limits> limits();
    bool makeThreadRealtime(quint64 thread, int priority);
    bool makeThreadHighPriority(quint64 thread, int niceLevel);

private:
    bool connect();
    std::optional<qint64> property(const char *name);
    // A method that takes a thread id and one more basic value.
    bool callForThread(const char *method, quint64 thread, int type, const void *value);

    std::string m_address;
    int m_timeoutMs;
    DBusConnection *m_connection = nullptr;
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
// RealtimeKit answers in milliseconds.
constexpr std::chrono::milliseconds busTimeout{500};
} // namespace stepPriority

// Raises one thread as far as the system allows, in this order: real-time by
// itself (RLIMIT_RTPRIO or privileges), real-time from RealtimeKit, a raised
// nice level from RealtimeKit; otherwise it stays as it is. Sets RLIMIT_RTTIME
// first and, for the real-time cases, has SIGXCPU put the thread back to normal
// scheduling.
//
// The thread itself never waits for the bus: RealtimeKit is asked on a
// detached thread that nothing joins, one request at a time in the process,
// and a grant that comes after the thread lowered itself is taken back.
class RaisedPriority final
{
public:
    RaisedPriority(std::shared_ptr<ThreadScheduling> scheduling, std::string busAddress);
    ~RaisedPriority();
    Q_DISABLE_COPY_MOVE(RaisedPriority)

    // On the thread to raise; never blocks.
    void raise();
    // On the same thread, before it ends: back to normal, and a request still
    // under way is abandoned.
    void lower();
    // What the thread has so far: nullopt before raise().
    std::optional<ThreadPriority> priority() const;

    // Whether a request to RealtimeKit is under way in this process.
    static bool requestPending();

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};

} // namespace strobe
