#include "platform/session/atspifocustracker.h"

#include "core/base/logging.h"

#include <QCoroDBus>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QPointer>
#include <QSet>
#include <QStringList>

namespace {

const QString accessibleInterface = QStringLiteral("org.a11y.atspi.Accessible");
const QString editableTextInterface = QStringLiteral("org.a11y.atspi.EditableText");
const QString focusEvent = QStringLiteral("object:state-changed:focused");

// AT-SPI role numbers, fixed by the protocol: entry, text, password text, terminal, document
// text, edit bar.
const QSet<uint> &textEntryRoles()
{
    static const QSet<uint> roles{79, 61, 40, 60, 94, 77};
    return roles;
}
// The "editable" bit of the first word of an AT-SPI state set.
constexpr uint editableState = 1u << 7;

QDBusMessage accessibleCall(const QString &service, const QString &path, const QString &method)
{
    return QDBusMessage::createMethodCall(service, path, accessibleInterface, method);
}

} // namespace

AtspiFocusTracker::AtspiFocusTracker(QDBusConnection sessionBus, QObject *parent)
    : QObject(parent)
    , m_sessionBus(std::move(sessionBus))
    , m_connectionName(QStringLiteral("murmel-atspi-focus-%1").arg(quintptr(this), 0, 16))
{}

AtspiFocusTracker::~AtspiFocusTracker()
{
    QDBusConnection::disconnectFromBus(m_connectionName);
}

void AtspiFocusTracker::start()
{
    connectToAccessibilityBus();
}

QCoro::Task<void> AtspiFocusTracker::connectToAccessibilityBus()
{
    QPointer<AtspiFocusTracker> self(this);
    if (!m_sessionBus.isConnected()) {
        qCDebug(lcPlatform) << "no session bus: the focused element's kind stays unknown";
        Q_EMIT started();
        co_return;
    }
    auto addressCall = m_sessionBus.asyncCall(QDBusMessage::createMethodCall(
        QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
        QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress")));
    const QDBusMessage addressReply = co_await addressCall;
    if (!self)
        co_return;
    const QString address = addressReply.arguments().value(0).toString();
    if (addressReply.type() != QDBusMessage::ReplyMessage || address.isEmpty()) {
        qCDebug(lcPlatform) << "no accessibility bus:" << addressReply.errorMessage();
        Q_EMIT started();
        co_return;
    }

    QDBusConnection bus = QDBusConnection::connectToBus(address, m_connectionName);
    if (!bus.isConnected()) {
        qCDebug(lcPlatform) << "the accessibility bus did not take the connection:"
                            << bus.lastError().message();
        Q_EMIT started();
        co_return;
    }
    const bool subscribed =
        bus.connect(QString(), QString(), QStringLiteral("org.a11y.atspi.Event.Object"),
                    QStringLiteral("StateChanged"), this, SLOT(onStateChanged(QDBusMessage)));
    // Toolkits send focus events only once some listener has registered for them, and read
    // the registrations each in its own way: GTK's bridge takes the event name, Qt's the
    // "focus:" class.
    bool registeredAll = true;
    const QStringList events{focusEvent, QStringLiteral("focus:")};
    for (const QString &event : events) {
        QDBusMessage registration = QDBusMessage::createMethodCall(
            QStringLiteral("org.a11y.atspi.Registry"), QStringLiteral("/org/a11y/atspi/registry"),
            QStringLiteral("org.a11y.atspi.Registry"), QStringLiteral("RegisterEvent"));
        registration << event << QStringList() << QString();
        auto registerCall = bus.asyncCall(registration);
        const QDBusMessage registered = co_await registerCall;
        if (!self)
            co_return;
        if (registered.type() != QDBusMessage::ReplyMessage) {
            qCDebug(lcPlatform) << "the accessibility registry refused" << event << "-"
                                << registered.errorMessage();
            registeredAll = false;
        }
    }
    m_tracking = subscribed && registeredAll;
    Q_EMIT started();
}

void AtspiFocusTracker::onStateChanged(const QDBusMessage &message)
{
    const QList<QVariant> arguments = message.arguments();
    if (arguments.value(0).toString() != u"focused")
        return;
    const bool gained = arguments.value(1).toInt() != 0;
    if (!gained) {
        // The element we know about lost the focus; what takes it next may say nothing.
        if (message.service() == m_focusService && message.path() == m_focusPath) {
            ++m_serial;
            m_focusService.clear();
            m_focusPath.clear();
            m_focusProcess = 0;
            m_editable = FocusProbe::Editable::unknown;
        }
        return;
    }
    m_focusService = message.service();
    m_focusPath = message.path();
    m_focusProcess = 0;
    m_editable = FocusProbe::Editable::unknown;
    examine(m_focusService, m_focusPath, ++m_serial);
}

QCoro::Task<void> AtspiFocusTracker::examine(QString service, QString path, quint64 serial)
{
    QPointer<AtspiFocusTracker> self(this);
    QDBusConnection bus(m_connectionName);
    auto interfacesCall =
        bus.asyncCall(accessibleCall(service, path, QStringLiteral("GetInterfaces")));
    auto roleCall = bus.asyncCall(accessibleCall(service, path, QStringLiteral("GetRole")));
    auto stateCall = bus.asyncCall(accessibleCall(service, path, QStringLiteral("GetState")));
    auto processCall =
        bus.asyncCall(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                     QStringLiteral("/org/freedesktop/DBus"),
                                                     QStringLiteral("org.freedesktop.DBus"),
                                                     QStringLiteral("GetConnectionUnixProcessID"))
                      << service);
    const QDBusMessage interfaces = co_await interfacesCall;
    const QDBusMessage role = co_await roleCall;
    const QDBusMessage state = co_await stateCall;
    const QDBusMessage process = co_await processCall;
    if (!self || serial != m_serial)
        co_return;

    const bool editableText =
        interfaces.arguments().value(0).toStringList().contains(editableTextInterface);
    const bool entryRole = role.type() == QDBusMessage::ReplyMessage &&
                           textEntryRoles().contains(role.arguments().value(0).toUInt());
    const QList<uint> states = qdbus_cast<QList<uint>>(state.arguments().value(0));
    const bool editableFlag = !states.isEmpty() && (states.first() & editableState);
    const bool answered = interfaces.type() == QDBusMessage::ReplyMessage ||
                          role.type() == QDBusMessage::ReplyMessage;

    m_focusProcess = process.arguments().value(0).toLongLong();
    m_editable = !answered                                     ? FocusProbe::Editable::unknown
                 : (editableText || entryRole || editableFlag) ? FocusProbe::Editable::yes
                                                               : FocusProbe::Editable::no;
    Q_EMIT focusExamined();
}

FocusProbe::Editable AtspiFocusTracker::editable(qint64 windowProcess) const
{
    if (windowProcess > 0 && m_focusProcess > 0 && windowProcess != m_focusProcess)
        return FocusProbe::Editable::unknown;
    return m_editable;
}
