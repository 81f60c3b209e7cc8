// Reads the colour of one pixel of the X screen.
//
//   pixelsampler --once X Y              prints #rrggbb
//   pixelsampler X Y SECONDS [PAUSE_US]  samples for SECONDS, printing
//                                        "<seconds since start> #rrggbb" at
//                                        the first sample and at each change
//
// Samples follow each other as fast as the server answers unless PAUSE_US
// asks for a rest between them. Timestamps are taken on the monotonic clock
// when each read's answer arrives: a read that queued behind a large drawing
// request is answered right after the server finished it, so the end of the
// read, not its middle, is when the new colour was there. With
// PIXELSAMPLER_ABSOLUTE set in the
// environment they are the clock's own readings, comparable across runs.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <unistd.h>

namespace {

double now_seconds()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

unsigned long read_pixel(Display *display, Window root, int x, int y)
{
    XImage *image = XGetImage(display, root, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image) {
        fputs("pixelsampler: cannot read the screen\n", stderr);
        exit(1);
    }
    unsigned long pixel = XGetPixel(image, 0, 0);
    XDestroyImage(image);
    return pixel & 0xFFFFFFul;
}

int usage()
{
    fputs("usage: pixelsampler --once X Y | X Y SECONDS [PAUSE_US]\n", stderr);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    const bool once = argc == 4 && argv[1][0] == '-';
    if (!once && argc != 4 && argc != 5)
        return usage();
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        fputs("pixelsampler: cannot open the display\n", stderr);
        return 1;
    }
    Window root = DefaultRootWindow(display);
    int x = atoi(argv[once ? 2 : 1]);
    int y = atoi(argv[once ? 3 : 2]);
    if (once) {
        printf("#%06lx\n", read_pixel(display, root, x, y));
        XCloseDisplay(display);
        return 0;
    }
    double seconds = atof(argv[3]);
    useconds_t pause = argc == 5 ? static_cast<useconds_t>(std::atol(argv[4])) : 0;
    double start = now_seconds();
    const double origin = getenv("PIXELSAMPLER_ABSOLUTE") ? 0.0 : start;
    unsigned long last = 0;
    int first = 1;
    for (;;) {
        unsigned long pixel = read_pixel(display, root, x, y);
        double at = now_seconds() - start;
        if (first || pixel != last) {
            printf("%.6f #%06lx\n", at + start - origin, pixel);
            first = 0;
            last = pixel;
        }
        if (at >= seconds)
            break;
        if (pause)
            usleep(pause);
    }
    fflush(stdout);
    XCloseDisplay(display);
    return 0;
}
