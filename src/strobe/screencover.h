#pragma once

#include <QObject>
#include <QPointer>
#include <QScreen>
#include <QTimer>

#include <functional>

class QWidget;

namespace strobe {

// Keeps a window over the whole of one screen while the displays change: the
// screen resized, moved or rescaled, screens added or removed, another primary
// screen. When its screen goes away the window covers the one that fallback
// names (the primary screen when it names none).
class ScreenCover final : public QObject
{
    Q_OBJECT

public:
    using ScreenSource = std::function<QScreen *()>;

    ScreenCover(QWidget &window, ScreenSource fallback);
    Q_DISABLE_COPY_MOVE(ScreenCover)

    void cover(QScreen &screen);
    QScreen *screen() const { return m_screen; }

private:
    void watch(QScreen &screen);
    void coverAgain();

    QWidget &m_window;
    ScreenSource m_fallback;
    QPointer<QScreen> m_screen;
    // A display change arrives as a burst of signals; the window follows once.
    QTimer m_settle;
};

} // namespace strobe
