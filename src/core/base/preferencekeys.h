#pragma once

#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

// The preference keys with their value types and the defaults that apply when a key is
// absent. The settings screen, the command line and every reader share this one table.

enum class PreferenceType { boolean, integer, string, dictionary, data };

struct PreferenceKey
{
    QString name;
    PreferenceType type;
    // Undefined when the key has no default (its absence means something of its own).
    QJsonValue defaultValue;
    // For string keys with a closed set of values: the values the command line accepts
    // ("cleanupMode" also takes the selection of an existing custom style).
    QStringList choices;
};

namespace PreferenceKeys {

inline const QString whisperModel = QStringLiteral("whisperModel");
inline const QString dictationSpeed = QStringLiteral("dictationSpeed");
inline const QString language = QStringLiteral("language");
inline const QString holdToTalk = QStringLiteral("holdToTalk");
inline const QString clipboardSafeInsert = QStringLiteral("clipboardSafeInsert");
inline const QString cleanupMode = QStringLiteral("cleanupMode");
inline const QString cleanupModel = QStringLiteral("cleanupModel");
inline const QString soundsEnabled = QStringLiteral("soundsEnabled");
inline const QString voiceEnabled = QStringLiteral("voiceEnabled");
inline const QString retentionDays = QStringLiteral("retentionDays");
inline const QString coreMLEnabled = QStringLiteral("coreMLEnabled");
inline const QString fasterShortDictations = QStringLiteral("fasterShortDictations");
inline const QString hasOnboarded = QStringLiteral("hasOnboarded");
inline const QString dictateHotkey = QStringLiteral("dictateHotkey");
inline const QString vocabularyRules = QStringLiteral("vocabularyRules");
inline const QString vocabulary = QStringLiteral("vocabulary");
inline const QString customStyles = QStringLiteral("customStyles");
inline const QString remoteDesktopToken = QStringLiteral("remoteDesktopToken");

// Every key, in the order the settings are documented.
const QList<PreferenceKey> &all();
// The days "retentionDays" may hold, in picker order; 0 keeps transcripts forever.
const QList<int> &retentionChoices();
// The key named `name`, or nullptr.
const PreferenceKey *find(QStringView name);

// The raw value of the file transcription model this processor defaults to: larger
// models are affordable on 64-bit ARM machines, a fast English one elsewhere.
QString defaultWhisperModel();

} // namespace PreferenceKeys
