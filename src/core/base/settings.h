#pragma once

#include <QtGlobal>

class Preferences;

// Typed readers of the preferences that the non-interface code consults at the moment it
// needs a value; nothing is cached, so a change applies at the next use. A value of the
// wrong type under a key reads as the key's default. The string keys ("whisperModel",
// "dictationSpeed", "language", "cleanupModel") are read with
// Preferences::stringOrDefault by their one reader each.
namespace Settings {

qint64 retentionDays(const Preferences &preferences);
bool soundsEnabled(const Preferences &preferences);
bool voiceEnabled(const Preferences &preferences);
bool clipboardSafeInsert(const Preferences &preferences);
bool holdToTalk(const Preferences &preferences);

} // namespace Settings
