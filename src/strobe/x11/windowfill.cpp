#include "strobe/windowfill.h"

#include "handles/owned.h"
#include "strobe/coloursteps.h"
#include "strobe/x11/filltarget.h"

#ifdef LUMIVEX_HAVE_PRESENT
#include "strobe/x11/presentpacer.h"
#endif

#include <QColor>
#include <QGuiApplication>
#include <QWidget>
#include <QtAlgorithms>

#include <X11/Xlib.h>
#include <xcb/xcb.h>

#include <vector>

namespace strobe {

namespace {

// An X window as large as X allows, inside the strobe window: the server
// clips it to the strobe, whatever the strobe's size in device pixels.
constexpr quint16 kLargest = 32767;

// How a colour is written as a pixel of one visual.
struct PixelFormat
{
    quint32 red = 0;
    quint32 green = 0;
    quint32 blue = 0;
    // Bits of the pixel outside the three colours (alpha), set for opaque.
    quint32 rest = 0;

    quint32 pixel(const QColor &color) const
    {
        return channel(red, color.red()) | channel(green, color.green())
               | channel(blue, color.blue()) | rest;
    }

    static quint32 channel(quint32 mask, int value)
    {
        if (mask == 0)
            return 0;
        const uint shift = qCountTrailingZeroBits(mask);
        const quint32 top = mask >> shift;
        return ((static_cast<quint32>(value) * top + 127) / 255) << shift;
    }
};

// Steps the fill's colour from the step thread, on a connection of its own:
// an X window id is valid on every connection to its server, and requests on
// this one wait for nothing the window's thread holds. A step is two small
// requests in one write.
class XcbStepper final : public timing::Stepper
{
    static constexpr int kStepsPerRead = 16;

public:
    // paced: a pacer reads what the server sends on the connection.
    XcbStepper(XcbConnection connection, std::shared_ptr<FillTarget> target,
               std::vector<quint32> pixels, qsizetype next, bool paced)
        : m_connection(std::move(connection))
        , m_target(std::move(target))
        , m_steps(std::move(pixels), next)
        , m_paced(paced)
    {
        m_target->stepped.store(true);
    }

    ~XcbStepper() override { m_target->stepped.store(false); }
    Q_DISABLE_COPY_MOVE(XcbStepper)

    void step() noexcept override
    {
        quint32 pixel = 0;
        if (!m_steps.next(pixel))
            return;
        xcb_connection_t *connection = m_connection.get();
        const xcb_window_t fill = m_target->window.load();
        xcb_change_window_attributes(connection, fill, XCB_CW_BACK_PIXEL, &pixel);
        xcb_clear_area(connection, 0, fill, 0, 0, 0, 0);
        xcb_flush(connection);
        if (m_paced)
            return;
        // Nothing is asked of the server here; what comes back is an error
        // about a fill that went away with its window. Reading costs a system
        // call even when there is nothing, so errors wait in the socket for
        // a few steps, two small ones a step at most.
        if (++m_sinceRead < kStepsPerRead)
            return;
        m_sinceRead = 0;
        while (xcb_generic_event_t *event = xcb_poll_for_event(connection))
            handles::Malloced<xcb_generic_event_t> dropped(event);
    }

private:
    XcbConnection m_connection;
    std::shared_ptr<FillTarget> m_target;
    ColourSteps<quint32> m_steps;
    bool m_paced;
    int m_sinceRead = 0;
};

// An X child window under the strobe's controls whose background is the
// strobe's colour. The server paints it: on each step, and by itself whenever
// part of it comes back into view.
class XcbWindowFill final : public WindowFill
{
public:
    XcbWindowFill(QWidget &window, QWidget &above, xcb_connection_t *connection)
        : m_window(window)
        , m_connection(connection)
    {
        // The controls need windows of their own to stay over the fill.
        above.setAttribute(Qt::WA_NativeWindow);
    }

    ~XcbWindowFill() override
    {
        // A fill whose parent went first went with it.
        if (m_fill && m_window.internalWinId() == m_parent) {
            xcb_destroy_window(m_connection, m_fill);
            xcb_flush(m_connection);
        }
    }
    Q_DISABLE_COPY_MOVE(XcbWindowFill)

    bool attach() override
    {
        const auto parent = static_cast<xcb_window_t>(m_window.internalWinId());
        if (parent == 0)
            return false;
        if (parent == m_parent)
            return true;
        m_fill = 0;
        if (!readFormat(parent) || !createFill(parent))
            return false;
        m_parent = parent;
        xcb_flush(m_connection);
        return true;
    }

