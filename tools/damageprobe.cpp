// Watches one pixel of the X screen without polling: sleeps until the server
// reports that something was drawn (the DAMAGE extension), then reads the
// pixel.
//
//   damageprobe X Y SECONDS   prints "<monotonic seconds> #rrggbb" at the
//                             start and at each change of the pixel
//
// A change is stamped when the damage report that led to it arrived, which is
// right after the server drew it. Between reports the probe takes no
// processor time, so it can run at real-time priority (chrt -f) without
// taking a core from what it measures, and be served first when it wakes.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>

#include <poll.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

double nowSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

unsigned long readPixel(Display *display, Window root, int x, int y)
{
    XImage *image = XGetImage(display, root, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image) {
        std::fputs("damageprobe: cannot read the screen\n", stderr);
        std::exit(1);
    }
    const unsigned long pixel = XGetPixel(image, 0, 0) & 0xFFFFFFul;
    XDestroyImage(image);
    return pixel;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fputs("usage: damageprobe X Y SECONDS\n", stderr);
        return 2;
    }
    const int x = std::atoi(argv[1]);
    const int y = std::atoi(argv[2]);
    const double seconds = std::atof(argv[3]);
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fputs("damageprobe: cannot open the display\n", stderr);
        return 1;
    }
    int eventBase = 0;
    int errorBase = 0;
    if (!XDamageQueryExtension(display, &eventBase, &errorBase)) {
        std::fputs("damageprobe: the X server has no DAMAGE extension\n", stderr);
        return 1;
    }
    const Window root = DefaultRootWindow(display);
    // One report per batch of drawing: the next comes once this one is taken
    // back with XDamageSubtract.
    const Damage damage = XDamageCreate(display, root, XDamageReportNonEmpty);
    const double end = nowSeconds() + seconds;
    unsigned long last = readPixel(display, root, x, y);
    std::printf("%.6f #%06lx\n", nowSeconds(), last);
    pollfd connection{ConnectionNumber(display), POLLIN, 0};
    for (double now = nowSeconds(); now < end; now = nowSeconds()) {
        if (XPending(display) == 0) {
            poll(&connection, 1, static_cast<int>((end - now) * 1000) + 1);
            continue;
        }
        XEvent event;
        XNextEvent(display, &event);
        if (event.type != eventBase + XDamageNotify)
            continue;
        const double reported = nowSeconds();
        XDamageSubtract(display, damage, None, None);
        const unsigned long pixel = readPixel(display, root, x, y);
        if (pixel != last) {
            std::printf("%.6f #%06lx\n", reported, pixel);
            last = pixel;
        }
    }
    std::fflush(stdout);
    XDamageDestroy(display, damage);
    XCloseDisplay(display);
    return 0;
}
