// Uncovers part of the screen at random moments, as a notification or a menu
// of another program does when it goes away: maps a small override-redirect
// window, destroys it after a random while, and straight after reads, again
// and again for a while, one row of pixels running from the middle of the
// uncovered patch to a point outside it. A read is one request, so its two
// pixels show the same moment.
//
//   uncover X Y SIZE ROUNDS
//
// Prints "<round> <ms since uncovering> <inside> <outside>" for every read
// whose two pixels differ, and exits 1 if there was one.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>

#include <unistd.h>

namespace {

double nowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

Window cover(Display *display, int x, int y, int size)
{
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = 0x808080;
    const Window window
        = XCreateWindow(display, DefaultRootWindow(display), x, y, static_cast<unsigned>(size),
                        static_cast<unsigned>(size), 0, CopyFromParent, InputOutput,
                        CopyFromParent, CWOverrideRedirect | CWBackPixel, &attributes);
    XMapRaised(display, window);
    XSync(display, False);
    return window;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 5) {
        std::fputs("usage: uncover X Y SIZE ROUNDS\n", stderr);
        return 2;
    }
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fputs("uncover: cannot open the display\n", stderr);
        return 2;
    }
    const int x = std::atoi(argv[1]);
    const int y = std::atoi(argv[2]);
    const int size = std::atoi(argv[3]);
    const int rounds = std::atoi(argv[4]);
    std::mt19937 random(static_cast<unsigned>(nowMs()));
    std::uniform_int_distribution<int> pause(0, 250000);
    int differing = 0;
    for (int round = 0; round < rounds; ++round) {
        usleep(static_cast<useconds_t>(pause(random)));
        const Window window = cover(display, x, y, size);
        usleep(static_cast<useconds_t>(pause(random)));
        XDestroyWindow(display, window);
        const double uncovered = nowMs();
        for (double since = 0; since < 150; since = nowMs() - uncovered) {
            XImage *row
                = XGetImage(display, DefaultRootWindow(display), x + size / 2, y + size / 2,
                            static_cast<unsigned>(size + 1), 1, AllPlanes, ZPixmap);
            if (!row) {
                std::fputs("uncover: cannot read the screen\n", stderr);
                return 2;
            }
            const unsigned long inside = XGetPixel(row, 0, 0) & 0xFFFFFF;
            const unsigned long outside = XGetPixel(row, size, 0) & 0xFFFFFF;
            XDestroyImage(row);
            if (inside != outside) {
                std::printf("%d %.1f #%06lx #%06lx\n", round, since, inside, outside);
                ++differing;
            }
        }
    }
    XCloseDisplay(display);
    return differing ? 1 : 0;
}
