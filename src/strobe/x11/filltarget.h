#pragma once

#include <xcb/xcb.h>

#include <atomic>
#include <memory>

namespace strobe {

// A connection of the step thread's own, shared by its stepper and pacer and
// closed with the last of them.
using XcbConnection = std::shared_ptr<xcb_connection_t>;

// The fill as the step thread sees it: the window may be made anew while the
// thread runs, and the window's thread leaves the colour to the thread while
// a stepper lives.
struct FillTarget
{
    std::atomic<xcb_window_t> window{0};
    std::atomic<bool> stepped{false};
};

} // namespace strobe
