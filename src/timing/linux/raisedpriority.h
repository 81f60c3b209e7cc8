#pragma once

#include "errors/threadaffinity.h"
#include "timing/linux/scheduling.h"

#include <QtGlobal>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace timing {

// How far a thread's priority was raised.
enum class ThreadPriority {
    Normal,
    // A raised nice level.
    High,
    // Round-robin real-time scheduling.
    RealTime,
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
    errors::ThreadAffinity m_raised;
};

} // namespace timing
