#pragma once

#include <QCoroTask>
#include <chrono>
#include <QDBusConnection>
#include <QList>
#include <QString>
#include <QVariant>
#include <QVariantMap>

// One call to a desktop portal method that answers through a Request object's Response
// signal, awaited as a coroutine: the signal is subscribed to before the call (the path is
// known from the token), so an answer cannot slip past.
struct PortalAnswer
{
    // 0 granted, 1 cancelled by the user, 2 refused otherwise; 2 also for a failed call.
    uint response = 2;
    QVariantMap results;
    QString error; // why the call itself failed, for the log
};

namespace PortalRequest {

inline const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
inline const QString path = QStringLiteral("/org/freedesktop/portal/desktop");

// A handle or session token no other request of this process has used.
QString newToken();

// Calls `interface`.`method` with `arguments`, whose options map (the last argument) must
// carry "handle_token" = `token`, and resolves with the Response, or with a refusal once
// `timeout` has passed without one.
QCoro::Task<PortalAnswer> call(QDBusConnection bus, QString interface, QString method, QList<QVariant> arguments,
                               QString token, std::chrono::milliseconds timeout);

} // namespace PortalRequest
