#pragma once

class QWidget;

namespace strobe {

// Keeps the screen saver and idle blanking off while the strobe is on screen.
// The desktop implementation talks to the session's screen saver, the display
// server and the operating system; tests hand in their own.
class IdleInhibitor
{
public:
    virtual ~IdleInhibitor() = default;

    // Holds idle off on behalf of window, which is shown. Calling it again
    // while held changes nothing.
    virtual void inhibit(QWidget &window) = 0;
    // Lets idle take its course again; safe when nothing is held. Call it
    // before window is hidden: some holds belong to the window's surface.
    virtual void release() = 0;
};

} // namespace strobe
