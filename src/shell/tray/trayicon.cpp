#include "shell/tray/trayicon.h"

#include "core/base/logging.h"
#include "platform/x11/xcbreply.h"
#include "shell/muraction.h"
#include "shell/tray/menubareye.h"

#include <QAction>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QMenu>

#include <xcb/xcb.h>

#include <memory>

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");

bool hasStatusNotifierWatcher()
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface()->isServiceRegistered(watcherService);
}

// A watcher alone shows nothing: a panel registers itself with it as a host. Qt 6.8 takes
// the watcher for a tray; Qt 6.4 asked for a host too, and so does Murmel on every Qt.
bool hasStatusNotifierHost()
{
    if (!hasStatusNotifierWatcher())
        return false;
    QDBusMessage get = QDBusMessage::createMethodCall(watcherService, watcherPath,
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << watcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    // A watcher that hangs must not hold the start-up for D-Bus's default 25 s.
    const QDBusMessage reply = QDBusConnection::sessionBus().call(get, QDBus::Block, 2000);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
           && qvariant_cast<QDBusVariant>(reply.arguments().constFirst()).variant().toBool();
}

// An XEmbed tray owns the manager selection of its screen; only windows of the X11 platform
// can be embedded in it.
bool hasXEmbedTray()
{
    if (QGuiApplication::platformName() != u"xcb")
        return false;
    int screen = 0;
    const std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> connection(xcb_connect(nullptr, &screen),
                                                                                  &xcb_disconnect);
    if (xcb_connection_has_error(connection.get()))
        return false;
    const QByteArray name = "_NET_SYSTEM_TRAY_S" + QByteArray::number(screen);
    const xcb_atom_t selection = Xcb::atom(connection.get(), name.constData(), true);
    if (selection == XCB_ATOM_NONE)
        return false;
    const Xcb::Reply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(connection.get(), xcb_get_selection_owner(connection.get(), selection), nullptr));
    return owner && owner->owner != XCB_WINDOW_NONE;
}

} // namespace

TrayIcon::TrayIcon(const Menu &menu, QObject *parent)
    : QObject(parent)
    , m_toggleDictation(menu.toggleDictation)
    , m_idleIcon(MenuBarEye::icon(false))
    , m_recordingIcon(MenuBarEye::icon(true))
    , m_menu(std::make_unique<QMenu>())
    , m_tray(std::make_unique<QSystemTrayIcon>())
{
    m_menu->setTitle(tr("Murmel"));
    addEntry(menu.toggleDictation);
    addEntry(menu.transcribeFile);
    addEntry(menu.openSettings);
    m_menu->addSeparator();
    addEntry(menu.quit);

    m_tray->setIcon(m_idleIcon);
    m_tray->setToolTip(toolTip(false));
    m_tray->setContextMenu(m_menu.get());
    connect(m_tray.get(), &QSystemTrayIcon::activated, this, &TrayIcon::onActivated);
}

TrayIcon::~TrayIcon() = default;

void TrayIcon::addEntry(MurAction &action)
{
    QAction *entry = m_menu->addAction(action.text());
    entry->setEnabled(action.isEnabled());
    // QAction tells the panel only of a real change, so an unchanged title costs no redraw.
    connect(&action, &MurAction::changed, entry, [entry, &action] {
        entry->setText(action.text());
        entry->setEnabled(action.isEnabled());
    });
    connect(entry, &QAction::triggered, &action, &MurAction::trigger);
}

QString TrayIcon::toolTip(bool recording)
{
    return recording ? tr("Murmel, recording") : tr("Murmel");
}

void TrayIcon::setRecording(bool recording)
{
    if (recording == m_recording)
        return;
    m_recording = recording;
    m_tray->setIcon(recording ? m_recordingIcon : m_idleIcon);
    m_tray->setToolTip(toolTip(recording));
}

void TrayIcon::show()
{
    if (isTrayAvailable()) {
        m_tray->show();
        return;
    }
    if (!m_reportedMissingTray) {
        m_reportedMissingTray = true;
        qCInfo(lcPlatform) << "No system tray on this desktop: the session bus has no"
                           << "org.kde.StatusNotifierWatcher with a host, and the display no"
                           << "XEmbed tray; Murmel stays reachable through its window and commands";
    }
    if (!hasStatusNotifierWatcher()) {
        // Qt puts the icon up itself should an XEmbed tray turn up later.
        m_tray->show();
        return;
    }
    // Qt 6.8 would register the item with a watcher that has no panel behind it, and report
    // it shown; the icon goes up when a panel registers as the watcher's host.
    if (!m_waitingForHost) {
        m_waitingForHost = QDBusConnection::sessionBus().connect(
            watcherService, watcherPath, watcherService, QStringLiteral("StatusNotifierHostRegistered"), this,
            SLOT(onHostRegistered()));
    }
}

void TrayIcon::onHostRegistered()
{
    QDBusConnection::sessionBus().disconnect(watcherService, watcherPath, watcherService,
                                             QStringLiteral("StatusNotifierHostRegistered"), this,
                                             SLOT(onHostRegistered()));
    m_waitingForHost = false;
    m_tray->show();
}

bool TrayIcon::isVisible() const
{
    return m_tray->isVisible();
}

bool TrayIcon::isTrayAvailable()
{
    return hasStatusNotifierHost() || hasXEmbedTray();
}

void TrayIcon::onActivated(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger:
    case QSystemTrayIcon::DoubleClick:
        Q_EMIT menuWindowRequested();
        break;
    case QSystemTrayIcon::MiddleClick:
        // Dictation from the panel without opening anything; like the menu's item, it does
        // nothing while the last one is still being worked on.
        m_toggleDictation.trigger();
        break;
    case QSystemTrayIcon::Context:
    case QSystemTrayIcon::Unknown:
        // The host shows the context menu itself.
        break;
    }
}
