// Two ways to change a full-screen colour at a chosen refresh, side by side,
// on the same frame clock the strobe uses:
//
//   presentmodes fill   STEP_MS SECONDS   the window's background is changed
//                                         right after the server reports the
//                                         step's refresh (NotifyMSC), as the
//                                         strobe does
//   presentmodes pixmap STEP_MS SECONDS   a full-screen pixmap of the colour is
//                                         handed to the server ahead of time to
//                                         be shown at the step's refresh
//                                         (PresentPixmap); two of them, one
//                                         filled while the other is shown
//
// It alternates black and white on a window over the whole screen; run
// frameprobe beside it to see where the changes land. At the end it prints how
// the server showed the pixmaps (copy or flip), the pixmaps' size, and the
// steps that came late.
#include "timing/frameclock.h"

#include <xcb/present.h>
#include <xcb/xcb.h>

#include <poll.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

using timing::FrameClock;
using timing::FrameGrid;
using timing::Refresh;

constexpr std::uint32_t kClockSerial = 0;

std::int64_t nowMicroseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "presentmodes: %s\n", what);
    std::exit(1);
}

struct Screen
{
    xcb_connection_t *connection = nullptr;
    xcb_screen_t *screen = nullptr;
    xcb_window_t window = 0;
    std::uint8_t presentOpcode = 0;
    xcb_gcontext_t gc = 0;
};

Screen open()
{
    Screen s;
    int number = 0;
    s.connection = xcb_connect(nullptr, &number);
    if (xcb_connection_has_error(s.connection))
        fail("cannot open the display");
    const xcb_query_extension_reply_t *present
        = xcb_get_extension_data(s.connection, &xcb_present_id);
    if (!present || !present->present)
        fail("no Present extension");
    s.presentOpcode = present->major_opcode;
    std::free(xcb_present_query_version_reply(
        s.connection, xcb_present_query_version(s.connection, 1, 2), nullptr));
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(s.connection));
    for (int i = 0; i < number && screens.rem; ++i)
        xcb_screen_next(&screens);
    s.screen = screens.data;
    s.window = xcb_generate_id(s.connection);
    const std::uint32_t values[] = {s.screen->black_pixel, 1};
    xcb_create_window(s.connection, XCB_COPY_FROM_PARENT, s.window, s.screen->root, 0, 0,
                      s.screen->width_in_pixels, s.screen->height_in_pixels, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, s.screen->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    xcb_map_window(s.connection, s.window);
    s.gc = xcb_generate_id(s.connection);
    xcb_create_gc(s.connection, s.gc, s.window, 0, nullptr);
    xcb_present_select_input(s.connection, xcb_generate_id(s.connection), s.window,
                             XCB_PRESENT_EVENT_MASK_COMPLETE_NOTIFY
                                 | XCB_PRESENT_EVENT_MASK_IDLE_NOTIFY);
    xcb_flush(s.connection);
    return s;
}

std::uint32_t colourOf(const Screen &s, std::int64_t index)
{
    return index % 2 ? s.screen->white_pixel : s.screen->black_pixel;
}

