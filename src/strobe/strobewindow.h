#pragma once

#include <QColor>
#include <QWidget>

#include <functional>
#include <memory>

class QLabel;
class QScreen;

namespace Ui {
class StrobeWindow;
}

namespace timing {
class IntervalTimer;
}

namespace strobe {

class ScreenCover;
class WindowFill;

// The on-screen part of the strobe window, built from its layout: the whole
// window is one colour with the hint label over it. Key presses are handed on
// as virtual-key codes.
class StrobeWindow final : public QWidget
{
    Q_OBJECT

public:
    using KeyHandler = std::function<void(qint16 &keyCode)>;

    // onClose runs when something other than the program closes the window.
    StrobeWindow(KeyHandler onKeyDown, std::function<void()> onClose);
    ~StrobeWindow() override;
    Q_DISABLE_COPY_MOVE(StrobeWindow)

    QLabel *hint() const;
    timing::IntervalTimer &stepTimer() const { return *m_stepTimer; }

    QColor color() const { return m_color; }
    // Shows color at once over the whole window but the hint.
    void setColor(const QColor &color);

    // Shows the window over the whole of screen, and keeps it there while the
    // displays change; when screen goes away, over the one fallback names.
    void cover(QScreen &screen, std::function<QScreen *()> fallback);

    // Where the window system fills the window: from now on the timer's own
    // thread shows colours one per tick, from next on, ahead of each tick's
    // handler; setColor() then only keeps the colour. False where the steps
    // stay with setColor().
    bool stepOnTimerThread(const QList<QColor> &colours, qsizetype next);

    // Stops the timer and drops key presses from now on; the window is on its
    // way out.
    void detach();

protected:
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool focusNextPrevChild(bool next) override;
    void closeEvent(QCloseEvent *event) override;

private:
    std::unique_ptr<Ui::StrobeWindow> m_ui;
    timing::IntervalTimer *m_stepTimer;
    KeyHandler m_onKeyDown;
    std::function<void()> m_onClose;
    QColor m_color;
    // Where the window system fills the window, nothing is painted here.
    std::unique_ptr<WindowFill> m_fill;
    bool m_filled = false;
    ScreenCover *m_cover = nullptr;
};

} // namespace strobe
