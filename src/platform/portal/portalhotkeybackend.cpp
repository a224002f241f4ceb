#include "platform/portal/portalhotkeybackend.h"

#include "core/base/logging.h"

#include <algorithm>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QRandomGenerator>

#include <xkbcommon/xkbcommon.h>

#include <memory>

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString sessionInterface = QStringLiteral("org.freedesktop.portal.Session");
const QString shortcutId = QStringLiteral("dictate");
const QString shortcutDescription = QStringLiteral("Start or stop dictation");

// The portal is a local service that answers a call at once (the user's answer comes later,
// as a signal); anything slower is not going to work, and the next backend should take over.
constexpr int callTimeoutMs = 5000;
constexpr int xkbKeyCodeOffset = 8;

// One entry of BindShortcuts' a(sa{sv}).
struct PortalShortcut
{
    QString id;
    QVariantMap properties;
};

QDBusArgument &operator<<(QDBusArgument &argument, const PortalShortcut &shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, PortalShortcut &shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

} // namespace

Q_DECLARE_METATYPE(PortalShortcut)

namespace {

void registerTypes()
{
    static const bool registered = [] {
        qDBusRegisterMetaType<PortalShortcut>();
        qDBusRegisterMetaType<QList<PortalShortcut>>();
        return true;
    }();
    Q_UNUSED(registered);
}

// What Murmel asks the desktop to bind: its one shortcut, with the user's keys as the wish.
QList<PortalShortcut> portalShortcuts(const Shortcut &shortcut)
{
    QVariantMap properties{{QStringLiteral("description"), shortcutDescription}};
    const QString trigger = PortalHotkeyBackend::preferredTrigger(shortcut);
    if (!trigger.isEmpty())
        properties.insert(QStringLiteral("preferred_trigger"), trigger);
    return {{shortcutId, properties}};
}

// The portal has typed the session handle both as a string and as an object path.
QString pathOf(const QVariant &value)
{
    if (value.metaType() == QMetaType::fromType<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    return value.toString();
}

// Key names of the shortcut notation are XKB keysym names, read from a plain US keymap
// so the trigger does not depend on the layout the user happens to have active.
QString keysymName(int evdevCode)
{
    struct Keymap
    {
        std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context{nullptr, xkb_context_unref};
        std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap{nullptr, xkb_keymap_unref};
    };
    static const Keymap us = [] {
        Keymap made;
        made.context.reset(xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
        if (made.context) {
            const xkb_rule_names names{"evdev", "pc105", "us", "", ""};
            made.keymap.reset(xkb_keymap_new_from_names(made.context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
        }
        if (!made.keymap)
            qCInfo(lcPlatform) << "Portal hotkey: no XKB keymap, so the preferred trigger is left to the desktop";
        return made;
    }();
    if (!us.keymap || evdevCode <= 0)
        return {};
    const xkb_keysym_t *symbols = nullptr;
    const int count = xkb_keymap_key_get_syms_by_level(
        us.keymap.get(), static_cast<xkb_keycode_t>(evdevCode + xkbKeyCodeOffset), 0, 0, &symbols);
    if (count < 1)
        return {};
    char name[64];
    if (xkb_keysym_get_name(symbols[0], name, sizeof name) <= 0)
        return {};
    return QString::fromLatin1(name);
}

} // namespace

PortalHotkeyBackend::PortalHotkeyBackend(QDBusConnection bus, QObject *parent)
    : HotkeyBackend(parent)
    , m_bus(std::move(bus))
{
    registerTypes();
}

PortalHotkeyBackend::~PortalHotkeyBackend()
{
    closeSession();
}

QString PortalHotkeyBackend::name() const
{
    return QStringLiteral("GlobalShortcuts portal");
}

bool PortalHotkeyBackend::isAvailable() const
{
    // Whether the desktop has the portal shows when the session is asked for, without
    // holding the start: a desktop without it answers with an error, and the hotkey goes
    // to the next backend.
    if (!m_bus.isConnected())
        qCInfo(lcPlatform) << "Portal hotkey: no session bus";
    return m_bus.isConnected();
}

QString PortalHotkeyBackend::preferredTrigger(const Shortcut &shortcut)
{
    const QString key = keysymName(shortcut.keyCode);
    if (key.isEmpty())
        return {};
    QString trigger;
    if (shortcut.modifiers & Shortcut::control)
        trigger += QStringLiteral("CTRL+");
    if (shortcut.modifiers & Shortcut::alt)
        trigger += QStringLiteral("ALT+");
    if (shortcut.modifiers & Shortcut::shift)
        trigger += QStringLiteral("SHIFT+");
    if (shortcut.modifiers & Shortcut::super)
        trigger += QStringLiteral("LOGO+");
    return trigger + key;
}

bool PortalHotkeyBackend::watch(const std::optional<Shortcut> &shortcut)
{
    // Asking again while the desktop binds the same hotkey would open a second dialog.
    if (shortcut == m_shortcut && m_stage != Stage::idle)
        return true;
    closeSession();
    m_shortcut = shortcut;
    setStage(Stage::idle);
    if (!shortcut)
        return true;
    if (shortcut == m_declined) {
        Q_EMIT conflict(m_declinedMessage);
        return false;
    }
    if (!m_bus.isConnected()) {
        Q_EMIT conflict(QStringLiteral("The desktop's shortcut service cannot be reached."));
        return false;
    }
    createSession();
    return true;
}

QString PortalHotkeyBackend::newToken()
{
    return QStringLiteral("murmel_%1_%2").arg(++m_tokenCounter).arg(QRandomGenerator::global()->generate());
}

void PortalHotkeyBackend::createSession()
{
    if (!m_listeningForActivation) {
        m_bus.connect(portalService, portalPath, shortcutsInterface, QStringLiteral("Activated"), this,
                      SLOT(onActivated(QDBusMessage)));
        m_bus.connect(portalService, portalPath, shortcutsInterface, QStringLiteral("Deactivated"), this,
                      SLOT(onDeactivated(QDBusMessage)));
        m_listeningForActivation = true;
    }
    setStage(Stage::creatingSession);
    const QString token = newToken();
    // KDE's portal registers only the shortcuts that come with the session; BindShortcuts
    // alone opens its settings and binds nothing.
    const QVariantMap options{{QStringLiteral("handle_token"), token},
                              {QStringLiteral("session_handle_token"), newToken()},
                              {QStringLiteral("shortcuts"), QVariant::fromValue(portalShortcuts(*m_shortcut))}};
    request(QStringLiteral("CreateSession"), {options}, token);
}

void PortalHotkeyBackend::bindShortcuts()
{
    setStage(Stage::binding);
    const QString token = newToken();
    const QVariantMap options{{QStringLiteral("handle_token"), token}};
    request(QStringLiteral("BindShortcuts"),
            {QVariant::fromValue(QDBusObjectPath(m_sessionHandle)), QVariant::fromValue(portalShortcuts(*m_shortcut)),
             QString(), options},
            token);
}

void PortalHotkeyBackend::request(const QString &method, const QList<QVariant> &arguments, const QString &token)
{
    // The Request object's path is known before the call, so the answer cannot slip
    // past between the reply and the subscription.
    QString sender = m_bus.baseService().mid(1);
    sender.replace(u'.', u'_');
    const QString expected = portalPath + QStringLiteral("/request/") + sender + u'/' + token;
    listenForResponse(expected);

    QDBusMessage call = QDBusMessage::createMethodCall(portalService, portalPath, shortcutsInterface, method);
    call.setArguments(arguments);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, callTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, expected, method](QDBusPendingCallWatcher *done) {
        done->deleteLater();
        if (m_pendingRequest != expected)
            return;
        const QDBusPendingReply<QDBusObjectPath> reply = *done;
        if (reply.isError()) {
            qCWarning(lcPlatform) << "Portal hotkey:" << method << "failed:" << reply.error().message();
            fail(QStringLiteral("The desktop's shortcut service did not accept the hotkey: %1")
                     .arg(reply.error().message()),
                 Failure::backend);
            return;
        }
        // Portals before version 0.9 chose the path themselves.
        const QString actual = reply.value().path();
        if (actual != expected)
            listenForResponse(actual);
    });
}

void PortalHotkeyBackend::listenForResponse(const QString &path)
{
    if (!m_pendingRequest.isEmpty())
        m_bus.disconnect(portalService, m_pendingRequest, requestInterface, QStringLiteral("Response"), this,
                         SLOT(onResponse(QDBusMessage)));
    m_pendingRequest = path;
    m_bus.connect(portalService, path, requestInterface, QStringLiteral("Response"), this,
                  SLOT(onResponse(QDBusMessage)));
}

void PortalHotkeyBackend::stopListeningForResponse()
{
    if (m_pendingRequest.isEmpty())
        return;
    m_bus.disconnect(portalService, m_pendingRequest, requestInterface, QStringLiteral("Response"), this,
                     SLOT(onResponse(QDBusMessage)));
    m_pendingRequest.clear();
}

void PortalHotkeyBackend::onResponse(const QDBusMessage &message)
{
    if (message.path() != m_pendingRequest)
        return;
    stopListeningForResponse();
    const QList<QVariant> arguments = message.arguments();
    const uint response = arguments.value(0).toUInt();
    const QVariantMap results = qdbus_cast<QVariantMap>(arguments.value(1));
    const QString display = m_shortcut ? m_shortcut->display : QString();

    if (m_stage == Stage::creatingSession) {
        m_sessionHandle = pathOf(results.value(QStringLiteral("session_handle")));
        if (response != 0 || m_sessionHandle.isEmpty()) {
            m_sessionHandle.clear();
            fail(QStringLiteral("The desktop did not open a shortcut session, so %1 cannot work as the global hotkey.")
                     .arg(display),
                 Failure::backend);
            return;
        }
        m_bus.connect(portalService, m_sessionHandle, sessionInterface, QStringLiteral("Closed"), this,
                      SLOT(onSessionClosed(QDBusMessage)));
        bindShortcuts();
        return;
    }
    if (m_stage == Stage::binding) {
        // 1: the user declined in the desktop's dialog; 2: the desktop could not do it.
        if (response == 1) {
            m_declined = m_shortcut;
            m_declinedMessage = QStringLiteral("%1 was not allowed as the global hotkey. Allow it when the desktop "
                                               "asks, or choose a different hotkey.")
                                    .arg(display);
            fail(m_declinedMessage);
            return;
        }
        if (response != 0) {
            fail(QStringLiteral("The desktop could not set up %1 as the global hotkey. Choose a different hotkey.")
                     .arg(display));
            return;
        }
        // An answer of success that assigns no key to ours leaves a hotkey that never fires.
        const auto bound = qdbus_cast<QList<PortalShortcut>>(results.value(QStringLiteral("shortcuts")));
        const bool assigned = std::any_of(bound.cbegin(), bound.cend(), [](const PortalShortcut &each) {
            return each.id == shortcutId &&
                   !each.properties.value(QStringLiteral("trigger_description")).toString().isEmpty();
        });
        if (!assigned) {
            fail(QStringLiteral("The desktop assigned no key to the global hotkey, so %1 cannot work. Choose a "
                                "different hotkey, or set one in the desktop's shortcut settings.")
                     .arg(display),
                 Failure::backend);
            return;
        }
        qCInfo(lcPlatform) << "Portal hotkey: bound" << display;
        setStage(Stage::bound);
    }
}

bool PortalHotkeyBackend::isOurs(const QDBusMessage &message) const
{
    const QList<QVariant> arguments = message.arguments();
    return m_stage == Stage::bound && m_shortcut && pathOf(arguments.value(0)) == m_sessionHandle
        && arguments.value(1).toString() == shortcutId;
}

void PortalHotkeyBackend::onActivated(const QDBusMessage &message)
{
    if (!isOurs(message))
        return;
    // Desktops send one activation per press; a second one before the release would be
    // the key repeating.
    const bool repeat = m_keyDown;
    m_keyDown = true;
    Q_EMIT keyEvent({HotkeyEvent::Type::keyDown, m_shortcut->keyCode, m_shortcut->modifiers, repeat});
}

void PortalHotkeyBackend::onDeactivated(const QDBusMessage &message)
{
    if (!isOurs(message))
        return;
    m_keyDown = false;
    Q_EMIT keyEvent({HotkeyEvent::Type::keyUp, m_shortcut->keyCode, m_shortcut->modifiers, false});
}

void PortalHotkeyBackend::onSessionClosed(const QDBusMessage &message)
{
    if (message.path() != m_sessionHandle)
        return;
    qCInfo(lcPlatform) << "Portal hotkey: the desktop closed the shortcut session";
    m_bus.disconnect(portalService, m_sessionHandle, sessionInterface, QStringLiteral("Closed"), this,
                     SLOT(onSessionClosed(QDBusMessage)));
    m_sessionHandle.clear();
    m_keyDown = false;
    stopListeningForResponse();
    setStage(Stage::idle);
}

void PortalHotkeyBackend::closeSession()
{
    // A request still open is withdrawn, so no dialog outlives the hotkey it was for.
    if (!m_pendingRequest.isEmpty()) {
        m_bus.send(QDBusMessage::createMethodCall(portalService, m_pendingRequest, requestInterface,
                                                  QStringLiteral("Close")));
        stopListeningForResponse();
    }
    if (!m_sessionHandle.isEmpty()) {
        m_bus.disconnect(portalService, m_sessionHandle, sessionInterface, QStringLiteral("Closed"), this,
                         SLOT(onSessionClosed(QDBusMessage)));
        m_bus.send(QDBusMessage::createMethodCall(portalService, m_sessionHandle, sessionInterface,
                                                  QStringLiteral("Close")));
        m_sessionHandle.clear();
    }
    m_keyDown = false;
}

void PortalHotkeyBackend::fail(const QString &message, Failure failure)
{
    qCInfo(lcPlatform) << "Portal hotkey:" << message;
    closeSession();
    setStage(Stage::idle);
    if (failure == Failure::backend)
        Q_EMIT unusable(message);
    else
        Q_EMIT conflict(message);
}

void PortalHotkeyBackend::setStage(Stage stage)
{
    const bool wasActive = isActive();
    m_stage = stage;
    if (isActive() != wasActive)
        Q_EMIT activeChanged(isActive());
}
