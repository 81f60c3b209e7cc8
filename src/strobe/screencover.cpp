#include "strobe/screencover.h"

#include "strobe/screenplacement.h"

#include <QGuiApplication>
#include <QWidget>

namespace strobe {

namespace {

// Well inside the half second in which the window has to follow, and long
// enough for a burst of changes to be over.
constexpr int kSettleMs = 100;

} // namespace

ScreenCover::ScreenCover(QWidget &window, ScreenSource fallback)
    : QObject(&window)
    , m_window(window)
    , m_fallback(std::move(fallback))
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(kSettleMs);
    connect(&m_settle, &QTimer::timeout, this, &ScreenCover::coverAgain);
    const auto changed = [this] {
        m_settle.start();
    };
    connect(qGuiApp, &QGuiApplication::screenAdded, this, changed);
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, changed);
    connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this, changed);
}

void ScreenCover::cover(QScreen &screen)
{
    if (m_screen != &screen) {
        if (m_screen)
            m_screen->disconnect(this);
        m_screen = &screen;
        watch(screen);
    }
    coverScreen(m_window, screen);
}

void ScreenCover::watch(QScreen &screen)
{
    const auto changed = [this] {
        m_settle.start();
    };
    connect(&screen, &QScreen::geometryChanged, this, changed);
    connect(&screen, &QScreen::logicalDotsPerInchChanged, this, changed);
    connect(&screen, &QScreen::physicalDotsPerInchChanged, this, changed);
}

void ScreenCover::coverAgain()
{
    // A window on its way out stays hidden.
    if (!m_window.isVisible())
        return;
    QScreen *screen = m_screen;
    if (!screen && m_fallback)
        screen = m_fallback();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen)
        cover(*screen);
}

} // namespace strobe
