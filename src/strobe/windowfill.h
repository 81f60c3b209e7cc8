#pragma once

#include <memory>

class QColor;
class QWidget;

namespace strobe {

// Has the window system fill a window with one colour, under the window's
// controls, so that a colour step sends no frame at all and any part of the
// window that comes back into view shows the colour at once.
class WindowFill
{
public:
    virtual ~WindowFill() = default;

    // Takes over the window's background once its native window exists;
    // false when the window has to paint itself.
    virtual bool attach() = 0;
    virtual void setColor(const QColor &color) = 0;
};

// The fill for window on this platform, with above kept over it; null where
// there is none.
std::unique_ptr<WindowFill> makeWindowFill(QWidget &window, QWidget &above);

} // namespace strobe
