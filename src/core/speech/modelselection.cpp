#include "core/speech/modelselection.h"

#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"

namespace ModelSelection {

WhisperModel defaultFileModel()
{
    return *WhisperModel::fromRawValue(PreferenceKeys::defaultWhisperModel());
}

WhisperModel fileTranscriptionModel(const Preferences &preferences)
{
    const QString stored = preferences.stringOrDefault(PreferenceKeys::whisperModel);
    return WhisperModel::fromRawValue(stored).value_or(defaultFileModel());
}

WhisperModel dictationModel(const Preferences &preferences)
{
    const bool english = preferences.stringOrDefault(PreferenceKeys::language) == u"en";
    QString rawValue;
    if (preferences.stringOrDefault(PreferenceKeys::dictationSpeed) == u"accurate")
        rawValue = preferences.stringOrDefault(PreferenceKeys::whisperModel);
    else
        rawValue = english ? QStringLiteral("base.en") : QStringLiteral("small");
    // Only a bad stored "whisperModel" can fail here.
    return WhisperModel::fromRawValue(rawValue).value_or(english ? WhisperModel::baseEn
                                                                 : WhisperModel::small);
}

ComputeDevice computeDevice(const Preferences &preferences)
{
    return preferences.booleanOrDefault(PreferenceKeys::coreMLEnabled) ? ComputeDevice::graphicsCard
                                                                     : ComputeDevice::processor;
}

} // namespace ModelSelection
