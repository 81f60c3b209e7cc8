#include "strobe/screenplacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#ifdef LUMIVEX_HAVE_QPA
#include <qpa/qplatformscreen.h>
#include <qpa/qplatformwindow.h>
#endif

namespace strobe {

void coverScreen(QWidget &window, QScreen &screen)
{
    window.setScreen(&screen);
    window.setGeometry(screen.geometry());
    window.showFullScreen();
#ifdef LUMIVEX_HAVE_QPA
    const QWindow *handle = window.windowHandle();
    QPlatformWindow *platformWindow = handle ? handle->handle() : nullptr;
    const QPlatformScreen *platformScreen = screen.handle();
    if (!platformWindow || !platformScreen)
        return;
    const QRect pixels = platformScreen->geometry();
    if (platformWindow->geometry() != pixels)
        platformWindow->setGeometry(pixels);
#endif
}

} // namespace strobe
