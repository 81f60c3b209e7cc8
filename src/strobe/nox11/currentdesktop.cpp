#include "strobe/currentdesktop.h"

namespace strobe {

// Without X11 there are no desktops to move between.
void moveToCurrentDesktop(const QWidget &) {}

} // namespace strobe
