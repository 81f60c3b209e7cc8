// Start-up and Start/Escape cycles of a windowed program, as the X server
// sees them, for the start-up benchmark.
//
//   startprobe run COMMAND [ARG...]
//       starts COMMAND and prints, once its first top-level window is drawn,
//       "pid=P window=W map_ms=M drawn_ms=D cpu_ms=C icon_bytes=I": the times
//       from the exec to the window's MapNotify and to the first drawing the
//       server reports inside it (DAMAGE), the processor time of all the
//       program's threads at that moment, and the size of the window's icon
//       property (_NET_WM_ICON), which the server keeps. COMMAND keeps
//       running, its output going to /dev/null.
//   startprobe cycles N WINDOW
//       N times: presses Space (XTEST), waits until another top-level window
//       is mapped and has the keyboard, presses Escape, waits until it is
//       unmapped and WINDOW has the keyboard again. Prints the milliseconds
//       the cycles took.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xdamage.h>
#include <X11/keysym.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

double nowMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

[[noreturn]] void die(const char *why)
{
    std::fprintf(stderr, "startprobe: %s\n", why);
    std::exit(1);
}

// Processor time of every thread of the process, to the nanosecond.
double cpuMs(pid_t pid)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR *dir = opendir(tasks.c_str());
    if (!dir)
        return -1;
    double total = 0;
    while (const dirent *entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        FILE *file = std::fopen((tasks + "/" + entry->d_name + "/schedstat").c_str(), "r");
        unsigned long long ns = 0;
        if (file && std::fscanf(file, "%llu", &ns) == 1)
            total += static_cast<double>(ns) / 1e6;
        if (file)
            std::fclose(file);
    }
    closedir(dir);
    return total;
}

long iconBytes(Display *display, Window window)
{
    Atom type = None;
    int format = 0;
    unsigned long items = 0;
    unsigned long after = 0;
    unsigned char *data = nullptr;
    const Atom icon = XInternAtom(display, "_NET_WM_ICON", False);
    if (XGetWindowProperty(display, window, icon, 0, 0, False, AnyPropertyType, &type, &format,
                           &items, &after, &data)
        != Success)
        return -1;
    if (data)
        XFree(data);
    return static_cast<long>(after);
}

// Waits for the next event, giving up after the deadline.
bool nextEvent(Display *display, XEvent &event, double deadline)
{
    pollfd connection{ConnectionNumber(display), POLLIN, 0};
    while (XPending(display) == 0) {
        const double left = deadline - nowMs();
        if (left <= 0)
            return false;
        poll(&connection, 1, static_cast<int>(left) + 1);
    }
    XNextEvent(display, &event);
    return true;
}

bool inside(const XWindowAttributes &window, const XDamageNotifyEvent &damage)
{
    return damage.area.x < window.x + window.width && window.x < damage.area.x + damage.area.width
           && damage.area.y < window.y + window.height
           && window.y < damage.area.y + damage.area.height;
}

int run(Display *display, char **command)
{
    int damageEvent = 0;
    int damageError = 0;
    if (!XDamageQueryExtension(display, &damageEvent, &damageError))
        die("the X server has no DAMAGE extension");
    const Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);
    XDamageCreate(display, root, XDamageReportRawRectangles);
    XSync(display, False);
    const double start = nowMs();
    const pid_t pid = fork();
    if (pid == 0) {
        // The program's output is not the probe's: a reader of the probe's
        // output would wait for the program to end.
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        close(ConnectionNumber(display));
        execvp(command[0], command);
        _exit(127);
    }
    Window window = None;
    XWindowAttributes attributes{};
    double mapped = 0;
    const double deadline = start + 30000;
    XEvent event;
    while (nextEvent(display, event, deadline)) {
        if (event.type == MapNotify && window == None && event.xmap.event == root) {
            mapped = nowMs();
            window = event.xmap.window;
            XGetWindowAttributes(display, window, &attributes);
        } else if (event.type == damageEvent + XDamageNotify && window != None
                   && inside(attributes, reinterpret_cast<XDamageNotifyEvent &>(event))) {
            const double drawn = nowMs();
            const double cpu = cpuMs(pid);
            std::printf("pid=%d window=%lu map_ms=%.3f drawn_ms=%.3f cpu_ms=%.3f icon_bytes=%ld\n",
                        pid, window, mapped - start, drawn - start, cpu,
                        iconBytes(display, window));
            return 0;
        }
    }
    std::printf("pid=%d\n", pid);
    die("no window was drawn within 30 s");
}

void press(Display *display, KeySym key)
{
    const KeyCode code = XKeysymToKeycode(display, key);
    XTestFakeKeyEvent(display, code, True, CurrentTime);
    XTestFakeKeyEvent(display, code, False, CurrentTime);
    XFlush(display);
}

Window focus(Display *display)
{
    Window window = None;
    int revert = 0;
    XGetInputFocus(display, &window, &revert);
    return window;
}

// Waits until the window with the keyboard is (or is not) the given one.
void waitForFocus(Display *display, Window window, bool on, double deadline)
{
    while ((focus(display) == window) != on) {
        if (nowMs() > deadline)
            die("the keyboard did not move");
        usleep(500);
    }
}

int cycles(Display *display, int count, Window main)
{
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    if (!XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor))
        die("the X server has no XTEST extension");
    const Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);
    const double start = nowMs();
    XEvent event;
    for (int cycle = 0; cycle < count; ++cycle) {
        const double deadline = nowMs() + 10000;
        waitForFocus(display, main, true, deadline);
        press(display, XK_space);
        Window strobe = None;
        while (strobe == None) {
            if (!nextEvent(display, event, deadline))
                die("no window opened");
            if (event.type == MapNotify && event.xmap.event == root && event.xmap.window != main)
                strobe = event.xmap.window;
        }
        waitForFocus(display, main, false, deadline);
        press(display, XK_Escape);
        bool closed = false;
        while (!closed) {
            if (!nextEvent(display, event, deadline))
                die("the window did not close");
            closed = (event.type == UnmapNotify && event.xunmap.window == strobe)
                     || (event.type == DestroyNotify && event.xdestroywindow.window == strobe);
        }
    }
    waitForFocus(display, main, true, nowMs() + 10000);
    std::printf("%.1f\n", nowMs() - start);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const bool runMode = argc >= 3 && std::strcmp(argv[1], "run") == 0;
    const bool cycleMode = argc == 4 && std::strcmp(argv[1], "cycles") == 0;
    if (!runMode && !cycleMode) {
        std::fputs("usage: startprobe run COMMAND [ARG...] | startprobe cycles N WINDOW\n",
                   stderr);
        return 2;
    }
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        die("cannot open the display");
    const int status = runMode ? run(display, argv + 2)
                               : cycles(display, std::atoi(argv[2]),
                                        static_cast<Window>(std::strtoul(argv[3], nullptr, 0)));
    XCloseDisplay(display);
    return status;
}