    void setColor(const QColor &color) override
    {
        if (!m_fill || (m_target && m_target->stepped.load()))
            return;
        const quint32 pixel = m_format.pixel(color);
        xcb_change_window_attributes(m_connection, m_fill, XCB_CW_BACK_PIXEL, &pixel);
        xcb_clear_area(m_connection, 0, m_fill, 0, 0, 0, 0);
        xcb_flush(m_connection);
    }

    Steps steps(const QList<QColor> &colours, qsizetype next) override
    {
        if (!m_fill)
            return {};
        const XcbConnection own(
            xcb_connect(m_displayName.isEmpty() ? nullptr : m_displayName.constData(), nullptr),
            xcb_disconnect);
        if (xcb_connection_has_error(own.get()) || !knows(own.get(), m_fill))
            return {};
        std::vector<quint32> pixels;
        pixels.reserve(static_cast<std::size_t>(colours.size()));
        for (const QColor &colour : colours)
            pixels.push_back(m_format.pixel(colour));
        if (!m_target)
            m_target = std::make_shared<FillTarget>();
        m_target->window.store(m_fill);
        Steps steps;
#ifdef LUMIVEX_HAVE_PRESENT
        // The fill's refreshes pace the steps where the server reports them.
        steps.pacer = PresentPacer::create(own, m_target);
#endif
        steps.stepper = std::make_unique<XcbStepper>(own, m_target, std::move(pixels), next,
                                                     steps.pacer != nullptr);
        return steps;
    }

    void setDisplayName(QByteArray name)
    {
        m_displayName = std::move(name);
    }

private:
    // Whether window exists on the server behind connection: the same server
    // as Qt's, not one that a different display name leads to.
    static bool knows(xcb_connection_t *connection, xcb_window_t window)
    {
        const handles::Malloced<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(
                connection, xcb_get_window_attributes(connection, window), nullptr));
        return attributes != nullptr;
    }

    bool readFormat(xcb_window_t parent)
    {
        const handles::Malloced<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(
                m_connection, xcb_get_window_attributes(m_connection, parent), nullptr));
        if (!attributes)
            return false;
        for (auto screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection)); screens.rem;
             xcb_screen_next(&screens)) {
            for (auto depths = xcb_screen_allowed_depths_iterator(screens.data); depths.rem;
                 xcb_depth_next(&depths)) {
                for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem;
                     xcb_visualtype_next(&visuals)) {
                    if (visuals.data->visual_id == attributes->visual)
                        return useVisual(*visuals.data, depths.data->depth);
                }
            }
        }
        return false;
    }

    bool useVisual(const xcb_visualtype_t &visual, quint8 depth)
    {
        // Elsewhere a pixel is a colour map index rather than a colour.
        if (visual._class != XCB_VISUAL_CLASS_TRUE_COLOR)
            return false;
        const quint32 all = depth >= 32 ? 0xFFFFFFFFu : (1u << depth) - 1;
        m_format = {visual.red_mask, visual.green_mask, visual.blue_mask,
                    all & ~(visual.red_mask | visual.green_mask | visual.blue_mask)};
        return true;
    }

    bool createFill(xcb_window_t parent)
    {
        const xcb_window_t fill = xcb_generate_id(m_connection);
        const quint32 background = m_format.pixel(Qt::black);
        const xcb_void_cookie_t created = xcb_create_window_checked(
            m_connection, XCB_COPY_FROM_PARENT, fill, parent, 0, 0, kLargest, kLargest, 0,
            XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL, &background);
        if (handles::Malloced<xcb_generic_error_t>(xcb_request_check(m_connection, created)))
            return false;
        // Under the controls' own windows, which already exist.
        const quint32 below = XCB_STACK_MODE_BELOW;
        xcb_configure_window(m_connection, fill, XCB_CONFIG_WINDOW_STACK_MODE, &below);
        xcb_map_window(m_connection, fill);
        m_fill = fill;
        if (m_target)
            m_target->window.store(fill);
        return true;
    }

    QWidget &m_window;
    xcb_connection_t *m_connection;
    PixelFormat m_format;
    xcb_window_t m_parent = 0;
    xcb_window_t m_fill = 0;
    QByteArray m_displayName;
    std::shared_ptr<FillTarget> m_target;
};

} // namespace

std::unique_ptr<WindowFill> makeWindowFill(QWidget &window, QWidget &above)
{
    const auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return nullptr;
    auto fill = std::make_unique<XcbWindowFill>(window, above, x11->connection());
    // The display Qt opened, for the stepper's own connection.
    if (Display *display = x11->display())
        fill->setDisplayName(QByteArray(DisplayString(display)));
    return fill;
}

} // namespace strobe
