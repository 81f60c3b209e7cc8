#pragma once

class QWidget;

namespace strobe {

// Asks the window manager to move window to the desktop on view, where it is
// on another one. Some window managers refuse to activate a window on another
// desktop, and the strobe would stay out of reach there.
void moveToCurrentDesktop(const QWidget &window);

} // namespace strobe
