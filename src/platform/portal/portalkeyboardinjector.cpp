#include "platform/portal/portalkeyboardinjector.h"

#include "core/base/logging.h"
#include "platform/portal/portalrequest.h"
#include "platform/wayland/keymap.h"

#include <QCoroDBusPendingReply>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingReply>
#include <xkbcommon/xkbcommon-keysyms.h>

using namespace std::chrono_literals;

namespace {

const QString remoteDesktop = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
const QString sessionInterface = QStringLiteral("org.freedesktop.portal.Session");
constexpr uint keyboard = 1;
// Kept until the user revokes it in the desktop's settings.
constexpr uint persistUntilRevoked = 2;
// A request the desktop answers at once; Start waits for the user's choice in a dialog.
constexpr auto quickAnswer = 30s;
constexpr auto userAnswer = 5min;

QString pathOf(const QVariant &value)
{
    return value.canConvert<QDBusObjectPath>() ? value.value<QDBusObjectPath>().path() : value.toString();
}

} // namespace

PortalKeyboardInjector::PortalKeyboardInjector(QDBusConnection bus, Grant grant, Coverage covers, QObject *parent)
    : QObject(parent)
    , m_bus(std::move(bus))
    , m_grant(std::move(grant))
    , m_covers(std::move(covers))
{}

PortalKeyboardInjector::~PortalKeyboardInjector()
{
    if (!m_session.isEmpty())
        m_bus.asyncCall(QDBusMessage::createMethodCall(PortalRequest::service, m_session, sessionInterface,
                                                       QStringLiteral("Close")));
}

bool PortalKeyboardInjector::reaches(FocusProbe::Window window) const
{
    return window != FocusProbe::Window::none;
}

QCoro::Task<bool> PortalKeyboardInjector::openSession(bool mayAsk)
{
    if (isTrusted())
        co_return true;
    const QString restoreToken = m_grant.read ? m_grant.read() : QString();
    if ((!mayAsk && restoreToken.isEmpty()) || m_opening)
        co_return false;
    m_opening = true;
    const auto done = [this](bool granted) {
        m_opening = false;
        return granted;
    };

    QString token = PortalRequest::newToken();
    auto creating = PortalRequest::call(
        m_bus, remoteDesktop, QStringLiteral("CreateSession"),
        {QVariantMap{{QStringLiteral("handle_token"), token}, {QStringLiteral("session_handle_token"), PortalRequest::newToken()}}},
        token, quickAnswer);
    const PortalAnswer created = co_await std::move(creating);
    const QString session = pathOf(created.results.value(QStringLiteral("session_handle")));
    if (created.response != 0 || session.isEmpty()) {
        qCWarning(lcPlatform) << "the RemoteDesktop portal opened no session" << created.error;
        co_return done(false);
    }

    token = PortalRequest::newToken();
    QVariantMap options{{QStringLiteral("handle_token"), token},
                        {QStringLiteral("types"), keyboard},
                        {QStringLiteral("persist_mode"), persistUntilRevoked}};
    if (!restoreToken.isEmpty())
        options.insert(QStringLiteral("restore_token"), restoreToken);
    auto selecting = PortalRequest::call(m_bus, remoteDesktop, QStringLiteral("SelectDevices"),
                                         {QVariant::fromValue(QDBusObjectPath(session)), options}, token, quickAnswer);
    const PortalAnswer selected = co_await std::move(selecting);
    if (selected.response != 0) {
        qCWarning(lcPlatform) << "the RemoteDesktop portal offered no keyboard" << selected.error;
        co_return done(false);
    }

    token = PortalRequest::newToken();
    auto starting = PortalRequest::call(m_bus, remoteDesktop, QStringLiteral("Start"),
                                        {QVariant::fromValue(QDBusObjectPath(session)), QString(),
                                         QVariantMap{{QStringLiteral("handle_token"), token}}},
                                        token, userAnswer);
    const PortalAnswer started = co_await std::move(starting);
    if (started.response != 0 || !(started.results.value(QStringLiteral("devices")).toUInt() & keyboard)) {
        qCInfo(lcPlatform) << "the desktop did not grant a keyboard" << started.error;
        // A token the desktop no longer honours would only bring the dialog back at each start.
        if (m_grant.write && !restoreToken.isEmpty())
            m_grant.write(QString());
        co_return done(false);
    }
    const QString newRestoreToken = started.results.value(QStringLiteral("restore_token")).toString();
    if (m_grant.write && !newRestoreToken.isEmpty())
        m_grant.write(newRestoreToken);
    m_bus.connect(PortalRequest::service, session, sessionInterface, QStringLiteral("Closed"), this,
                  SLOT(onSessionClosed(QDBusMessage)));
    setSession(session);
    qCInfo(lcPlatform) << "keys through the desktop's RemoteDesktop portal";
    co_return done(true);
}

