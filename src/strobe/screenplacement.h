#pragma once

class QScreen;
class QWidget;

namespace strobe {

// Puts window over the whole of screen, to the last device pixel. Sizes in
// device-independent pixels are whole numbers, so at a fractional scale the
// nearest one can miss the screen's edge by a pixel either way; the platform
// window is then given the screen's own device-pixel rectangle.
void coverScreen(QWidget &window, QScreen &screen);

} // namespace strobe
