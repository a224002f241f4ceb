#include "platform/x11/x11focusprobe.h"

#include "core/base/logging.h"
#include "platform/session/atspifocustracker.h"
#include "platform/x11/xcbreply.h"

#include <memory>
#include <QStringList>
#include <xcb/xcb.h>

namespace {

using Xcb::Reply;
using Xcb::property;

// Deeper than any real window tree; a bound for a server that answers nonsense.
constexpr int maxClimb = 64;

xcb_window_t windowProperty(xcb_connection_t *connection, xcb_window_t window, xcb_atom_t name)
{
    const Reply<xcb_get_property_reply_t> reply =
        property(connection, window, name, XCB_ATOM_WINDOW, 1);
    if (!reply || reply->format != 32)
        return XCB_WINDOW_NONE;
    return *static_cast<const xcb_window_t *>(xcb_get_property_value(reply.get()));
}

// WM_CLASS holds two NUL-terminated strings, the instance name and the class name.
QString windowClass(const xcb_get_property_reply_t *reply)
{
    const auto *value = static_cast<const char *>(xcb_get_property_value(reply));
    const QByteArray bytes(value, xcb_get_property_value_length(reply));
    QStringList names;
    for (const QByteArray &name : bytes.split('\0')) {
        if (!name.isEmpty())
            names << QString::fromLocal8Bit(name).toLower();
    }
    return names.join(u' ');
}

} // namespace

X11FocusProbe::X11FocusProbe(const AtspiFocusTracker *tracker, const QByteArray &display, bool underWayland)
    : m_tracker(tracker)
    , m_underWayland(underWayland)
    , m_connection(xcb_connect(display.isEmpty() ? nullptr : display.constData(), nullptr))
{
    if (xcb_connection_has_error(m_connection))
        qCInfo(lcPlatform) << "no X display to ask for the focused window";
}

X11FocusProbe::~X11FocusProbe()
{
    xcb_disconnect(m_connection);
}

FocusProbe::Target X11FocusProbe::focusedTarget() const
{
    Target target;
    if (xcb_connection_has_error(m_connection))
        return target;

    Reply<xcb_get_input_focus_reply_t> focus(
        xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    // None and PointerRoot are not windows: keys go nowhere, or wherever the pointer is.
    if (!focus || focus->focus == XCB_NONE || focus->focus == XCB_INPUT_FOCUS_POINTER_ROOT)
        return target;

    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    // Window managers park the focus on their own check window when no client has it.
    const xcb_window_t managerWindow =
        windowProperty(m_connection, root, Xcb::atom(m_connection, "_NET_SUPPORTING_WM_CHECK", true));
    if (focus->focus == root || (managerWindow != XCB_WINDOW_NONE && focus->focus == managerWindow))
        return target;

    // Toolkits may focus a child of the client window; WM_CLASS sits on the client window.
    const xcb_atom_t pidAtom = Xcb::atom(m_connection, "_NET_WM_PID", true);
    qint64 process = 0;
    xcb_window_t window = focus->focus;
    for (int depth = 0; depth < maxClimb && window != XCB_WINDOW_NONE && window != root; ++depth) {
        if (const auto wmClass =
                property(m_connection, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 256)) {
            target.windowClass = windowClass(wmClass.get());
            if (const auto pid = property(m_connection, window, pidAtom, XCB_ATOM_CARDINAL, 1);
                pid && pid->format == 32)
                process = *static_cast<const uint32_t *>(xcb_get_property_value(pid.get()));
            break;
        }
        Reply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, window), nullptr));
        window = tree ? tree->parent : xcb_window_t(XCB_WINDOW_NONE);
    }
    // Under Wayland the compositor parks the X focus on a window of its own (KWin: a 1×1
    // one without WM_CLASS) while a native window is active: only an application's window
    // counts there.
    if (m_underWayland && target.windowClass.isEmpty())
        return target;
    target.window = Window::x11;
    if (m_tracker)
        target.editable = m_tracker->editable(process);
    return target;
}
