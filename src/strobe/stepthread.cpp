#include "strobe/stepthread.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <limits>
#include <system_error>

namespace strobe {

namespace {

constexpr quint64 kNever = std::numeric_limits<quint64>::max();
// The timer's next deadline is read again while the clock moved by more than
// this (microseconds) across the read, a few times at most.
constexpr qint64 kGridReadSpread = 50;
constexpr int kGridReads = 4;
// The count is shared with the window's thread without a lock.
static_assert(std::atomic<quint64>::is_always_lock_free);

qint64 monotonicMicroseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000LL + now.tv_nsec / 1000;
}

bool signalled(const pollfd &descriptor)
{
    return descriptor.revents & (POLLIN | POLLERR | POLLHUP | POLLNVAL);
}

} // namespace

std::unique_ptr<StepThread> StepThread::start(int timerFd, std::unique_ptr<Stepper> stepper)
{
    return start(timerFd, std::move(stepper), std::make_shared<ThreadScheduling>(),
                 systemBusAddress());
}

std::unique_ptr<StepThread> StepThread::start(int timerFd, std::unique_ptr<Stepper> stepper,
                                              std::shared_ptr<ThreadScheduling> scheduling,
                                              std::string busAddress)
{
    const int stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    const int reportFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopFd < 0 || reportFd < 0 || !stepper) {
        if (stopFd >= 0)
            ::close(stopFd);
        if (reportFd >= 0)
            ::close(reportFd);
        return nullptr;
    }
    std::unique_ptr<StepThread> thread(new StepThread(timerFd, stopFd, reportFd,
                                                      std::move(stepper), std::move(scheduling),
                                                      std::move(busAddress)));
    try {
        thread->m_thread = std::thread([raw = thread.get()] { raw->run(); });
    } catch (const std::system_error &) {
        return nullptr;
    }
    return thread;
}

StepThread::StepThread(int timerFd, int stopFd, int reportFd, std::unique_ptr<Stepper> stepper,
                       std::shared_ptr<ThreadScheduling> scheduling, std::string busAddress)
    : m_timerFd(timerFd)
    , m_stopFd(stopFd)
    , m_reportFd(reportFd)
    , m_stepper(std::move(stepper))
    , m_priority(std::move(scheduling), std::move(busAddress))
{}

StepThread::~StepThread()
{
    if (m_thread.joinable()) {
        const std::uint64_t stop = 1;
        while (::write(m_stopFd, &stop, sizeof stop) < 0 && errno == EINTR) {
        }
        m_thread.join();
    }
    ::close(m_stopFd);
    ::close(m_reportFd);
}

void StepThread::reportAt(quint64 count)
{
    // Both sides store, then load what the other stores, in one total order
    // (sequentially consistent): if the thread's step missed the request,
    // this load sees the step.
    m_reportAt.store(count);
    reportIfDue(steps());
}

void StepThread::reportIfDue(quint64 made)
{
    quint64 due = m_reportAt.load();
    // One compare and swap, never a loop: a request that changes meanwhile
    // is met at the next step, or by reportAt() itself.
    if (made < due || !m_reportAt.compare_exchange_strong(due, kNever))
        return;
    const std::uint64_t one = 1;
    while (::write(m_reportFd, &one, sizeof one) < 0 && errno == EINTR) {
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
    pollfd descriptors[3]
        = {{m_timerFd, POLLIN, 0}, {m_stopFd, POLLIN, 0}, {m_stepper->pacingFd(), POLLIN, 0}};
    for (;;) {
        // Without its connection the stepper's clock never reports again, and
        // its time limit would make every wait return at once.
        const bool timer = descriptors[2].fd < 0 || m_stepper->followsTimer();
        descriptors[0].fd = timer ? m_timerFd : -1;
        const int timeout = timer ? -1 : m_stepper->pacingTimeout(monotonicMicroseconds());
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
        // Also after the timer: what the stepper asked for on its way may be
        // back already, read while the request went out.
        if (descriptors[2].fd >= 0) {
            const qint64 now = monotonicMicroseconds();
            if (m_stepper->paced(timerGrid(), now))
                step();
        }
    }
    m_priority.lower();
}

Stepper::TimerGrid StepThread::timerGrid() const
{
    // Nothing left and no interval: the timer is stopped. Nothing left with an
    // interval: a deadline is due whose expiry the kernel has not handled yet
    // (a late timer interrupt, as virtual machines have), so the timer has not
    // moved on to the next one; read again, and failing that, the next one is
    // an interval from now. The time left is counted from the moment of the
    // call, so the clock is read on both sides of it; a thread held up in
    // between (a busy machine, a virtual machine's processor taken away) would
    // put the deadline off by as long. Either way the reading is only a guess,
    // and says so: a stepper must not take it for a grid of its own.
    itimerspec next{};
    qint64 read = 0;
    bool due = false;
    bool exact = false;
    for (int attempt = 0; attempt < kGridReads && !exact; ++attempt) {
        const qint64 before = monotonicMicroseconds();
        if (timerfd_gettime(m_timerFd, &next) != 0)
            return {};
        read = monotonicMicroseconds();
        due = next.it_value.tv_sec == 0 && next.it_value.tv_nsec == 0;
        exact = read - before <= kGridReadSpread && !due;
    }
    const qint64 interval = next.it_interval.tv_sec * 1000000LL + next.it_interval.tv_nsec / 1000;
    if (due && interval == 0)
        return {};
    const qint64 untilNext
        = due ? interval : next.it_value.tv_sec * 1000000LL + next.it_value.tv_nsec / 1000;
    return {read + untilNext, interval, exact};
}

bool StepThread::timerExpired()
{
    // Deadlines missed in between are dropped, never replayed.
    std::uint64_t expirations = 0;
    if (::read(m_timerFd, &expirations, sizeof expirations) != sizeof expirations
        || expirations == 0)
        return false;
    // Only a stepper with a clock of its own needs the grid.
    if (m_stepper->pacingFd() < 0)
        return true;
    const qint64 now = monotonicMicroseconds();
    return m_stepper->deadlinePassed(timerGrid(), now);
}

void StepThread::step()
{
    m_stepper->step();
    const quint64 made = m_steps.load(std::memory_order_relaxed) + 1;
    m_steps.store(made);
    reportIfDue(made);
}

} // namespace strobe
