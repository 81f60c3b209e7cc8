#include "strobe/windowfill.h"

namespace strobe {

// Without a window system fill the strobe window paints its colour itself.
std::unique_ptr<WindowFill> makeWindowFill(QWidget &, QWidget &)
{
    return nullptr;
}

} // namespace strobe
