#include "platform/portal/portalrequest.h"

#include <QCoroDBusPendingReply>
#include <QCoroSignal>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingReply>
#include <QObject>
#include <QRandomGenerator>
#include <memory>

namespace {

const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");

// Receives the one Response of a Request object.
class ResponseListener final : public QObject
{
    Q_OBJECT

public:
    ResponseListener(QDBusConnection bus, QString path)
        : m_bus(std::move(bus))
    {
        listen(std::move(path));
    }
    ~ResponseListener() override { stop(); }

    void listen(QString path)
    {
        stop();
        m_path = std::move(path);
        m_bus.connect(PortalRequest::service, m_path, requestInterface, QStringLiteral("Response"), this,
                      SLOT(onResponse(QDBusMessage)));
    }

    PortalAnswer answer;
    bool done = false;

Q_SIGNALS:
    void answered();

private Q_SLOTS:
    void onResponse(const QDBusMessage &message)
    {
        const QList<QVariant> arguments = message.arguments();
        answer.response = arguments.value(0).toUInt();
        answer.results = qdbus_cast<QVariantMap>(arguments.value(1));
        done = true;
        stop();
        Q_EMIT answered();
    }

private:
    void stop()
    {
        if (!m_path.isEmpty())
            m_bus.disconnect(PortalRequest::service, m_path, requestInterface, QStringLiteral("Response"), this,
                             SLOT(onResponse(QDBusMessage)));
        m_path.clear();
    }

    QDBusConnection m_bus;
    QString m_path;
};

} // namespace

QString PortalRequest::newToken()
{
    static int counter = 0;
    return QStringLiteral("murmel_%1_%2").arg(++counter).arg(QRandomGenerator::global()->generate());
}

QCoro::Task<PortalAnswer> PortalRequest::call(QDBusConnection bus, QString interface, QString method,
                                              QList<QVariant> arguments, QString token,
                                              std::chrono::milliseconds timeout)
{
    QString sender = bus.baseService().mid(1);
    sender.replace(u'.', u'_');
    const auto listener = std::make_unique<ResponseListener>(bus, path + QStringLiteral("/request/") + sender + u'/' + token);

    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    auto calling = QDBusPendingReply<QDBusObjectPath>(bus.asyncCall(message));
    const QDBusPendingReply<QDBusObjectPath> reply = co_await std::move(calling);
    if (reply.isError()) {
        PortalAnswer failed;
        failed.error = reply.error().message();
        co_return failed;
    }
    // Portals before version 0.9 chose the path themselves.
    const QString actual = reply.value().path();
    if (actual != path + QStringLiteral("/request/") + sender + u'/' + token)
        listener->listen(actual);
    if (!listener->done) {
        auto answering = qCoro(listener.get(), &ResponseListener::answered, timeout);
        co_await std::move(answering);
    }
    if (!listener->done) {
        PortalAnswer late;
        late.error = QStringLiteral("%1 got no answer").arg(method);
        co_return late;
    }
    co_return listener->answer;
}

#include "portalrequest.moc"
