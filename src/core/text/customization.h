#pragma once

#include "core/base/cleanupmode.h"
#include "core/text/vocabulary.h"

#include <QByteArray>

#include <optional>

class Preferences;

// What "cleanupMode" and the custom styles resolve to for one dictation.
struct CleanupResolution
{
    bool active = false;
    QString systemPrompt;

    friend bool operator==(const CleanupResolution &, const CleanupResolution &) = default;
};

// The persisted forms of the dictionary and the custom styles: JSON arrays of objects with
// all keys required, decoded all or nothing.
namespace CustomizationCoding {

QByteArray encodeRules(const QList<VocabularyRule> &rules);
std::optional<QList<VocabularyRule>> decodeRules(const QByteArray &json);
QByteArray encodeStyles(const QList<CustomStyle> &styles);
std::optional<QList<CustomStyle>> decodeStyles(const QByteArray &json);

} // namespace CustomizationCoding

// Readers and writers of the customisations in the preferences, read afresh on every call.
namespace Settings {

// "vocabularyRules"; when absent or undecodable, the older comma-separated "vocabulary"
// as rules with only a wanted spelling (not written back).
QList<VocabularyRule> vocabularyRules(const Preferences &preferences);
bool setVocabularyRules(Preferences &preferences, const QList<VocabularyRule> &rules);

// "customStyles"; absent or undecodable gives none.
QList<CustomStyle> customStyles(const Preferences &preferences);
bool setCustomStyles(Preferences &preferences, const QList<CustomStyle> &styles);

// "cleanupMode" with the styles: a built-in mode's prompt, a custom style's instruction
// (when it is not blank), or not active.
CleanupResolution resolvedCleanup(const Preferences &preferences);

// The "cleanupMode" value that selects a custom style.
QString customSelection(const QUuid &styleId);
// The custom style "cleanupMode" selects (the id read in either case), or nothing.
std::optional<QUuid> selectedStyle(const Preferences &preferences);

} // namespace Settings
