#include "idle/idleways.h"

#include <QGuiApplication>
#include <QTimer>

#include <xcb/xcb.h>

namespace idle {

namespace {

// The X server's saver and power-saving timeouts are whole seconds; a reset
// every second stays ahead of the shortest one.
constexpr int kResetIntervalMs = 1000;

// Resets the X server's idle time over and over, as video players do. A reset
// postpones both the server's screen saver and its power saving (DPMS) and
// leaves no setting changed, so a program that dies holds nothing: the next
// timeout simply comes.
class XServerSaverHold final : public strobe::IdleInhibitor
{
public:
    explicit XServerSaverHold(xcb_connection_t *connection)
        : m_connection(connection)
    {
        m_timer.setInterval(kResetIntervalMs);
        m_timer.setTimerType(Qt::CoarseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { reset(); });
    }

    void inhibit(QWidget &) override
    {
        reset();
        m_timer.start();
    }

    void release() override { m_timer.stop(); }

private:
    void reset()
    {
        xcb_force_screen_saver(m_connection, XCB_SCREEN_SAVER_RESET);
        xcb_flush(m_connection);
    }

    xcb_connection_t *m_connection;
    QTimer m_timer;
};

} // namespace

std::unique_ptr<strobe::IdleInhibitor> makeXServerSaverHold()
{
    const auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return nullptr;
    return std::make_unique<XServerSaverHold>(x11->connection());
}

} // namespace idle
