#include "strobe/strobewindow.h"
#include "ui_strobewindow.h"

#include "layouts/objectnames.h"
#include "layouts/screenreader.h"
#include "strobe/screencover.h"
#include "strobe/virtualkey.h"
#include "strobe/windowfill.h"
#include "timing/intervaltimer.h"

#include <QBackingStore>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPainter>

namespace strobe {

StrobeWindow::StrobeWindow(KeyHandler onKeyDown, std::function<void()> onClose)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint)
    , m_ui(std::make_unique<Ui::StrobeWindow>())
    , m_stepTimer(new timing::IntervalTimer(this))
    , m_onKeyDown(std::move(onKeyDown))
    , m_onClose(std::move(onClose))
{
    m_ui->setupUi(this);
    setObjectName(layouts::objectName::kStrobeWindow);
    m_ui->hint->setObjectName(layouts::objectName::kHint);
    m_stepTimer->setObjectName(layouts::objectName::kStepTimer);
    // What a screen reader says when the strobe takes the focus, and what
    // taskbars and window switchers list it as: the window shows no title
    // itself, but a nameless entry in a window list cannot be found.
    layouts::announceAsWindow(*this);
    const QString name = QStringLiteral("Lumivex strobe light, press Escape to exit");
    setWindowTitle(name);
    setAccessibleName(name);
    setAccessibleDescription(
        QStringLiteral("The whole screen flashes until you press Escape to exit."));
    setAttribute(Qt::WA_OpaquePaintEvent);
    // The hint keeps a box of its own so that it stays readable on every colour.
    QLabel *label = m_ui->hint;
    QPalette labelPalette = label->palette();
    labelPalette.setColor(QPalette::Window, labelPalette.color(QPalette::Button));
    labelPalette.setColor(QPalette::WindowText, labelPalette.color(QPalette::ButtonText));
    label->setPalette(labelPalette);
    label->setAutoFillBackground(true);
    // The hint is exactly as large as its caption in the font it is shown in,
    // which need not be the one the layout was measured with.
    label->resize(label->fontMetrics().size(Qt::TextSingleLine, label->text()));
    m_fill = makeWindowFill(*this, *label);
}

StrobeWindow::~StrobeWindow() = default;

QLabel *StrobeWindow::hint() const
{
    return m_ui->hint;
}

void StrobeWindow::setColor(const QColor &color)
{
    if (color == m_color)
        return;
    m_color = color;
    if (m_filled)
        m_fill->setColor(color);
    else
        repaint();
}

void StrobeWindow::cover(QScreen &screen, std::function<QScreen *()> fallback)
{
    if (!m_cover)
        m_cover = new ScreenCover(*this, std::move(fallback));
    m_cover->cover(screen);
}

bool StrobeWindow::stepOnTimerThread(const QList<QColor> &colours, qsizetype next)
{
    if (!m_filled)
        return false;
    WindowFill::Steps steps = m_fill->steps(colours, next);
    return m_stepTimer->setStepper(std::move(steps.stepper), std::move(steps.pacer));
}

void StrobeWindow::detach()
{
    m_stepTimer->setEnabled(false);
    m_stepTimer->setStepper(nullptr);
    m_onKeyDown = nullptr;
    m_onClose = nullptr;
}

void StrobeWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // The native window exists by now; should it be a new one that cannot be
    // filled, painting takes over.
    m_filled = m_fill && m_fill->attach();
    if (m_filled)
        m_fill->setColor(m_color);
}

void StrobeWindow::paintEvent(QPaintEvent *)
{
    if (m_filled)
        return;
    QPainter painter(this);
    painter.fillRect(rect(), m_color);
}

void StrobeWindow::keyPressEvent(QKeyEvent *event)
{
    event->accept();
    if (!m_onKeyDown)
        return;
    qint16 keyCode = virtualKeyCode(*event);
    // The handler may unload the window, which lets go of the handler.
    const KeyHandler handler = m_onKeyDown;
    handler(keyCode);
}

bool StrobeWindow::focusNextPrevChild(bool)
{
    // Tab is a key like any other here.
    return false;
}

} // namespace strobe

namespace strobe {

void StrobeWindow::closeEvent(QCloseEvent *event)
{
    // A window manager's close must not leave an unseen strobe ticking on.
    if (m_onClose) {
        event->ignore();
        const std::function<void()> handler = m_onClose;
        handler();
        return;
    }
    QWidget::closeEvent(event);
}

} // namespace strobe
