#include "platform/wayland/waylandfocusprobe.h"

#include "plasma-window-management-client-protocol.h"
#include "platform/session/atspifocustracker.h"
#include "platform/wayland/waylandconnection.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <wayland-client.h>

WaylandFocusProbe::WaylandFocusProbe(WaylandConnection &connection, const FocusProbe &x11,
                                     const AtspiFocusTracker *tracker)
    : m_connection(connection)
    , m_x11(x11)
    , m_tracker(tracker)
{
    m_manager = static_cast<Manager *>(connection.bind(&zwlr_foreign_toplevel_manager_v1_interface, 3));
    if (m_manager) {
        static const zwlr_foreign_toplevel_manager_v1_listener listener = {.toplevel = &onToplevel,
                                                                            .finished = &onFinished};
        zwlr_foreign_toplevel_manager_v1_add_listener(m_manager, &listener, this);
    } else {
        // Windows are taken by their uuid (version 13 on): KWin 6 answers a request by number
        // with two windows under one id, whose events then reach whatever reuses it.
        m_plasma = static_cast<org_kde_plasma_window_management *>(
            connection.bind(&org_kde_plasma_window_management_interface, 16));
        if (m_plasma && wl_proxy_get_version(reinterpret_cast<wl_proxy *>(m_plasma)) < 13) {
            org_kde_plasma_window_management_destroy(m_plasma);
            m_plasma = nullptr;
        }
        if (!m_plasma)
            return;
        // Newer protocol packages add events beyond the version bound here, which are never
        // sent: those stay empty.
        static const org_kde_plasma_window_management_listener listener = [] {
            org_kde_plasma_window_management_listener events{};
            events.show_desktop_changed = [](void *, org_kde_plasma_window_management *, uint32_t) {};
            events.window = [](void *, org_kde_plasma_window_management *, uint32_t) {};
            events.stacking_order_changed = [](void *, org_kde_plasma_window_management *, wl_array *) {};
            events.stacking_order_uuid_changed = [](void *, org_kde_plasma_window_management *, const char *) {};
            events.window_with_uuid = &onPlasmaWindow;
            return events;
        }();
        org_kde_plasma_window_management_add_listener(m_plasma, &listener, this);
    }
    // The list arrives at once, each window then completed by its own events.
    connection.roundtrip();
    connection.roundtrip();
}

WaylandFocusProbe::~WaylandFocusProbe()
{
    for (auto toplevel = m_toplevels.cbegin(); toplevel != m_toplevels.cend(); ++toplevel) {
        if (m_manager)
            zwlr_foreign_toplevel_handle_v1_destroy(static_cast<Handle *>(toplevel.key()));
        else
            org_kde_plasma_window_destroy(static_cast<org_kde_plasma_window *>(toplevel.key()));
    }
    if (m_manager)
        zwlr_foreign_toplevel_manager_v1_stop(m_manager);
    if (m_plasma)
        org_kde_plasma_window_management_destroy(m_plasma);
    m_connection.flush();
}

FocusProbe::Target WaylandFocusProbe::focusedTarget() const
{
    const Target x11 = m_x11.focusedTarget();
    if (!knowsActiveWindow()) {
        if (x11.hasFocus())
            return x11;
        return {Window::unknown, QString(), m_tracker ? m_tracker->editable() : Editable::unknown};
    }

    // Events that arrived since the event loop last ran (a click into another window just now).
    m_connection.roundtrip();
    for (const Toplevel &toplevel : m_toplevels) {
        if (!toplevel.activated)
            continue;
        const QString appId = toplevel.appId.toLower();
        // The X focus counts only when it is the active window's: XWayland keeps the last X
        // window focused while a native one is active.
        if (x11.hasFocus() && x11.windowClass.split(u' ').contains(appId))
            return x11;
        return {Window::wayland, appId, m_tracker ? m_tracker->editable() : Editable::unknown};
    }
    return {};
}

void WaylandFocusProbe::onToplevel(void *data, Manager *, Handle *handle)
{
    auto *self = static_cast<WaylandFocusProbe *>(data);
    self->m_toplevels.insert(handle, {});
    static const zwlr_foreign_toplevel_handle_v1_listener listener = {
        .title = [](void *, Handle *, const char *) {},
        .app_id = &onAppId,
        .output_enter = [](void *, Handle *, wl_output *) {},
        .output_leave = [](void *, Handle *, wl_output *) {},
        .state = &onState,
        .done = &onDone,
        .closed = &onClosed,
        .parent = [](void *, Handle *, Handle *) {},
    };
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &listener, self);
}

