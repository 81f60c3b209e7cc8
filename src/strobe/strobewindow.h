#pragma once

#include <QColor>
#include <QWidget>

#include <functional>
#include <memory>

class QLabel;

namespace Ui {
class Form2;
}

namespace strobe {

class IntervalTimer;
class WindowFill;

// The on-screen part of the strobe window, built from its layout: the whole
// window is one colour with the hint label over it. Key presses are handed on
// as virtual-key codes.
class StrobeWindow final : public QWidget
{
    Q_OBJECT

public:
    using KeyHandler = std::function<void(qint16 &keyCode, qint16 shift)>;

    // onClose runs when something other than the program closes the window.
    StrobeWindow(KeyHandler onKeyDown, std::function<void()> onClose);
    ~StrobeWindow() override;
    Q_DISABLE_COPY_MOVE(StrobeWindow)

    QLabel *Label1() const;
    IntervalTimer &Timer1() const { return *m_timer1; }

    QColor color() const { return m_color; }
    // Shows color at once over the whole window but the hint.
    void setColor(const QColor &color);

    // Stops the timer and drops key presses from now on; the window is on its
    // way out.
    void detach();

protected:
    bool event(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    bool focusNextPrevChild(bool next) override;
    void closeEvent(QCloseEvent *event) override;

private:
    bool bypassesWindowManager() const;
    bool showPrepared();
    QRect labelArea() const;

    std::unique_ptr<Ui::Form2> m_ui;
    IntervalTimer *m_timer1;
    KeyHandler m_onKeyDown;
    std::function<void()> m_onClose;
    QColor m_color;
    // Where the window system fills the window, nothing is painted here.
    std::unique_ptr<WindowFill> m_fill;
    bool m_filled = false;
};

} // namespace strobe
