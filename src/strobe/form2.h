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

namespace strobe {

class IdleInhibitor;
class IntervalTimer;
class OptionSource;
class StrobeWindow;

// The full-screen strobe window. The object and its state live for the whole
// run; the on-screen window exists only while the strobe is loaded.
class Form2 final : public QObject
{
    Q_OBJECT

public:
    Form2(errors::MessageBox &box, const OptionSource &options, IdleInhibitor &idle,
          QObject *parent = nullptr);
    ~Form2() override;
    Q_DISABLE_COPY_MOVE(Form2)

    // Loads the window if needed (running Form_Load), puts it over the whole
    // of screen and makes it active. While loaded, only brings it forward.
    void Show(QScreen *screen);
    // Destroys the on-screen window, if any, without running any handler.
    // Safe at any time.
    void Unload();
    bool isLoaded() const;
    // The window that has the keyboard back when the strobe closes, and whose
    // screen the strobe moves to when its own goes away.
    void setMainWindow(QWidget *window);

    void Form_Load();
    void Timer1_Timer();
    // Runs Timer1_Timer as for that many ticks at once, in a bounded time.
    void catchUp(quint64 ticks);
    // The ticks until Timer1_Timer hides the hint; 0 when it is hidden.
    quint64 ticksUntilHint() const;
    void Form_KeyDown(qint16 &keyCode);

    // The state as of the last tick handled here: while the timer's thread
    // steps the colours, that is the last key, the hint or the closing.
    const QList<qint32> &FlashColors() const { return m_flashColors; }
    qint16 ColorIndex() const { return m_colorIndex; }
    qint16 TickCount() const { return m_tickCount; }
    bool HideActive() const { return m_hideActive; }
    qint16 HideStep() const { return m_hideStep; }

    // The on-screen window and its controls while loaded, otherwise null.
    QWidget *window() const;
    QLabel *Label1() const;
    IntervalTimer *Timer1() const;
    // The window's background colour value (0x00BBGGRR or a system colour).
    qint32 BackColor() const { return m_backColor; }

private:
    void load();
    StrobeWindow &loadedWindow() const;
    void setBackColor(qint32 value);
    void setFlashColor(qsizetype index, qint32 value);
    void setInterval(int milliseconds);
    bool idle() const { return !m_hideActive && m_hideStep == 0; }
    bool inState(qint16 step) const { return m_hideActive && m_hideStep == step; }
    void shrinkLabelWidth();
    void shrinkLabelHeight();
    void activateMainWindow();
    void stepOnTimerThread();
    // Brings the state here up to the steps made on the timer's thread.
    void followSteps();

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

    QPointer<StrobeWindow> m_window;
    QList<QPointer<StrobeWindow>> m_closing;
    QPointer<QWidget> m_mainWindow;
};

} // namespace strobe
