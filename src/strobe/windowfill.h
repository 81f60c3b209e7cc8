#pragma once

#include "strobe/stepper.h"

#include <QList>

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
    // Once attached: a stepper that shows colours one per step from next on,
    // as the strobe's ticks walk through them, on a connection to the window
    // system of its own, so that it can run on a thread of its own. While it
    // lives, setColor() leaves the fill to it. Null where there is none.
    virtual std::unique_ptr<Stepper> stepper(const QList<QColor> &colours, qsizetype next)
    {
        Q_UNUSED(colours)
        Q_UNUSED(next)
        return nullptr;
    }
};

// The fill for window on this platform, with above kept over it; null where
// there is none.
std::unique_ptr<WindowFill> makeWindowFill(QWidget &window, QWidget &above);

} // namespace strobe
