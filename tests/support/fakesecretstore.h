#pragma once

#include "core/desktop/secretstore.h"

#include <QMap>
#include <QStringList>

// An in-memory SecretStore that records the operations asked of it and fails on request.
// It answers at once, as a keychain that never needs unlocking would.
//
// The failures are returned as copies: QCoro 0.8 moves from an lvalue that a coroutine
// co_returns when its type differs from the task's, which would empty these members.
class FakeSecretStore final : public SecretStore
{
public:
    QMap<std::pair<QString, QString>, QByteArray> items; // (service, key) to value
    QStringList calls;                                   // "read", "write", "remove", in order
    std::optional<Error> writeFailure;
    std::optional<Error> removeFailure;

    QCoro::Task<ReadResult> read(QString service, QString key) override
    {
        calls << QStringLiteral("read");
        const auto item = items.constFind({service, key});
        if (item == items.cend())
            co_return Error{Error::notFound, QStringLiteral("No such item")};
        co_return QByteArray(*item);
    }

    QCoro::Task<std::optional<Error>> write(QString service, QString key, QByteArray value) override
    {
        calls << QStringLiteral("write");
        if (writeFailure)
            co_return std::optional<Error>(writeFailure);
        items.insert({service, key}, value);
        co_return std::nullopt;
    }

    QCoro::Task<std::optional<Error>> remove(QString service, QString key) override
    {
        calls << QStringLiteral("remove");
        if (removeFailure)
            co_return std::optional<Error>(removeFailure);
        if (items.remove({service, key}) == 0)
            co_return Error{Error::notFound, QStringLiteral("No such item")};
        co_return std::nullopt;
    }
};
