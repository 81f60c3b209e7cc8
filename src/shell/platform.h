#pragma once

#include <QString>

class QUrl;

namespace errors {
class MessageBox;
}
namespace settings {
class SettingsStore;
}
namespace strobe {
class IdleInhibitor;
}

namespace shell {

// Everything the main window reaches outside the process through. The desktop
// implementation talks to the real world; tests hand in their own.
class Platform
{
public:
    virtual ~Platform();

    virtual errors::MessageBox &messageBox() = 0;
    virtual settings::SettingsStore &settingsStore() = 0;
    // Keeps the screen awake while the strobe runs.
    virtual strobe::IdleInhibitor &idleInhibitor() = 0;
    // Whether saves into the store run on a thread of their own, so that the
    // window never waits for them; tests may want them at once.
    virtual bool savesInBackground() const { return true; }

    // The folder of the running program.
    virtual QString programFolder() const = 0;

    // Seconds since midnight, as the random generator's seed.
    virtual float secondsSinceMidnight() const = 0;
    virtual void randomize(double seed) = 0;
    // The next pseudo-random number, 0 <= r < 1.
    virtual float nextRandom() = 0;

    // Opens address in the user's web browser; throws errors::Failure if it cannot.
    virtual void openUrl(const QUrl &address) = 0;

    // Ends the program: the event loop stops and every window goes with it.
    virtual void endProgram() = 0;
    // Whether the program was asked from outside to end (a logout, kill):
    // nothing new is started after it.
    virtual bool endRequested() const { return false; }
};

} // namespace shell
