#pragma once

#include "core/desktop/secretstore.h"

#include <QString>

#include <QCoroTask>

#include <optional>

// Murmel's secrets in the system keychain, under the application's service name: items
// are found by an account name and hold UTF-8 text. The only one today is the user's
// Anthropic API key.
//
// Main thread only. Every call is asynchronous: the keychain is another process and may
// first ask the user to unlock it. The store must outlive every call; the helper need not.
class KeychainHelper final
{
public:
    // Why a save or delete did not take effect, with the text the user sees.
    class Error final
    {
    public:
        enum Kind {
            notSaved,   // the value was not stored (an old value may be gone)
            notDeleted, // the item is still there, or the keychain could not be asked
        };

        Error(Kind kind, QString storeMessage) : m_kind(kind), m_storeMessage(std::move(storeMessage)) {}

        Kind kind() const { return m_kind; }
        QString storeMessage() const { return m_storeMessage; }
        QString description() const;

    private:
        Kind m_kind;
        QString m_storeMessage;
    };

    static QString defaultService() { return QStringLiteral("app.murmel.Murmel"); }
    static QString apiKeyAccount() { return QStringLiteral("anthropic-api-key"); }

    explicit KeychainHelper(SecretStore &store, QString service = defaultService())
        : m_store(store), m_service(std::move(service))
    {
    }

    // The stored text; nothing when there is no item, the keychain fails, or the stored
    // bytes are not valid UTF-8.
    QCoro::Task<std::optional<QString>> read(QString account) const;
    // Deletes any existing item first, then stores a non-empty value; saving an empty value
    // only removes the item. Nothing on success.
    QCoro::Task<std::optional<Error>> save(QString value, QString account) const;
    // A missing item is not an error.
    QCoro::Task<std::optional<Error>> remove(QString account) const;
    // True when the API key reads as a non-empty string.
    QCoro::Task<bool> hasAPIKey() const;

private:
    SecretStore &m_store;
    QString m_service;
};
