// Prints the X server's screen saver state ("on", "off" or "disabled") and how
// long the server has seen no input, in milliseconds. Given a number of
// seconds, it watches that long over one connection (a new connection can
// count as activity) and prints the longest time without input it saw.
//   saverstate [seconds]
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

int main(int argc, char *argv[])
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 0.0;
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "saverstate: cannot open the display\n");
        return 1;
    }
    int event = 0;
    int error = 0;
    XScreenSaverInfo *info = XScreenSaverAllocInfo();
    if (!info || !XScreenSaverQueryExtension(display, &event, &error)) {
        std::fprintf(stderr, "saverstate: the server has no screen saver extension\n");
        return 1;
    }
    unsigned long longestIdle = 0;
    const timespec pause{0, 100'000'000};
    for (int polls = static_cast<int>(seconds * 10);; --polls) {
        XScreenSaverQueryInfo(display, DefaultRootWindow(display), info);
        longestIdle = std::max(longestIdle, info->idle);
        if (polls <= 0)
            break;
        nanosleep(&pause, nullptr);
    }
    const char *state = info->state == ScreenSaverOn    ? "on"
                        : info->state == ScreenSaverOff ? "off"
                                                        : "disabled";
    std::printf("%s %lu\n", state, longestIdle);
    XFree(info);
    XCloseDisplay(display);
    return 0;
}