void WaylandFocusProbe::onFinished(void *data, Manager *)
{
    // The compositor stopped the list: the focus is not known any more.
    auto *self = static_cast<WaylandFocusProbe *>(data);
    zwlr_foreign_toplevel_manager_v1_destroy(self->m_manager);
    self->m_manager = nullptr;
}

void WaylandFocusProbe::onAppId(void *data, Handle *handle, const char *appId)
{
    static_cast<WaylandFocusProbe *>(data)->m_toplevels[handle].pendingAppId = QString::fromUtf8(appId);
}

void WaylandFocusProbe::onState(void *data, Handle *handle, wl_array *state)
{
    bool activated = false;
    const auto *values = static_cast<const uint32_t *>(state->data);
    for (size_t index = 0; index < state->size / sizeof(uint32_t); ++index)
        activated = activated || values[index] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED;
    static_cast<WaylandFocusProbe *>(data)->m_toplevels[handle].pendingActivated = activated;
}

void WaylandFocusProbe::onDone(void *data, Handle *handle)
{
    Toplevel &toplevel = static_cast<WaylandFocusProbe *>(data)->m_toplevels[handle];
    toplevel.appId = toplevel.pendingAppId;
    toplevel.activated = toplevel.pendingActivated;
}

void WaylandFocusProbe::onClosed(void *data, Handle *handle)
{
    auto *self = static_cast<WaylandFocusProbe *>(data);
    self->m_toplevels.remove(handle);
    zwlr_foreign_toplevel_handle_v1_destroy(handle);
}

void WaylandFocusProbe::onPlasmaWindow(void *data, org_kde_plasma_window_management *manager, uint32_t,
                                       const char *uuid)
{
    auto *self = static_cast<WaylandFocusProbe *>(data);
    org_kde_plasma_window *window = org_kde_plasma_window_management_get_window_by_uuid(manager, uuid);
    self->m_toplevels.insert(window, {});
    static const org_kde_plasma_window_listener listener = [] {
        org_kde_plasma_window_listener events{};
        events.title_changed = [](void *, org_kde_plasma_window *, const char *) {};
        events.app_id_changed = &onPlasmaAppId;
        events.state_changed = &onPlasmaState;
        events.virtual_desktop_changed = [](void *, org_kde_plasma_window *, int32_t) {};
        events.themed_icon_name_changed = [](void *, org_kde_plasma_window *, const char *) {};
        events.unmapped = &onPlasmaUnmapped;
        events.initial_state = [](void *, org_kde_plasma_window *) {};
        events.parent_window = [](void *, org_kde_plasma_window *, org_kde_plasma_window *) {};
        events.geometry = [](void *, org_kde_plasma_window *, int32_t, int32_t, uint32_t, uint32_t) {};
        events.icon_changed = [](void *, org_kde_plasma_window *) {};
        events.pid_changed = [](void *, org_kde_plasma_window *, uint32_t) {};
        events.virtual_desktop_entered = [](void *, org_kde_plasma_window *, const char *) {};
        events.virtual_desktop_left = [](void *, org_kde_plasma_window *, const char *) {};
        events.application_menu = [](void *, org_kde_plasma_window *, const char *, const char *) {};
        events.activity_entered = [](void *, org_kde_plasma_window *, const char *) {};
        events.activity_left = [](void *, org_kde_plasma_window *, const char *) {};
        events.resource_name_changed = [](void *, org_kde_plasma_window *, const char *) {};
        return events;
    }();
    org_kde_plasma_window_add_listener(window, &listener, self);
}

void WaylandFocusProbe::onPlasmaAppId(void *data, org_kde_plasma_window *window, const char *appId)
{
    static_cast<WaylandFocusProbe *>(data)->m_toplevels[window].appId = QString::fromUtf8(appId);
}

void WaylandFocusProbe::onPlasmaState(void *data, org_kde_plasma_window *window, uint32_t flags)
{
    static_cast<WaylandFocusProbe *>(data)->m_toplevels[window].activated =
        flags & ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ACTIVE;
}

void WaylandFocusProbe::onPlasmaUnmapped(void *data, org_kde_plasma_window *window)
{
    auto *self = static_cast<WaylandFocusProbe *>(data);
    self->m_toplevels.remove(window);
    org_kde_plasma_window_destroy(window);
}
