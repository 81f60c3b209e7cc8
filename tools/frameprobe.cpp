// Watches one pixel of the X screen against the display's refreshes, without
// polling: the server reports each refresh (Present's NotifyMSC, asked for one
// refresh after another) and each drawing (DAMAGE), and the probe sleeps in
// between.
//
//   frameprobe X Y SECONDS   prints, in the order they arrive,
//                            "refresh <msc> <ust>"       at each refresh
//                            "change <time> #rrggbb"     at the start and at
//                                                        each change of the pixel
//
// Times are microseconds on the monotonic clock, the clock the server stamps
// refreshes with. A change is stamped when the damage report that led to it
// arrived, right after the server drew it.
#include <xcb/damage.h>
#include <xcb/present.h>
#include <xcb/xcb.h>

#include <poll.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

std::int64_t nowMicroseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "frameprobe: %s\n", what);
    std::exit(1);
}

std::uint32_t readPixel(xcb_connection_t *connection, xcb_window_t root, int x, int y)
{
    xcb_get_image_reply_t *image = xcb_get_image_reply(
        connection,
        xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, root, static_cast<std::int16_t>(x),
                      static_cast<std::int16_t>(y), 1, 1, 0xFFFFFFFFu),
        nullptr);
    if (!image || xcb_get_image_data_length(image) < 4)
        fail("cannot read the screen");
    const std::uint8_t *data = xcb_get_image_data(image);
    const std::uint32_t pixel = (static_cast<std::uint32_t>(data[2]) << 16)
                                | (static_cast<std::uint32_t>(data[1]) << 8) | data[0];
    std::free(image);
    return pixel;
}

const xcb_query_extension_reply_t *extension(xcb_connection_t *connection, xcb_extension_t *which)
{
    const xcb_query_extension_reply_t *reply = xcb_get_extension_data(connection, which);
    return reply && reply->present ? reply : nullptr;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fputs("usage: frameprobe X Y SECONDS\n", stderr);
        return 2;
    }
    const int x = std::atoi(argv[1]);
    const int y = std::atoi(argv[2]);
    const auto span = static_cast<std::int64_t>(std::atof(argv[3]) * 1e6);
    int screenNumber = 0;
    xcb_connection_t *connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection))
        fail("cannot open the display");
    const xcb_query_extension_reply_t *damageExtension = extension(connection, &xcb_damage_id);
    const xcb_query_extension_reply_t *presentExtension = extension(connection, &xcb_present_id);
    if (!damageExtension || !presentExtension)
        fail("the X server lacks DAMAGE or Present");
    std::free(xcb_damage_query_version_reply(connection,
                                             xcb_damage_query_version(connection, 1, 1), nullptr));
    std::free(xcb_present_query_version_reply(
        connection, xcb_present_query_version(connection, 1, 2), nullptr));

    auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    const xcb_window_t root = screens.data->root;

    const xcb_damage_damage_t damage = xcb_generate_id(connection);
    xcb_damage_create(connection, damage, root, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
    const xcb_present_event_t presentEvents = xcb_generate_id(connection);
    xcb_present_select_input(connection, presentEvents, root,
                             XCB_PRESENT_EVENT_MASK_COMPLETE_NOTIFY);
    // The current refresh at once, then every one after it.
    xcb_present_notify_msc(connection, root, 0, 0, 0, 0);
    xcb_flush(connection);

    const std::int64_t end = nowMicroseconds() + span;
    std::uint32_t last = readPixel(connection, root, x, y);
    std::printf("change %" PRId64 " #%06x\n", nowMicroseconds(), last);
    pollfd descriptor{xcb_get_file_descriptor(connection), POLLIN, 0};
    for (std::int64_t now = nowMicroseconds(); now < end; now = nowMicroseconds()) {
        xcb_generic_event_t *event = xcb_poll_for_event(connection);
        if (!event) {
            if (xcb_connection_has_error(connection))
                fail("the display went away");
            poll(&descriptor, 1, static_cast<int>((end - now) / 1000) + 1);
            continue;
        }
        const std::int64_t arrived = nowMicroseconds();
        const std::uint8_t type = event->response_type & 0x7F;
        if (type == damageExtension->first_event + XCB_DAMAGE_NOTIFY) {
            xcb_damage_subtract(connection, damage, XCB_NONE, XCB_NONE);
            const std::uint32_t pixel = readPixel(connection, root, x, y);
            if (pixel != last)
                std::printf("change %" PRId64 " #%06x\n", arrived, pixel);
            last = pixel;
        } else if (type == XCB_GE_GENERIC) {
            const auto *generic = reinterpret_cast<xcb_ge_generic_event_t *>(event);
            const auto *complete = reinterpret_cast<xcb_present_complete_notify_event_t *>(event);
            if (generic->extension == presentExtension->major_opcode
                && generic->event_type == XCB_PRESENT_COMPLETE_NOTIFY
                && complete->kind == XCB_PRESENT_COMPLETE_KIND_NOTIFY_MSC) {
                std::printf("refresh %" PRIu64 " %" PRIu64 "\n", complete->msc, complete->ust);
                xcb_present_notify_msc(connection, root, 0, complete->msc + 1, 0, 0);
                xcb_flush(connection);
            }
        }
        std::free(event);
    }
    std::fflush(stdout);
    xcb_disconnect(connection);
    return 0;
}
