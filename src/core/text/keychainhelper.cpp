#include "core/text/keychainhelper.h"

#include "core/base/logging.h"


#include <QLoggingCategory>
#include <QStringDecoder>

namespace {


std::optional<QString> decodedUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace

QString KeychainHelper::Error::description() const
{
    switch (m_kind) {
    case notSaved:
        return QStringLiteral("The key was not saved to the keychain: %1").arg(m_storeMessage);
    case notDeleted:
        return QStringLiteral("The key could not be removed from the keychain: %1").arg(m_storeMessage);
    }
    return m_storeMessage;
}

QCoro::Task<std::optional<QString>> KeychainHelper::read(QString account) const
{
    auto reading = m_store.read(m_service, account);
    const SecretStore::ReadResult result = co_await std::move(reading);
    if (const auto *error = std::get_if<SecretStore::Error>(&result)) {
        if (error->kind != SecretStore::Error::notFound)
            qCWarning(lcText) << "Could not read" << account << "from the keychain:" << error->message;
        co_return std::nullopt;
    }
    std::optional<QString> text = decodedUtf8(std::get<QByteArray>(result));
    if (!text)
        qCWarning(lcText) << "The keychain item" << account << "is not UTF-8 text; ignoring it";
    co_return text;
}

QCoro::Task<std::optional<KeychainHelper::Error>> KeychainHelper::save(QString value, QString account) const
{
    // Copied: after the first suspension the helper itself is not needed.
    SecretStore &store = m_store;
    const QString service = m_service;
    // Deleting first leaves exactly one item, whatever form an older one had.
    auto removing = store.remove(service, account);
    const std::optional<SecretStore::Error> removal = co_await std::move(removing);
    const bool removalFailed = removal && removal->kind != SecretStore::Error::notFound;
    if (value.isEmpty()) {
        if (!removalFailed)
            co_return std::nullopt;
        qCWarning(lcText) << "Could not remove" << account << "from the keychain:" << removal->message;
        co_return Error(Error::notDeleted, removal->message);
    }
    auto writing = store.write(service, account, value.toUtf8());
    const std::optional<SecretStore::Error> written = co_await std::move(writing);
    if (written) {
        qCWarning(lcText) << "Could not save" << account << "to the keychain:" << written->message;
        co_return Error(Error::notSaved, written->message);
    }
    co_return std::nullopt;
}

QCoro::Task<std::optional<KeychainHelper::Error>> KeychainHelper::remove(QString account) const
{
    auto removing = m_store.remove(m_service, account);
    const std::optional<SecretStore::Error> removal = co_await std::move(removing);
    if (removal && removal->kind != SecretStore::Error::notFound) {
        qCWarning(lcText) << "Could not remove" << account << "from the keychain:" << removal->message;
        co_return Error(Error::notDeleted, removal->message);
    }
    co_return std::nullopt;
}

QCoro::Task<bool> KeychainHelper::hasAPIKey() const
{
    auto reading = read(apiKeyAccount());
    const std::optional<QString> key = co_await std::move(reading);
    co_return key && !key->isEmpty();
}
