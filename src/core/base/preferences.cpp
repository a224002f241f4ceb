#include "core/base/preferences.h"

#include "core/base/paths.h"
#include "core/base/preferencekeys.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLockFile>
#include <QSaveFile>

#include <cmath>

namespace {

// Data values are tagged so that no other type can be mistaken for one.
const QString dataTag = QStringLiteral("$data");

void setError(QString *error, const QString &message)
{
    if (error)
        *error = message;
}

bool hasType(const QJsonValue &value, PreferenceType type)
{
    switch (type) {
    case PreferenceType::boolean:
        return value.isBool();
    case PreferenceType::integer: {
        if (!value.isDouble())
            return false;
        const double number = value.toDouble();
        // 2^53 bounds the integers a JSON double holds exactly.
        return std::isfinite(number) && std::trunc(number) == number && std::fabs(number) <= 9007199254740992.0;
    }
    case PreferenceType::string:
        return value.isString();
    case PreferenceType::dictionary:
        return value.isObject() && !Preferences::decodeData(value).has_value();
    case PreferenceType::data:
        return Preferences::decodeData(value).has_value();
    }
    return false;
}

} // namespace

Preferences::Preferences(QString filePath)
    : m_filePath(std::move(filePath))
{
    // An older Murmel created these readable by every local user.
    const QString folder = QFileInfo(m_filePath).absolutePath();
    if (QFileInfo::exists(folder))
        Paths::makePrivateFolder(folder);
    Paths::makePrivateFile(m_filePath);
}

Preferences::Snapshot Preferences::read() const
{
    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        if (!file.exists())
            return {FileState::missing, {}, {}};
        return {FileState::unreadable, {}, file.errorString()};
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return {FileState::unreadable, {}, file.errorString()};
    if (bytes.trimmed().isEmpty())
        return {FileState::missing, {}, {}};
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return {FileState::corrupt, {}, QStringLiteral("%1 at byte %2").arg(parseError.errorString()).arg(parseError.offset)};
    if (!document.isObject())
        return {FileState::corrupt, {}, QStringLiteral("it holds no JSON object")};
    return {FileState::valid, document.object(), {}};
}

QString Preferences::problem() const
{
    const Snapshot snapshot = read();
    switch (snapshot.state) {
    case FileState::unreadable:
        return QStringLiteral("The preferences file %1 cannot be read (%2); the defaults apply.").arg(m_filePath, snapshot.reason);
    case FileState::corrupt:
        return QStringLiteral("The preferences file %1 is damaged (%2); the defaults apply until a setting is "
                              "changed, and the damaged file is then kept beside it.").arg(m_filePath, snapshot.reason);
    case FileState::missing:
    case FileState::valid:
        break;
    }
    return {};
}

QJsonValue Preferences::storedValue(const QString &key) const
{
    return read().values.value(key);
}

QJsonObject Preferences::stored() const
{
    return read().values;
}

std::optional<bool> Preferences::boolean(const QString &key) const
{
    const QJsonValue value = storedValue(key);
    return hasType(value, PreferenceType::boolean) ? std::optional(value.toBool()) : std::nullopt;
}

std::optional<qint64> Preferences::integer(const QString &key) const
{
    const QJsonValue value = storedValue(key);
    if (!hasType(value, PreferenceType::integer))
        return std::nullopt;
    return static_cast<qint64>(value.toDouble());
}

std::optional<QString> Preferences::string(const QString &key) const
{
    const QJsonValue value = storedValue(key);
    return value.isString() ? std::optional(value.toString()) : std::nullopt;
}

std::optional<QJsonObject> Preferences::dictionary(const QString &key) const
{
    const QJsonValue value = storedValue(key);
    return hasType(value, PreferenceType::dictionary) ? std::optional(value.toObject()) : std::nullopt;
}

std::optional<QByteArray> Preferences::data(const QString &key) const
{
    return decodeData(storedValue(key));
}

