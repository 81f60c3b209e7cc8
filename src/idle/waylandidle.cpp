#include "idle/idleways.h"

#include "idle-inhibit-unstable-v1-client-protocol.h"

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <qpa/qplatformnativeinterface.h>

#include <wayland-client.h>

#include <cstring>

namespace idle {

namespace {

QPlatformNativeInterface *nativeInterface()
{
    return QGuiApplication::platformNativeInterface();
}

void announced(void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t)
{
    if (std::strcmp(interface, zwp_idle_inhibit_manager_v1_interface.name) != 0)
        return;
    *static_cast<zwp_idle_inhibit_manager_v1 **>(data)
        = static_cast<zwp_idle_inhibit_manager_v1 *>(
            wl_registry_bind(registry, name, &zwp_idle_inhibit_manager_v1_interface, 1));
}

void withdrawn(void *, wl_registry *, uint32_t) {}

const wl_registry_listener kRegistryListener{announced, withdrawn};

// The compositor's idle inhibitor on the strobe window's surface: the
// compositor holds idle off while that surface is visible and drops the
// inhibitor with the program's connection. Its objects live on an event queue
// of their own, so Qt's handling of the display is left alone.
class WaylandIdleHold final : public strobe::IdleInhibitor
{
public:
    WaylandIdleHold(wl_display *display, wl_event_queue *queue,
                    zwp_idle_inhibit_manager_v1 *manager)
        : m_display(display)
        , m_queue(queue)
        , m_manager(manager)
    {}
    ~WaylandIdleHold() override
    {
        release();
        zwp_idle_inhibit_manager_v1_destroy(m_manager);
        wl_event_queue_destroy(m_queue);
    }
    Q_DISABLE_COPY_MOVE(WaylandIdleHold)

    void inhibit(QWidget &window) override
    {
        QWindow *handle = window.windowHandle();
        auto *surface = handle ? static_cast<wl_surface *>(
                            nativeInterface()->nativeResourceForWindow("surface", handle))
                               : nullptr;
        if (m_inhibitor || !surface)
            return;
        m_inhibitor = zwp_idle_inhibit_manager_v1_create_inhibitor(m_manager, surface);
        wl_display_flush(m_display);
    }

    void release() override
    {
        if (!m_inhibitor)
            return;
        zwp_idle_inhibitor_v1_destroy(m_inhibitor);
        m_inhibitor = nullptr;
        wl_display_flush(m_display);
    }

private:
    wl_display *m_display;
    wl_event_queue *m_queue;
    zwp_idle_inhibit_manager_v1 *m_manager;
    zwp_idle_inhibitor_v1 *m_inhibitor = nullptr;
};

} // namespace

std::unique_ptr<strobe::IdleInhibitor> makeWaylandIdleHold()
{
    QPlatformNativeInterface *native = nativeInterface();
    auto *display
        = native ? static_cast<wl_display *>(native->nativeResourceForIntegration("wl_display"))
                 : nullptr;
    if (!display)
        return nullptr;
    // One round trip to the compositor on a queue of our own finds its manager.
    wl_event_queue *queue = wl_display_create_queue(display);
    auto *wrapper = static_cast<wl_display *>(wl_proxy_create_wrapper(display));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy *>(wrapper), queue);
    wl_registry *registry = wl_display_get_registry(wrapper);
    wl_proxy_wrapper_destroy(wrapper);
    zwp_idle_inhibit_manager_v1 *manager = nullptr;
    wl_registry_add_listener(registry, &kRegistryListener, &manager);
    wl_display_roundtrip_queue(display, queue);
    wl_registry_destroy(registry);
    if (!manager) {
        wl_event_queue_destroy(queue);
        return nullptr;
    }
    return std::make_unique<WaylandIdleHold>(display, queue, manager);
}

} // namespace idle
