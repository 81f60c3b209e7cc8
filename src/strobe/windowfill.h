#pragma once

#include "timing/pacer.h"
#include "timing/stepper.h"

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
    // What steps the fill on a thread of its own: a stepper that shows
    // colours one per step from next on, as the strobe's ticks walk through
    // them, and where the window system reports the display's refreshes, a
    // pacer that puts the steps on them.
    struct Steps
    {
        std::unique_ptr<timing::Stepper> stepper;
        std::unique_ptr<timing::Pacer> pacer;
    };

    // Once attached: the fill's steps, on a connection to the window system of
    // their own. While the stepper lives, setColor() leaves the fill to it.
    // A null stepper where there is none.
    virtual Steps steps(const QList<QColor> &colours, qsizetype next)
    {
        Q_UNUSED(colours)
        Q_UNUSED(next)
        return {};
    }
};

// The fill for window on this platform, with above kept over it; null where
// there is none.
std::unique_ptr<WindowFill> makeWindowFill(QWidget &window, QWidget &above);

} // namespace strobe
