#pragma once

#include "testenvironment.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>

// Speech model files made by the project's own generator (tests/tools/makemodel), whose
// crafted weights make whisper.cpp print a known phrase for any audio, and the test
// catalog that lets them pass the integrity check.
namespace FixtureModels {

// What the parrot model says, as whisper.cpp reports the segment text.
inline const QString phrase = QStringLiteral(" Hello from the parrot model.");

// Writes a model of `kind` ("parrot" or "base") to `path`, with any further generator
// options (--phrase TEXT, --end SECONDS); true on success.
inline bool make(const QString &path, const QString &kind = QStringLiteral("parrot"),
                 const QStringList &options = {})
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QProcess process;
    process.start(qEnvironmentVariable("MURMEL_MAKEMODEL"), QStringList{kind, path} + options);
    return process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
}

inline QString sha256Of(const QString &path)
{
    return QString::fromLatin1(QCryptographicHash::hash(TestFiles::read(path), QCryptographicHash::Sha256).toHex());
}

// Writes a catalog of raw model names to digests and points MURMEL_MODEL_CATALOG at it.
inline bool useCatalog(const QString &path, const QJsonObject &digests)
{
    qputenv("MURMEL_MODEL_CATALOG", path.toLocal8Bit());
    return TestFiles::write(path, QJsonDocument(digests).toJson());
}

} // namespace FixtureModels