QJsonValue Preferences::effective(const QString &key) const
{
    const PreferenceKey *declared = PreferenceKeys::find(key);
    if (!declared)
        return QJsonValue::Undefined;
    const QJsonValue value = storedValue(key);
    if (hasType(value, declared->type))
        return value;
    return declared->defaultValue;
}

bool Preferences::booleanOrDefault(const QString &key) const
{
    return effective(key).toBool();
}

QString Preferences::stringOrDefault(const QString &key) const
{
    return effective(key).toString();
}

QJsonValue Preferences::encodeData(const QByteArray &value)
{
    return QJsonObject{{dataTag, QString::fromLatin1(value.toBase64())}};
}

std::optional<QByteArray> Preferences::decodeData(const QJsonValue &stored)
{
    if (!stored.isObject())
        return std::nullopt;
    const QJsonObject object = stored.toObject();
    if (object.size() != 1 || !object.value(dataTag).isString())
        return std::nullopt;
    const auto decoded = QByteArray::fromBase64Encoding(object.value(dataTag).toString().toLatin1(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return decoded.decoded;
}

bool Preferences::setBoolean(const QString &key, bool value, QString *error)
{
    return write(key, value, error);
}

bool Preferences::setInteger(const QString &key, qint64 value, QString *error)
{
    return write(key, static_cast<double>(value), error);
}

bool Preferences::setString(const QString &key, const QString &value, QString *error)
{
    return write(key, value, error);
}

bool Preferences::setDictionary(const QString &key, const QJsonObject &value, QString *error)
{
    return write(key, value, error);
}

bool Preferences::setData(const QString &key, const QByteArray &value, QString *error)
{
    return write(key, encodeData(value), error);
}

bool Preferences::remove(const QString &key, QString *error)
{
    return write(key, QJsonValue::Undefined, error);
}

bool Preferences::write(const QString &key, const QJsonValue &value, QString *error)
{
    const QFileInfo info(m_filePath);
    if (!Paths::makePrivateFolder(info.absolutePath())) {
        setError(error, QStringLiteral("Could not create the folder %1.").arg(info.absolutePath()));
        return false;
    }

    // Another process may be writing too: the read-modify-write must not interleave.
    QLockFile lock(m_filePath + QStringLiteral(".lock"));
    lock.setStaleLockTime(10000);
    if (!lock.tryLock(5000)) {
        setError(error, lock.error() == QLockFile::LockFailedError
                            ? QStringLiteral("The preferences file %1 is locked by another process.").arg(m_filePath)
                            : QStringLiteral("Could not change %1: its folder cannot be written to.").arg(m_filePath));
        return false;
    }

    Snapshot snapshot = read();
    switch (snapshot.state) {
    case FileState::unreadable:
        setError(error, QStringLiteral("The preferences file %1 cannot be read (%2); it was left as it is.")
                            .arg(m_filePath, snapshot.reason));
        return false;
    case FileState::corrupt: {
        // Whatever the damaged file held may still be worth recovering by hand.
        const QString keep = m_filePath + QStringLiteral(".corrupt-")
            + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
        if (!QFile::exists(keep) && !QFile::copy(m_filePath, keep)) {
            setError(error, QStringLiteral("Could not keep a copy of the damaged preferences file %1.").arg(m_filePath));
            return false;
        }
        break;
    }
    case FileState::missing:
    case FileState::valid:
        break;
    }

    if (value.isUndefined()) {
        if (!snapshot.values.contains(key))
            return true;
        snapshot.values.remove(key);
    } else {
        if (snapshot.values.value(key) == value && snapshot.state == FileState::valid)
            return true;
        snapshot.values.insert(key, value);
    }

    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly)) {
        setError(error, QStringLiteral("Could not write %1: %2").arg(m_filePath, file.errorString()));
        return false;
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(QJsonDocument(snapshot.values).toJson(QJsonDocument::Indented));
    if (!file.commit()) {
        setError(error, QStringLiteral("Could not write %1: %2").arg(m_filePath, file.errorString()));
        return false;
    }
    return true;
}
