#include "core/base/preferencekeys.h"

#include "core/base/cleanupmode.h"
#include "core/base/whisperlanguage.h"

#include <QtGlobal>

namespace PreferenceKeys {

QString defaultWhisperModel()
{
#if defined(Q_PROCESSOR_ARM_64)
    return QStringLiteral("small");
#else
    return QStringLiteral("base.en");
#endif
}

namespace {

QStringList languageCodes()
{
    QStringList codes;
    for (const WhisperLanguage language : WhisperLanguage::allCases())
        codes << language.rawValue();
    return codes;
}

QStringList builtInCleanupModes()
{
    QStringList modes;
    for (const CleanupMode mode : CleanupMode::allCases())
        modes << mode.rawValue();
    return modes;
}

} // namespace

const QList<int> &retentionChoices()
{
    static const QList<int> days = {0, 30, 7};
    return days;
}

const QList<PreferenceKey> &all()
{
    using T = PreferenceType;
    static const QList<PreferenceKey> keys = {
        {whisperModel, T::string, defaultWhisperModel(),
         {QStringLiteral("base.en"), QStringLiteral("base"), QStringLiteral("small"),
          QStringLiteral("large-v3")}},
        {dictationSpeed, T::string, QStringLiteral("fast"),
         {QStringLiteral("fast"), QStringLiteral("accurate")}},
        {language, T::string, QStringLiteral("auto"), languageCodes()},
        {holdToTalk, T::boolean, false, {}},
        {clipboardSafeInsert, T::boolean, false, {}},
        {cleanupMode, T::string, QStringLiteral("off"), builtInCleanupModes()},
        {cleanupModel, T::string, QStringLiteral("claude-opus-4-8"), {}},
        {soundsEnabled, T::boolean, true, {}},
        {voiceEnabled, T::boolean, true, {}},
        {retentionDays, T::integer, 0, {}},
        {coreMLEnabled, T::boolean, true, {}},
        // Dictations under 30 s encoded in a window fitted to them: faster, but the accuracy
        // trade is the user's to make.
        {fasterShortDictations, T::boolean, false, {}},
        {hasOnboarded, T::boolean, false, {}},
        {dictateHotkey, T::dictionary, QJsonValue::Undefined, {}},
        {vocabularyRules, T::data, QJsonValue::Undefined, {}},
        {vocabulary, T::string, QJsonValue::Undefined, {}},
        {customStyles, T::data, QJsonValue::Undefined, {}},
        // The desktop's grant of a keyboard to Murmel on Wayland; unset, it asks again.
        {remoteDesktopToken, T::string, QJsonValue::Undefined, {}},
    };
    return keys;
}

const PreferenceKey *find(QStringView name)
{
    for (const PreferenceKey &key : all()) {
        if (key.name == name)
            return &key;
    }
    return nullptr;
}

} // namespace PreferenceKeys
