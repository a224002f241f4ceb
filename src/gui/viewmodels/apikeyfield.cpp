#include "gui/viewmodels/apikeyfield.h"

#include "core/text/keychainhelper.h"

#include <QPointer>

ApiKeyField::ApiKeyField(KeychainHelper &keychain, QObject *parent)
    : QObject(parent)
    , m_keychain(keychain)
{
}

void ApiKeyField::save(const QString &key)
{
    if (key.isEmpty() || m_busy)
        return;
    setBusy(true);
    // The object may be gone when the keychain answers (the screen was left).
    [](QPointer<ApiKeyField> self, KeychainHelper &keychain, QString value) -> QCoro::Task<> {
        auto saving = keychain.save(std::move(value), KeychainHelper::apiKeyAccount());
        const std::optional<KeychainHelper::Error> failure = co_await std::move(saving);
        auto asking = keychain.hasAPIKey();
        const bool stored = co_await std::move(asking);
        if (!self)
            co_return;
        self->setError(failure ? failure->description() : QString());
        self->setStored(stored);
        self->setBusy(false);
        if (!failure)
            Q_EMIT self->saved();
    }(this, m_keychain, key);
}

void ApiKeyField::refresh()
{
    [](QPointer<ApiKeyField> self, KeychainHelper &keychain) -> QCoro::Task<> {
        auto asking = keychain.hasAPIKey();
        const bool stored = co_await std::move(asking);
        if (self)
            self->setStored(stored);
    }(this, m_keychain);
}

void ApiKeyField::setStored(bool stored)
{
    if (m_stored == stored)
        return;
    m_stored = stored;
    Q_EMIT storedChanged();
}

void ApiKeyField::setBusy(bool busy)
{
    if (m_busy == busy)
        return;
    m_busy = busy;
    Q_EMIT busyChanged();
}

void ApiKeyField::setError(const QString &error)
{
    if (m_error == error)
        return;
    m_error = error;
    Q_EMIT errorChanged();
}
