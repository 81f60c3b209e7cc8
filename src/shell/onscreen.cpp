#include "shell/onscreen.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <limits>

namespace shell {

namespace {

// A window manager that moves windows off a monitor that went does so at
// once; the window is looked at after it had the chance.
constexpr int kSettleMs = 300;

// The gap between two rectangles along both axes, squared; 0 where they touch.
qint64 distanceSquared(const QRect &a, const QRect &b)
{
    const qint64 dx = qMax(0, qMax(b.left() - a.right(), a.left() - b.right()));
    const qint64 dy = qMax(0, qMax(b.top() - a.bottom(), a.top() - b.bottom()));
    return dx * dx + dy * dy;
}

int clampedStart(int start, int length, int areaStart, int areaLength)
{
    // A window larger than the area keeps its top-left corner on it.
    return qMax(areaStart, qMin(start, areaStart + areaLength - length));
}

// A rectangle in Qt's coordinates on screen, in device pixels: each screen
// keeps its top-left corner and scales from there.
QRect inDevicePixels(const QRect &rect, const QScreen &screen)
{
    const QPoint origin = screen.geometry().topLeft();
    const qreal ratio = screen.devicePixelRatio();
    return QRect(origin + (rect.topLeft() - origin) * ratio, rect.size() * ratio);
}

// Screens of different scales leave gaps between one another in Qt's
// coordinates, and Qt keeps a window on the screen it was moved to when its
// own went, even once that comes back: whether the window is on view is told
// in device pixels, and a window on view is given the screen it stands on.
bool onView(QWidget &window)
{
    QScreen *own = window.screen();
    if (!own)
        return false;
    const QRect frame = inDevicePixels(window.frameGeometry(), *own);
    bool seen = false;
    for (QScreen *screen : QGuiApplication::screens()) {
        const QRect area = inDevicePixels(screen->geometry(), *screen);
        if (area.contains(frame.center()) && screen != own && window.windowHandle())
            window.windowHandle()->setScreen(screen);
        seen = seen || area.intersects(frame);
    }
    return seen;
}

void moveBackOnScreen(QWidget &window)
{
    if (!window.isVisible() || window.isMinimized() || onView(window))
        return;
    QList<QRect> screens;
    QList<QRect> freeAreas;
    for (const QScreen *screen : QGuiApplication::screens()) {
        screens << screen->geometry();
        freeAreas << screen->availableGeometry();
    }
    if (const std::optional<QPoint> to
        = placeBackOnScreen(window.frameGeometry(), screens, freeAreas))
        window.move(*to);
}

} // namespace

std::optional<QPoint> placeBackOnScreen(const QRect &frame, const QList<QRect> &screens,
                                        const QList<QRect> &freeAreas)
{
    qsizetype nearest = -1;
    qint64 nearestDistance = std::numeric_limits<qint64>::max();
    for (qsizetype i = 0; i < screens.size() && i < freeAreas.size(); ++i) {
        if (screens[i].intersects(frame))
            return std::nullopt;
        const qint64 distance = distanceSquared(frame, screens[i]);
        if (distance < nearestDistance) {
            nearest = i;
            nearestDistance = distance;
        }
    }
    if (nearest < 0)
        return std::nullopt;
    const QRect &area = freeAreas[nearest];
    return QPoint(clampedStart(frame.x(), frame.width(), area.x(), area.width()),
                  clampedStart(frame.y(), frame.height(), area.y(), area.height()));
}

void keepOnScreen(QWidget &window)
{
    auto *settle = new QTimer(&window);
    settle->setSingleShot(true);
    settle->setInterval(kSettleMs);
    QObject::connect(settle, &QTimer::timeout, &window, [&window] { moveBackOnScreen(window); });
    const auto watch = [settle](QScreen *screen) {
        QObject::connect(screen, &QScreen::geometryChanged, settle, qOverload<>(&QTimer::start));
        QObject::connect(screen, &QScreen::availableGeometryChanged, settle,
                         qOverload<>(&QTimer::start));
    };
    for (QScreen *screen : QGuiApplication::screens())
        watch(screen);
    QObject::connect(qGuiApp, &QGuiApplication::screenAdded, settle, watch);
    QObject::connect(qGuiApp, &QGuiApplication::screenRemoved, settle,
                     qOverload<>(&QTimer::start));
}

} // namespace shell
