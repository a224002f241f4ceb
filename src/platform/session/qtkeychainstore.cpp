#include "platform/session/qtkeychainstore.h"

#include <QUtf8StringView>

#include <QCoroSignal>

#include <qt6keychain/keychain.h>

#include <memory>

namespace {

// QtKeychain finishes a job from inside a libsecret callback; the job goes only once
// control is back in the event loop.
struct DeleteLater
{
    void operator()(QObject *object) const { object->deleteLater(); }
};

template<typename Job>
using JobPointer = std::unique_ptr<Job, DeleteLater>;

template<typename Job>
JobPointer<Job> makeJob(const QString &service, const QString &key)
{
    JobPointer<Job> job(new Job(service));
    // Our pointer owns it: QtKeychain's own deletion could come before we read the result.
    job->setAutoDelete(false);
    job->setKey(key);
    return job;
}

// Resumes once the job has finished; the connection is made before the job starts.
QCoro::Task<> run(QKeychain::Job *job)
{
    auto finished = qCoro(job, &QKeychain::Job::finished);
    job->start();
    co_await std::move(finished);
}

std::optional<SecretStore::Error> errorOf(const QKeychain::Job &job)
{
    switch (job.error()) {
    case QKeychain::NoError:
        return std::nullopt;
    case QKeychain::EntryNotFound:
        return SecretStore::Error{SecretStore::Error::notFound, job.errorString()};
    case QKeychain::CouldNotDeleteEntry:
    case QKeychain::AccessDeniedByUser:
    case QKeychain::AccessDenied:
    case QKeychain::NoBackendAvailable:
    case QKeychain::NotImplemented:
    case QKeychain::OtherError:
        break;
    }
    return SecretStore::Error{SecretStore::Error::failed, job.errorString()};
}

// libsecret passes a text secret as a C string, so text with a NUL byte would be cut short.
bool isStorableAsText(const QByteArray &value)
{
    return !value.contains('\0') && QUtf8StringView(value).isValidUtf8();
}

} // namespace

QCoro::Task<SecretStore::ReadResult> QtKeychainStore::read(QString service, QString key)
{
    const auto job = makeJob<QKeychain::ReadPasswordJob>(service, key);
    auto done = run(job.get());
    co_await std::move(done);
    if (auto error = errorOf(*job))
        co_return *error;
    // For a text item this is its UTF-8; for a binary one, the decoded bytes.
    co_return job->binaryData();
}

QCoro::Task<std::optional<SecretStore::Error>> QtKeychainStore::write(QString service, QString key, QByteArray value)
{
    const auto job = makeJob<QKeychain::WritePasswordJob>(service, key);
    if (isStorableAsText(value))
        job->setTextData(QString::fromUtf8(value));
    else
        job->setBinaryData(value);
    auto done = run(job.get());
    co_await std::move(done);
    co_return errorOf(*job);
}

QCoro::Task<std::optional<SecretStore::Error>> QtKeychainStore::remove(QString service, QString key)
{
    const auto job = makeJob<QKeychain::DeletePasswordJob>(service, key);
    auto done = run(job.get());
    co_await std::move(done);
    co_return errorOf(*job);
}
