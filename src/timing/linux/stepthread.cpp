#include "timing/linux/stepthread.h"

#include "timing/linux/realtimekit.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <limits>
#include <system_error>

namespace timing {

namespace {

constexpr quint64 kNever = std::numeric_limits<quint64>::max();
// The timer's next deadline is read again while the clock moved by more than
// this (microseconds) across the read, a few times at most.
constexpr Micros kGridReadSpread = 50;
constexpr int kGridReads = 4;
// The count is shared with the window's thread without a lock.
static_assert(std::atomic<quint64>::is_always_lock_free);

Micros micros(const timespec &time)
{
    return static_cast<Micros>(time.tv_sec) * 1000000 + time.tv_nsec / 1000;
}

bool signalled(const pollfd &descriptor)
{
    return descriptor.revents & (POLLIN | POLLERR | POLLHUP | POLLNVAL);
}

} // namespace

std::unique_ptr<StepThread> StepThread::start(int timerFd, std::unique_ptr<Stepper> stepper,
                                              std::unique_ptr<Pacer> pacer)
{
    return start(timerFd, std::move(stepper), std::move(pacer),
                 std::make_shared<ThreadScheduling>(), systemBusAddress());
}

std::unique_ptr<StepThread> StepThread::start(int timerFd, std::unique_ptr<Stepper> stepper,
                                              std::unique_ptr<Pacer> pacer,
                                              std::shared_ptr<ThreadScheduling> scheduling,
                                              std::string busAddress)
{
    handles::Descriptor stopFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    handles::Descriptor wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!stopFd.isValid() || !wakeFd.isValid() || !stepper)
        return nullptr;
    std::unique_ptr<StepThread> thread(
        new StepThread(timerFd, std::move(stopFd), std::move(wakeFd), std::move(stepper),
                       std::move(pacer), std::move(scheduling), std::move(busAddress)));
    try {
        thread->m_thread = std::thread([raw = thread.get()] { raw->run(); });
    } catch (const std::system_error &) {
        return nullptr;
    }
    return thread;
}

StepThread::StepThread(int timerFd, handles::Descriptor stopFd, handles::Descriptor wakeFd,
                       std::unique_ptr<Stepper> stepper, std::unique_ptr<Pacer> pacer,
                       std::shared_ptr<ThreadScheduling> scheduling, std::string busAddress)
    : m_timerFd(timerFd)
    , m_stopFd(std::move(stopFd))
    , m_wakeFd(std::move(wakeFd))
    , m_stepper(std::move(stepper))
    , m_pacer(std::move(pacer))
    , m_priority(std::move(scheduling), std::move(busAddress))
{}

StepThread::~StepThread()
{
    if (m_thread.joinable()) {
        const std::uint64_t stop = 1;
        while (::write(m_stopFd.get(), &stop, sizeof stop) < 0 && errno == EINTR) {
        }
        m_thread.join();
    }
}

void StepThread::wakeAt(quint64 count)
{
    m_owner.check();
    // Both sides store, then load what the other stores, in one total order
    // (sequentially consistent): if the thread's step missed the request,
    // this load sees the step.
    m_wakeAt.store(count);
    wakeIfDue(steps());
}

void StepThread::wakeIfDue(quint64 made)
{
    quint64 due = m_wakeAt.load();
    // One compare and swap, never a loop: a request that changes meanwhile
    // is met at the next step, or by wakeAt() itself.
    if (made < due || !m_wakeAt.compare_exchange_strong(due, kNever))
        return;
    const std::uint64_t one = 1;
    while (::write(m_wakeFd.get(), &one, sizeof one) < 0 && errno == EINTR) {
    }
}

std::optional<ThreadPriority> StepThread::priority() const
{
    return m_priority.priority();
}

void StepThread::run()
{
    pthread_setname_np(pthread_self(), "strobe steps");
    m_priority.raise();
    // A negative descriptor is never signalled.
    pollfd descriptors[3] = {{m_timerFd, POLLIN, 0},
                             {m_stopFd.get(), POLLIN, 0},
                             {m_pacer ? m_pacer->descriptor() : -1, POLLIN, 0}};
    for (;;) {
        // Without its connection the pacer's clock never reports again, and
        // its time limit would make every wait return at once.
        const bool timer = descriptors[2].fd < 0 || m_pacer->followsTimer();
        descriptors[0].fd = timer ? m_timerFd : -1;
        const int timeout = timer ? -1 : m_pacer->timeout(monotonicMicros());
        if (poll(descriptors, 3, timeout) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        // Stopped, or a timer that went wrong: never spin on it.
        if (signalled(descriptors[1]) || (descriptors[0].revents & (POLLERR | POLLHUP | POLLNVAL)))
            break;
        // A pacing connection that broke leaves the steps on the timer's grid.
        if (descriptors[2].revents & (POLLERR | POLLHUP | POLLNVAL))
            descriptors[2].fd = -1;
        const bool expired = descriptors[0].revents & POLLIN;
        if (expired && timerExpired())
            step();
        // Also after the timer: what the pacer asked for on its way may be
        // back already, read while the request went out.
        if (descriptors[2].fd >= 0 && m_pacer->paced(timerGrid(), monotonicMicros()))
            step();
    }
    m_priority.lower();
}

Pacer::TimerGrid StepThread::timerGrid() const
{
    // Nothing left and no interval: the timer is stopped. Nothing left with an
    // interval: a deadline is due whose expiry the kernel has not handled yet
    // (a late timer interrupt, as virtual machines have), so the timer has not
    // moved on to the next one; read again, and failing that, the next one is
    // an interval from now. The time left is counted from the moment of the
    // call, so the clock is read on both sides of it; a thread held up in
    // between (a busy machine, a virtual machine's processor taken away) would
    // put the deadline off by as long. Either way the reading is only a guess,
    // and says so: a pacer must not take it for a grid of its own.
    itimerspec next{};
    Micros read = 0;
    bool due = false;
    bool exact = false;
    for (int attempt = 0; attempt < kGridReads && !exact; ++attempt) {
        const Micros before = monotonicMicros();
        if (timerfd_gettime(m_timerFd, &next) != 0)
            return {};
        read = monotonicMicros();
        due = next.it_value.tv_sec == 0 && next.it_value.tv_nsec == 0;
        exact = read - before <= kGridReadSpread && !due;
    }
    const Micros interval = micros(next.it_interval);
    if (due && interval == 0)
        return {};
    const Micros untilNext = due ? interval : micros(next.it_value);
    return {read + untilNext, interval, exact};
}

bool StepThread::timerExpired()
{
    // Deadlines missed in between are dropped, never replayed.
    std::uint64_t expirations = 0;
    if (::read(m_timerFd, &expirations, sizeof expirations) != sizeof expirations
        || expirations == 0)
        return false;
    // Only a pacer needs the grid.
    if (!m_pacer)
        return true;
    return m_pacer->deadlinePassed(timerGrid(), monotonicMicros());
}

void StepThread::step()
{
    m_stepper->step();
    const quint64 made = m_steps.load(std::memory_order_relaxed) + 1;
    m_steps.store(made);
    wakeIfDue(made);
}

} // namespace timing
