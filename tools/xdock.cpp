// Puts a panel along the bottom of the X screen, as a desktop's taskbar would:
// a dock window that reserves its strip (_NET_WM_STRUT_PARTIAL), painted in
// one colour, until the program is ended. Prints the window id.
//
//   xdock <height> [rrggbb]
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>

namespace {

void setAtom(Display *display, Window window, const char *property, const char *value)
{
    Atom atom = XInternAtom(display, value, False);
    XChangeProperty(display, window, XInternAtom(display, property, False), XA_ATOM, 32,
                    PropModeReplace, reinterpret_cast<unsigned char *>(&atom), 1);
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2 || argc > 3) {
        std::fputs("usage: xdock <height> [rrggbb]\n", stderr);
        return 2;
    }
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fputs("xdock: cannot open display\n", stderr);
        return 1;
    }
    const int screen = DefaultScreen(display);
    const int width = DisplayWidth(display, screen);
    const int height = DisplayHeight(display, screen);
    const int strip = std::atoi(argv[1]);
    const unsigned long colour = argc == 3 ? std::strtoul(argv[2], nullptr, 16) : 0x808080;
    const Window window = XCreateSimpleWindow(display, RootWindow(display, screen), 0,
                                              height - strip, width, strip, 0, 0, colour);
    setAtom(display, window, "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_DOCK");
    // left, right, top, bottom, then the start and end of each side's strip.
    long strut[12] = {0, 0, 0, strip, 0, 0, 0, 0, 0, 0, 0, width - 1};
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_STRUT_PARTIAL", False),
                    XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<unsigned char *>(strut),
                    12);
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_STRUT", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<unsigned char *>(strut), 4);
    XStoreName(display, window, "xdock");
    XMapWindow(display, window);
    XFlush(display);
    std::printf("0x%lx\n", window);
    std::fflush(stdout);
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
    }
}
