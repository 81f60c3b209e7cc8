#include "strobewindow.h"
#include "ui_form2.h"

#include "intervaltimer.h"
#include "screenreader.h"
#include "virtualkey.h"
#include "windowfill.h"

#include <QApplication>
#include <QBackingStore>
#include <QCloseEvent>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>

namespace strobe {

namespace {

// X11 window managers disagree on what may cover a full-screen window: some
// keep other programs' always-on-top windows above it, some their panels. On
// X11 the strobe therefore bypasses the window manager, which leaves nothing
// managed above it; elsewhere it asks to stay on top.
Qt::WindowFlags strobeFlags()
{
    const Qt::WindowFlags flags = Qt::Window | Qt::FramelessWindowHint;
    if (QApplication::platformName() == u"xcb")
        return flags | Qt::X11BypassWindowManagerHint;
    return flags | Qt::WindowStaysOnTopHint;
}

} // namespace

StrobeWindow::StrobeWindow(KeyHandler onKeyDown, std::function<void()> onClose)
    : QWidget(nullptr, strobeFlags())
    , m_ui(std::make_unique<Ui::Form2>())
    , m_timer1(new IntervalTimer(this))
    , m_onKeyDown(std::move(onKeyDown))
    , m_onClose(std::move(onClose))
{
    m_ui->setupUi(this);
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    // What a screen reader says when the strobe takes the focus.
    layouts::announceAsWindow(*this);
    setAccessibleName(QStringLiteral("Lumivex strobe light, press Escape to exit"));
    setAccessibleDescription(
        QStringLiteral("The whole screen flashes until you press Escape to exit."));
    setAttribute(Qt::WA_OpaquePaintEvent);
    // The hint keeps a box of its own so that it stays readable on every colour.
    QLabel *label = m_ui->Label1;
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

QLabel *StrobeWindow::Label1() const
{
    return m_ui->Label1;
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

void StrobeWindow::detach()
{
    m_timer1->setEnabled(false);
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
    handler(keyCode, shiftState(event->modifiers()));
}

bool StrobeWindow::event(QEvent *event)
{
    // No window manager gives a bypassing window the focus back. When one
    // hands it to another window (a shortcut, a new window), Escape would go
    // to a window hidden behind the strobe, so the strobe takes the focus
    // back; not when the user works on another monitor (the pointer is
    // there), nor while the program shows a box, nor when closing.
    if (event->type() == QEvent::WindowDeactivate && bypassesWindowManager() && m_onKeyDown)
        QTimer::singleShot(0, this, [this] {
            if (m_onKeyDown && isVisible() && !isActiveWindow()
                && !QApplication::activeModalWidget()
                && QGuiApplication::screenAt(QCursor::pos()) == screen())
                activateWindow();
        });
    return QWidget::event(event);
}

void StrobeWindow::mousePressEvent(QMouseEvent *event)
{
    // A click on the strobe brings the keyboard back to it.
    if (bypassesWindowManager() && !isActiveWindow())
        activateWindow();
    QWidget::mousePressEvent(event);
}

bool StrobeWindow::bypassesWindowManager() const
{
    return windowFlags().testFlag(Qt::X11BypassWindowManagerHint);
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