// The next Present event, waiting for it.
xcb_present_complete_notify_event_t nextComplete(const Screen &s, std::int64_t end)
{
    for (;;) {
        xcb_generic_event_t *event = xcb_poll_for_event(s.connection);
        if (!event) {
            if (xcb_connection_has_error(s.connection))
                fail("the display went away");
            if (nowMicroseconds() > end)
                return {};
            pollfd descriptor{xcb_get_file_descriptor(s.connection), POLLIN, 0};
            poll(&descriptor, 1, 100);
            continue;
        }
        const auto *generic = reinterpret_cast<xcb_ge_generic_event_t *>(event);
        if ((event->response_type & 0x7F) == XCB_GE_GENERIC
            && generic->extension == s.presentOpcode
            && generic->event_type == XCB_PRESENT_COMPLETE_NOTIFY) {
            xcb_present_complete_notify_event_t complete{};
            std::memcpy(&complete, event, sizeof complete);
            std::free(event);
            return complete;
        }
        std::free(event);
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4 || (std::strcmp(argv[1], "fill") != 0 && std::strcmp(argv[1], "pixmap") != 0)) {
        std::fputs("usage: presentmodes fill|pixmap STEP_MS SECONDS\n", stderr);
        return 2;
    }
    const bool pixmaps = std::strcmp(argv[1], "pixmap") == 0;
    const std::int64_t step = std::atoll(argv[2]) * 1000;
    const std::int64_t end
        = nowMicroseconds() + static_cast<std::int64_t>(std::atof(argv[3]) * 1e6);
    Screen s = open();

    // Learn the clock: one refresh after another.
    FrameClock clock;
    xcb_present_notify_msc(s.connection, s.window, kClockSerial, 0, 0, 0);
    xcb_flush(s.connection);
    while (!clock.isLocked()) {
        const auto complete = nextComplete(s, end);
        if (!complete.msc)
            fail("no usable clock");
        clock.add({complete.msc, static_cast<std::int64_t>(complete.ust)});
        xcb_present_notify_msc(s.connection, s.window, kClockSerial, complete.msc + 1, 0, 0);
        xcb_flush(s.connection);
    }

    xcb_pixmap_t buffers[2] = {0, 0};
    if (pixmaps) {
        for (xcb_pixmap_t &buffer : buffers) {
            buffer = xcb_generate_id(s.connection);
            xcb_create_pixmap(s.connection, s.screen->root_depth, buffer, s.window,
                              s.screen->width_in_pixels, s.screen->height_in_pixels);
        }
    }
    const xcb_rectangle_t whole{0, 0, s.screen->width_in_pixels, s.screen->height_in_pixels};
    FrameGrid grid;
    grid.start(nowMicroseconds(), step);
    int copies = 0;
    int flips = 0;
    int late = 0;
    int steps = 0;
    // Each step: ask for its refresh (and, with pixmaps, hand over the pixmap
    // to show there), then wait for the report.
    for (std::int64_t index = 1; nowMicroseconds() < end; ++index) {
        const std::uint64_t target = grid.ask(index, clock);
        const auto serial = static_cast<std::uint32_t>(index);
        if (pixmaps) {
            const xcb_pixmap_t buffer = buffers[index % 2];
            const std::uint32_t colour = colourOf(s, index);
            xcb_change_gc(s.connection, s.gc, XCB_GC_FOREGROUND, &colour);
            xcb_poly_fill_rectangle(s.connection, buffer, s.gc, 1, &whole);
            xcb_present_pixmap(s.connection, s.window, buffer, serial, 0, 0, 0, 0, 0, 0, 0,
                               XCB_PRESENT_OPTION_NONE, target, 0, 0, 0, nullptr);
        } else {
            xcb_present_notify_msc(s.connection, s.window, serial, target, 0, 0);
        }
        xcb_flush(s.connection);
        xcb_present_complete_notify_event_t complete{};
        do {
            complete = nextComplete(s, end + 1000000);
        } while (complete.msc && complete.serial != serial);
        if (!complete.msc)
            break;
        if (!pixmaps) {
            const std::uint32_t colour = colourOf(s, index);
            xcb_change_window_attributes(s.connection, s.window, XCB_CW_BACK_PIXEL, &colour);
            xcb_clear_area(s.connection, 0, s.window, 0, 0, 0, 0);
            xcb_flush(s.connection);
        } else if (complete.mode == XCB_PRESENT_COMPLETE_MODE_FLIP) {
            ++flips;
        } else {
            ++copies;
        }
        const Refresh reported{complete.msc, static_cast<std::int64_t>(complete.ust)};
        clock.add(reported);
        if (grid.check(reported, nowMicroseconds(), clock).late)
            ++late;
        ++steps;
    }
    const double megabytes = pixmaps ? 2.0 * s.screen->width_in_pixels * s.screen->height_in_pixels
                                           * 4 / (1024 * 1024)
                                     : 0;
    std::printf("mode=%s steps=%d late=%d copies=%d flips=%d pixmaps_mb=%.1f rate=%.3f\n", argv[1],
                steps, late, copies, flips, megabytes, 1e6 / clock.period());
    xcb_disconnect(s.connection);
    return 0;
}
