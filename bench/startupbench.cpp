// Start-up time of programs, from just before exec to the map of their first
// top-level window, on the X display of $DISPLAY. Runs the programs in turn,
// each ending with SIGTERM before the next starts, and prints each one's
// median and quartiles in milliseconds.
//
//   startupbench <runs> <program> [<program>...]
#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds from exec to the first map of a child of the root, or -1.
double timeOneStart(Display *display, const char *program)
{
    while (XPending(display))
        XSync(display, True);
    const Clock::time_point start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execl(program, program, static_cast<char *>(nullptr));
        _exit(127);
    }
    double elapsed = -1;
    const Clock::time_point giveUp = start + std::chrono::seconds(20);
    while (elapsed < 0 && Clock::now() < giveUp) {
        if (!XPending(display)) {
            pollfd watched{ConnectionNumber(display), POLLIN, 0};
            poll(&watched, 1, 100);
            continue;
        }
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == MapNotify && !event.xmap.override_redirect)
            elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    }
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    return elapsed;
}

double at(std::vector<double> times, double fraction)
{
    std::sort(times.begin(), times.end());
    return times[static_cast<size_t>(fraction * static_cast<double>(times.size() - 1) + 0.5)];
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 3) {
        std::fputs("usage: startupbench <runs> <program> [<program>...]\n", stderr);
        return 2;
    }
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fputs("startupbench: cannot open display\n", stderr);
        return 1;
    }
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    const int runs = std::atoi(argv[1]);
    std::vector<std::vector<double>> times(static_cast<size_t>(argc - 2));
    for (int run = 0; run < runs; ++run) {
        for (int p = 2; p < argc; ++p) {
            const double ms = timeOneStart(display, argv[p]);
            if (ms < 0) {
                std::fprintf(stderr, "startupbench: %s mapped no window\n", argv[p]);
                return 1;
            }
            times[static_cast<size_t>(p - 2)].push_back(ms);
        }
    }
    for (int p = 2; p < argc; ++p) {
        const std::vector<double> &own = times[static_cast<size_t>(p - 2)];
        std::printf("%s: median %.1f ms (quartiles %.1f, %.1f) over %d runs\n", argv[p],
                    at(own, 0.5), at(own, 0.25), at(own, 0.75), runs);
    }
    XCloseDisplay(display);
    return 0;
}
