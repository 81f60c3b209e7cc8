#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

class QLabel;
class QScreen;
class QWidget;

namespace errors {
class MessageBox;
}

namespace timing {
class IntervalTimer;
}

namespace strobe {

class IdleInhibitor;
class OptionSource;
class StrobeWindow;

// The strobe: its colours, speed and hint, shown in a full-screen StrobeWindow.
// The object and its state live for the whole run; the on-screen window
// exists only while the strobe is loaded.
class Strobe final : public QObject
{
    Q_OBJECT

public:
    Strobe(errors::MessageBox &box, const OptionSource &options, IdleInhibitor &idle,
           QObject *parent = nullptr);
    ~Strobe() override;
    Q_DISABLE_COPY_MOVE(Strobe)

    // Loads the window if needed (running applyOptions), puts it over the whole
    // of screen and makes it active. While loaded, only brings it forward.
    void show(QScreen *screen);
    // Destroys the on-screen window, if any, without running any handler.
    // Safe at any time.
    void unload();
    bool isLoaded() const;
    // The window that has the keyboard back when the strobe closes, and whose
    // screen the strobe moves to when its own goes away.
    void setMainWindow(QWidget *window);

    // Takes the colours and the speed from the options and starts the timer.
    void applyOptions();
    // One tick: counts towards hiding the hint and shows the next colour.
    void step();
    // Runs step() as for that many ticks at once, in a bounded time.
    void catchUp(quint64 ticks);
    // The ticks until step() hides the hint; 0 when it is hidden.
    quint64 ticksUntilHint() const;
    // Escape closes the strobe; H, I, D and E in turn shrink the hint away.
    // Sets keyCode to VirtualKey::None for a key it used.
    void handleKey(qint16 &keyCode);

    // The state as of the last tick handled here: while the timer's thread
    // steps the colours, that is the last key, the hint or the closing.
    const QList<qint32> &flashColors() const { return m_flashColors; }
    qint16 colorIndex() const { return m_colorIndex; }
    qint16 tickCount() const { return m_tickCount; }
    bool hideActive() const { return m_hideActive; }
    qint16 hideStep() const { return m_hideStep; }

    // The on-screen window and its controls while loaded, otherwise null.
    QWidget *window() const;
    QLabel *hint() const;
    timing::IntervalTimer *stepTimer() const;
    // The window's background colour value (0x00BBGGRR or a system colour).
    qint32 backColor() const { return m_backColor; }

private:
    void load();
    StrobeWindow &loadedWindow() const;
    void setBackColor(qint32 value);
    void setFlashColor(qsizetype index, qint32 value);
    void setInterval(int milliseconds);
    bool idle() const { return !m_hideActive && m_hideStep == 0; }
    bool inState(qint16 step) const { return m_hideActive && m_hideStep == step; }
    void shrinkHintWidth();
    void shrinkHintHeight();
    void activateMainWindow();
    void stepOnTimerThread();
    // Brings the state here up to the steps made on the timer's thread.
    void onWoken();
    // Says, once for each opening, that the steps follow the timer when they
    // are made on this thread; the timer's own thread says what it follows.
    void sayTimerClock();

    // At most this many ticks from the opening until the hint is hidden.
    static constexpr qint16 kTicksToHint = 46;

    errors::MessageBox &m_box;
    const OptionSource &m_options;
    IdleInhibitor &m_idle;

    QList<qint32> m_flashColors;
    qint16 m_colorIndex = 0;
    qint16 m_tickCount = 0;
    bool m_hideActive = false;
    qint16 m_hideStep = 0;
    qint32 m_backColor;
    bool m_timerClockToSay = false;

    QPointer<StrobeWindow> m_window;
    QList<QPointer<StrobeWindow>> m_closing;
    QPointer<QWidget> m_mainWindow;
};

} // namespace strobe
