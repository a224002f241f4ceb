#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>

// The per-user preferences: one JSON file whose values keep their JSON type, so a
// string stored under a boolean key reads as absent instead of being converted.
//
// Nothing is cached: every read parses the file afresh, so a value written by another
// process (the command line) is seen by the running application at its next read.
// Writes replace the file atomically under a lock file, so two processes never lose
// each other's keys. A missing, unreadable or corrupt file reads as empty; before the
// first write over a file that could not be parsed, a copy of it is kept beside it, and
// a file that cannot even be read is never overwritten.
//
// Any thread may call. Read failures are silent (the defaults apply); writes report
// failure through their result and an optional message.
class Preferences final
{
public:
    explicit Preferences(QString filePath);

    QString filePath() const { return m_filePath; }

    // The stored value of one type, or nothing when the key is absent or holds a value
    // of another type.
    std::optional<bool> boolean(const QString &key) const;
    std::optional<qint64> integer(const QString &key) const;
    std::optional<QString> string(const QString &key) const;
    std::optional<QJsonObject> dictionary(const QString &key) const;
    std::optional<QByteArray> data(const QString &key) const;

    // The stored value if it has the key's declared type, else the key's default
    // (Undefined for a key without one). Unknown keys read as Undefined.
    QJsonValue effective(const QString &key) const;
    // Convenience readers over `effective` for keys with a default.
    bool booleanOrDefault(const QString &key) const;
    QString stringOrDefault(const QString &key) const;

    // Everything stored, as stored (data values in their tagged form).
    QJsonObject stored() const;
    // Why the file's values are not in effect (it cannot be read, or is damaged), in
    // words for the user; empty when it reads well or does not exist.
    QString problem() const;

    bool setBoolean(const QString &key, bool value, QString *error = nullptr);
    bool setInteger(const QString &key, qint64 value, QString *error = nullptr);
    bool setString(const QString &key, const QString &value, QString *error = nullptr);
    bool setDictionary(const QString &key, const QJsonObject &value, QString *error = nullptr);
    bool setData(const QString &key, const QByteArray &value, QString *error = nullptr);
    // Removing an absent key succeeds without touching the file.
    bool remove(const QString &key, QString *error = nullptr);

    // The tagged JSON form of a data value as it lies in the file.
    static QJsonValue encodeData(const QByteArray &value);
    static std::optional<QByteArray> decodeData(const QJsonValue &stored);

private:
    enum class FileState { missing, valid, corrupt, unreadable };
    struct Snapshot
    {
        FileState state = FileState::missing;
        QJsonObject values;
        QString reason; // why it is unreadable or corrupt
    };

    Snapshot read() const;
    QJsonValue storedValue(const QString &key) const;
    bool write(const QString &key, const QJsonValue &value, QString *error);

    QString m_filePath;
};
