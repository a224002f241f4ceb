#include "waylandfocusprobe.h"

#include "platform/atspifocustracker.h"
#include "waylandconnection.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <wayland-client.h>

WaylandFocusProbe::WaylandFocusProbe(WaylandConnection &connection, const FocusProbe &x11,
                                     const AtspiFocusTracker *tracker)
    : m_connection(connection)
    , m_x11(x11)
    , m_tracker(tracker)
{
    m_manager = static_cast<Manager *>(connection.bind(&zwlr_foreign_toplevel_manager_v1_interface, 3));
    if (!m_manager)
        return;
    static const zwlr_foreign_toplevel_manager_v1_listener listener = {.toplevel = &onToplevel,
                                                                        .finished = &onFinished};
    zwlr_foreign_toplevel_manager_v1_add_listener(m_manager, &listener, this);
    // The list arrives at once, each window then completed by its own events.
    connection.roundtrip();
    connection.roundtrip();
}

WaylandFocusProbe::~WaylandFocusProbe()
{
    for (auto toplevel = m_toplevels.cbegin(); toplevel != m_toplevels.cend(); ++toplevel)
        zwlr_foreign_toplevel_handle_v1_destroy(toplevel.key());
    if (m_manager)
        zwlr_foreign_toplevel_manager_v1_stop(m_manager);
    m_connection.flush();
}

FocusProbe::Target WaylandFocusProbe::focusedTarget() const
{
    const Target x11 = m_x11.focusedTarget();
    if (!m_manager) {
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