void PortalKeyboardInjector::onSessionClosed(const QDBusMessage &message)
{
    if (message.path() != m_session)
        return;
    qCInfo(lcPlatform) << "the desktop closed the RemoteDesktop session";
    m_bus.disconnect(PortalRequest::service, m_session, sessionInterface, QStringLiteral("Closed"), this,
                     SLOT(onSessionClosed(QDBusMessage)));
    setSession(QString());
}

void PortalKeyboardInjector::setSession(const QString &session)
{
    if (m_session == session)
        return;
    m_session = session;
    Q_EMIT trustChanged();
}

QCoro::Task<bool> PortalKeyboardInjector::sendKeysyms(QList<QPair<uint32_t, bool>> keys)
{
    // Calls go out ahead of their answers, in order on the one connection, a bounded number
    // at a time: a bus allows a connection only so many unanswered calls.
    constexpr qsizetype inFlight = 32;
    QList<QDBusPendingCall> calls;
    bool sent = true;
    const auto answerOldest = [&]() -> QCoro::Task<void> {
        auto answering = QDBusPendingReply<>(calls.takeFirst());
        const QDBusPendingReply<> answer = co_await std::move(answering);
        if (answer.isError() && sent) {
            qCWarning(lcPlatform) << "the RemoteDesktop portal refused a key:" << answer.error().message();
            sent = false;
        }
    };
    for (const auto &[keysym, down] : keys) {
        QDBusMessage notify = QDBusMessage::createMethodCall(PortalRequest::service, PortalRequest::path, remoteDesktop,
                                                             QStringLiteral("NotifyKeyboardKeysym"));
        notify.setArguments({QVariant::fromValue(QDBusObjectPath(m_session)), QVariantMap(), int(keysym),
                             uint(down ? 1 : 0)});
        calls.append(m_bus.asyncCall(notify));
        if (calls.size() >= inFlight) {
            auto answering = answerOldest();
            co_await std::move(answering);
        }
    }
    while (!calls.isEmpty()) {
        auto answering = answerOldest();
        co_await std::move(answering);
    }
    co_return sent;
}

QCoro::Task<bool> PortalKeyboardInjector::paste(PasteKeys keys)
{
    if (!isTrusted())
        co_return false;
    auto taking = m_turns.take();
    const KeyTurns::Token turn = co_await std::move(taking);
    const QList<uint32_t> keysyms = chord(keys);
    QList<QPair<uint32_t, bool>> sequence;
    for (const uint32_t keysym : keysyms)
        sequence.append({keysym, true});
    for (auto keysym = keysyms.crbegin(); keysym != keysyms.crend(); ++keysym)
        sequence.append({*keysym, false});
    auto sending = sendKeysyms(sequence);
    co_return co_await std::move(sending);
}

QCoro::Task<bool> PortalKeyboardInjector::type(QString text)
{
    if (!isTrusted())
        co_return false;
    QList<uint32_t> keysyms;
    QList<QPair<uint32_t, bool>> sequence;
    for (const char32_t character : text.toUcs4()) {
        const uint32_t keysym = Keymap::keysymFor(character);
        keysyms.append(keysym);
        sequence.append({keysym, true});
        sequence.append({keysym, false});
    }
    if (keysyms.contains(0u) || (m_covers && !m_covers(keysyms))) {
        qCWarning(lcPlatform) << "a character is not on the keyboard layout; nothing was typed";
        co_return false;
    }
    auto taking = m_turns.take();
    const KeyTurns::Token turn = co_await std::move(taking);
    auto sending = sendKeysyms(sequence);
    co_return co_await std::move(sending);
}
