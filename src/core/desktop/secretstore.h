#pragma once

#include <QByteArray>
#include <QString>

#include <QCoroTask>

#include <optional>
#include <variant>

// The system's store for secrets such as the user's API key: an item is found by a
// service name and a key within that service, and holds bytes. The Linux implementation
// talks to the Secret Service (platform/session/qtkeychainstore.h); tests may use a fake.
//
// Main thread only. Every operation is asynchronous, because the store is another
// process that may first ask the user to unlock it; failures come back as values.
class SecretStore
{
public:
    // Why an operation failed, in the store's own words.
    struct Error
    {
        enum Kind {
            notFound, // there is no item for this service and key
            failed,   // no store to talk to, access refused, or anything else
        };
        Kind kind = failed;
        QString message;
    };
    using ReadResult = std::variant<QByteArray, Error>;

    virtual ~SecretStore() = default;

    virtual QCoro::Task<ReadResult> read(QString service, QString key) = 0;
    // Replaces any item already stored for the service and key.
    virtual QCoro::Task<std::optional<Error>> write(QString service, QString key, QByteArray value) = 0;
    // Removing an item that does not exist either succeeds or reports notFound.
    virtual QCoro::Task<std::optional<Error>> remove(QString service, QString key) = 0;

protected:
    SecretStore() = default;
    SecretStore(const SecretStore &) = default;
    SecretStore &operator=(const SecretStore &) = default;
};
