#pragma once

#include "core/desktop/focusprobe.h"

#include <QHash>
#include <QString>

struct wl_array;
struct zwlr_foreign_toplevel_handle_v1;
struct zwlr_foreign_toplevel_manager_v1;
struct org_kde_plasma_window;
struct org_kde_plasma_window_management;
class AtspiFocusTracker;
class WaylandConnection;

// What has the focus in a Wayland session. XWayland's windows are asked through the X11
// probe given; native windows through the compositor's window list, which names the active
// window and its application id: `zwlr_foreign_toplevel_manager_v1` on sway and other
// wlroots compositors, `org_kde_plasma_window_management` on KWin (offered to a program
// whose desktop entry asks for it). Where the compositor keeps its list to itself (GNOME), a
// native window's focus is `unknown`, with what the accessibility tree says as the only hint.
//
// Main thread only; the connection, the X11 probe and the tracker must outlive it.
class WaylandFocusProbe final : public FocusProbe
{
public:
    WaylandFocusProbe(WaylandConnection &connection, const FocusProbe &x11, const AtspiFocusTracker *tracker);
    ~WaylandFocusProbe() override;

    WaylandFocusProbe(const WaylandFocusProbe &) = delete;
    WaylandFocusProbe &operator=(const WaylandFocusProbe &) = delete;

    // Whether the compositor tells which window is active.
    bool knowsActiveWindow() const { return m_manager || m_plasma; }

    Target focusedTarget() const override;

private:
    struct Toplevel
    {
        QString appId;
        bool activated = false;
        // What the next "done" makes true.
        QString pendingAppId;
        bool pendingActivated = false;
    };

    using Handle = zwlr_foreign_toplevel_handle_v1;
    using Manager = zwlr_foreign_toplevel_manager_v1;

    static void onToplevel(void *data, Manager *manager, Handle *handle);
    static void onFinished(void *data, Manager *manager);
    static void onAppId(void *data, Handle *handle, const char *appId);
    static void onState(void *data, Handle *handle, wl_array *state);
    static void onDone(void *data, Handle *handle);
    static void onClosed(void *data, Handle *handle);
    static void onPlasmaWindow(void *data, org_kde_plasma_window_management *manager, uint32_t id,
                               const char *uuid);
    static void onPlasmaAppId(void *data, org_kde_plasma_window *window, const char *appId);
    static void onPlasmaState(void *data, org_kde_plasma_window *window, uint32_t flags);
    static void onPlasmaUnmapped(void *data, org_kde_plasma_window *window);

    WaylandConnection &m_connection;
    const FocusProbe &m_x11;
    const AtspiFocusTracker *m_tracker;
    Manager *m_manager = nullptr;
    org_kde_plasma_window_management *m_plasma = nullptr;
    // The windows of whichever list the compositor offers, by their handle.
    QHash<void *, Toplevel> m_toplevels;
};
