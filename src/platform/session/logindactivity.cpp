#include "platform/session/logindactivity.h"

#include "core/base/logging.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QPointer>

#include <unistd.h>

namespace {

// The inhibitor is asked for without waiting, so the main thread never blocks on the system
// bus. The answer may come after the work it was for has ended: the token then lets go of
// the descriptor the moment it arrives.
class InhibitorToken final : public ProcessActivity::Token
{
public:
    InhibitorToken(QDBusConnection &bus, const QString &reason, std::shared_ptr<bool> reportedMissing)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
        call << QStringLiteral("idle:sleep") << QStringLiteral("Murmel") << reason << QStringLiteral("block");
        m_watcher = new QDBusPendingCallWatcher(bus.asyncCall(call));
        // The watcher outlives the token when the answer is late; it deletes itself.
        auto *watcher = m_watcher.data();
        auto fd = m_fd;
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, fd, reportedMissing] {
            const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *watcher;
            watcher->deleteLater();
            if (reply.isError()) {
                if (!*reportedMissing) {
                    *reportedMissing = true;
                    qCInfo(lcPlatform) << "No logind inhibitor:" << reply.error().message();
                }
                return;
            }
            // Our own copy: the descriptor object closes its copy when it goes.
            const int held = ::dup(reply.value().fileDescriptor());
            if (held < 0)
                return;
            if (fd->ended)
                ::close(held);
            else
                fd->value = held;
        });
    }

    ~InhibitorToken() override
    {
        m_fd->ended = true;
        if (m_fd->value >= 0)
            ::close(m_fd->value);
    }

    InhibitorToken(const InhibitorToken &) = delete;
    InhibitorToken &operator=(const InhibitorToken &) = delete;

private:
    struct Descriptor
    {
        int value = -1;
        bool ended = false;
    };
    std::shared_ptr<Descriptor> m_fd = std::make_shared<Descriptor>();
    QPointer<QDBusPendingCallWatcher> m_watcher;
};

class NoToken final : public ProcessActivity::Token
{
};

} // namespace

LogindActivity::LogindActivity(QDBusConnection bus)
    : m_bus(std::move(bus))
{
}

std::unique_ptr<ProcessActivity::Token> LogindActivity::begin(const QString &reason)
{
    if (!m_bus.isConnected())
        return std::make_unique<NoToken>();
    return std::make_unique<InhibitorToken>(m_bus, reason, m_reportedMissing);
}
