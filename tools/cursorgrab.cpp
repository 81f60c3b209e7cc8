// Prints the pointer image the X server shows at this moment:
//   <width>x<height> hot <x>,<y> <checksum of the ARGB pixels>
// so that a test can tell one pointer from another without a picture.
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

#include <cstdio>

int main()
{
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        fputs("cursorgrab: cannot open the display\n", stderr);
        return 1;
    }
    int eventBase = 0;
    int errorBase = 0;
    if (!XFixesQueryExtension(display, &eventBase, &errorBase)) {
        fputs("cursorgrab: the X server has no XFIXES\n", stderr);
        return 1;
    }
    XFixesCursorImage *image = XFixesGetCursorImage(display);
    if (!image) {
        fputs("cursorgrab: cannot read the pointer\n", stderr);
        return 1;
    }
    unsigned long sum = 0;
    for (int i = 0; i < image->width * image->height; ++i)
        sum = sum * 31 + (image->pixels[i] & 0xffffffffUL);
    printf("%dx%d hot %d,%d %08lx\n", image->width, image->height, image->xhot, image->yhot,
           sum & 0xffffffffUL);
    XFree(image);
    XCloseDisplay(display);
    return 0;
}
