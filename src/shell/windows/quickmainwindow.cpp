#include "shell/windows/quickmainwindow.h"

#include "core/base/logging.h"
#include "platform/x11/xcbreply.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

using Xcb::atom;

// Ends the launcher's wait for the launch that carried `id` (its busy cursor or its
// spinning entry): that launch handed over and exited without a window of its own. The
// message is broadcast on the root window in 20-byte pieces, as X startup notification has it.
void sendStartupRemove(xcb_connection_t *connection, xcb_window_t from, const QByteArray &id)
{
    QByteArray quoted = id;
    quoted.replace("\\", "\\\\").replace("\"", "\\\"");
    const QByteArray message = "remove: ID=\"" + quoted + "\"" + QByteArray(1, '\0');
    const xcb_setup_t *setup = xcb_get_setup(connection);
    const xcb_window_t root = xcb_setup_roots_iterator(setup).data->root;
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 8;
    event.window = from;
    event.type = atom(connection, "_NET_STARTUP_INFO_BEGIN");
    const xcb_atom_t more = atom(connection, "_NET_STARTUP_INFO");
    for (qsizetype offset = 0; offset < message.size(); offset += 20) {
        std::memset(event.data.data8, 0, sizeof event.data.data8);
        std::memcpy(event.data.data8, message.constData() + offset, size_t(std::min<qsizetype>(20, message.size() - offset)));
        xcb_send_event(connection, 0, root, XCB_EVENT_MASK_PROPERTY_CHANGE, reinterpret_cast<const char *>(&event));
        event.type = more;
    }
}

// Asks the window manager for the focus as the application does after a user's action, with
// the time of that action: the launch's, which an X11 startup id carries after "_TIME".
// Window managers weigh it against the user's last input elsewhere (KWin's focus-stealing
// prevention); Qt's own request carries Murmel's last input instead, which is older.
void requestActivation(xcb_connection_t *connection, xcb_window_t window, const QByteArray &id)
{
    const qsizetype at = id.lastIndexOf("_TIME");
    bool ok = false;
    const uint32_t time = at >= 0 ? id.mid(at + 5).toUInt(&ok) : 0;
    if (!ok)
        return;
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom(connection, "_NET_ACTIVE_WINDOW");
    event.data.data32[0] = 1; // from an application
    event.data.data32[1] = time;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_send_event(connection, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&event));
}

} // namespace

void QuickMainWindow::present()
{
    if (!m_window) {
        qCWarning(lcPlatform) << "the main window is not there to show";
        return;
    }
    if (m_window->windowStates() & Qt::WindowMinimized)
        m_window->showNormal();
    else
        m_window->show();
    m_window->raise();
    if (const QString token = std::exchange(m_activationToken, {}); !token.isEmpty())
        handOverToken(token);
    m_window->requestActivate();
}

void QuickMainWindow::handOverToken(const QString &token)
{
    // On Wayland, Qt's own activation reads the token from the variable when the window asks
    // for the focus, once.
    if (QGuiApplication::platformName() == u"wayland") {
        qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
        return;
    }
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11)
        return;
    // The window's startup id names the launch that asked for it: mutter (which also takes its
    // xdg-activation tokens as startup ids) brings a mapped window forward when the id
    // changes, or maps a hidden one focused, with the launch's time rather than Murmel's last
    // input, which its focus-stealing rules would hold back. Window managers that go by the
    // activation request alone (KWin) get the launch's time there.
    xcb_connection_t *connection = x11->connection();
    const QByteArray id = token.toUtf8();
    const auto window = xcb_window_t(m_window->winId());
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, atom(connection, "_NET_STARTUP_ID"),
                        atom(connection, "UTF8_STRING"), 8, uint32_t(id.size()), id.constData());
    sendStartupRemove(connection, window, id);
    requestActivation(connection, window, id);
    xcb_flush(connection);
    // Whether the window manager grants it is its own decision; nothing here can read it back.
    qCInfo(lcPlatform) << "the main window asked for the focus with the launcher's activation token";
}
