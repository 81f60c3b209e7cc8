#include "shell/endrequests.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <system_error>
#include <thread>

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace shell {

namespace {

constexpr int kEndSignals[] = {SIGTERM, SIGINT, SIGHUP};

volatile std::sig_atomic_t s_requested = 0;
// Which kinds came, in the order of kEndSignals, and whether the window shows.
volatile std::sig_atomic_t s_came[std::size(kEndSignals)] = {};
volatile std::sig_atomic_t s_windowShown = 0;
// The handler's byte wakes the event loop; its reading end is watched there.
int s_wake[2] = {-1, -1};

// While the requests are held: a thread reads them off a signalfd and ends the
// program at once, with status 0. Nothing is saved before the window exists,
// and the start may hang (a display that never answers) before it can take them.
struct HeldWatch
{
    int signals = -1;
    int stop = -1;
    std::thread thread;
};
HeldWatch *s_watch = nullptr;

sigset_t endSignals()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int number : kEndSignals)
        sigaddset(&set, number);
    return set;
}

std::size_t slotOf(int number)
{
    std::size_t slot = 0;
    while (slot + 1 < std::size(kEndSignals) && kEndSignals[slot] != number)
        ++slot;
    return slot;
}

// A request closes the program as its window's close does, so that the saves
// still waiting are written. A second one of the same kind ends it at once:
// before the window shows with status 0, as while the requests are held;
// after, as the system would. Async-signal-safe only.
void onEndSignal(int number)
{
    const int savedErrno = errno;
    volatile std::sig_atomic_t &came = s_came[slotOf(number)];
    if (came && !s_windowShown)
        ::_exit(0);
    if (came) {
        // The window showed between the first and this one.
        ::signal(number, SIG_DFL);
        ::raise(number);
        errno = savedErrno;
        return;
    }
    came = 1;
    s_requested = 1;
    const char byte = char(number);
    [[maybe_unused]] const ssize_t written = ::write(s_wake[1], &byte, 1);
    if (s_windowShown)
        ::signal(number, SIG_DFL);
    errno = savedErrno;
}

[[noreturn]] void endWithNothingToSave(int)
{
    ::_exit(0);
}

void watchHeld(int signals, int stop)
{
    pollfd watched[2] = {{signals, POLLIN, 0}, {stop, POLLIN, 0}};
    for (;;) {
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (watched[1].revents != 0 || (watched[0].revents & (POLLERR | POLLNVAL)) != 0)
            return;
        signalfd_siginfo info{};
        if (::read(signals, &info, sizeof info) == sizeof info)
            ::_exit(0);
    }
}

void stopWatching()
{
    if (!s_watch)
        return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(s_watch->stop, &one, sizeof one);
    s_watch->thread.join();
    ::close(s_watch->signals);
    ::close(s_watch->stop);
    delete s_watch;
    s_watch = nullptr;
}

void handleWith(void (*handler)(int))
{
    for (const int number : kEndSignals) {
        struct sigaction action = {};
        action.sa_handler = handler;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        ::sigaction(number, &action, nullptr);
    }
}

} // namespace

void holdEndRequests()
{
    const sigset_t set = endSignals();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, s_wake) != 0)
        s_wake[0] = s_wake[1] = -1;
    const int signals = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    const int stop = ::eventfd(0, EFD_CLOEXEC);
    if (signals >= 0 && stop >= 0) {
        try {
            s_watch = new HeldWatch{signals, stop, std::thread(watchHeld, signals, stop)};
            return;
        } catch (const std::system_error &) {
        }
    }
    // Without the thread a request waits until it is taken; start-up is short.
    if (signals >= 0)
        ::close(signals);
    if (stop >= 0)
        ::close(stop);
}

void takeEndRequests(QObject *context)
{
    stopWatching();
    if (!context) {
        handleWith(endWithNothingToSave);
    } else if (s_wake[0] >= 0) {
        auto *notifier = new QSocketNotifier(s_wake[0], QSocketNotifier::Read, context);
        QObject::connect(notifier, &QSocketNotifier::activated, context, [] {
            char byte = 0;
            while (::read(s_wake[0], &byte, 1) > 0) {
            }
            // Not quit(): that asks every window to close, and an open strobe
            // turns its close into an unload, which would cancel the quit.
            QCoreApplication::exit(0);
        });
        handleWith(onEndSignal);
    }
    const sigset_t set = endSignals();
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

void windowShown()
{
    s_windowShown = 1;
    for (std::size_t slot = 0; slot < std::size(kEndSignals); ++slot) {
        if (s_came[slot])
            ::signal(kEndSignals[slot], SIG_DFL);
    }
}

bool endRequested()
{
    return s_requested != 0;
}

} // namespace shell
