#include "core/base/settings.h"

#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"

// The defaults live in the key table alone; these readers only name the key.
namespace Settings {

qint64 retentionDays(const Preferences &preferences)
{
    return preferences.effective(PreferenceKeys::retentionDays).toInteger();
}

bool soundsEnabled(const Preferences &preferences)
{
    return preferences.booleanOrDefault(PreferenceKeys::soundsEnabled);
}

bool voiceEnabled(const Preferences &preferences)
{
    return preferences.booleanOrDefault(PreferenceKeys::voiceEnabled);
}

bool clipboardSafeInsert(const Preferences &preferences)
{
    return preferences.booleanOrDefault(PreferenceKeys::clipboardSafeInsert);
}

bool holdToTalk(const Preferences &preferences)
{
    return preferences.booleanOrDefault(PreferenceKeys::holdToTalk);
}


} // namespace Settings
