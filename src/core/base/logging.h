#pragma once

#include <QLoggingCategory>

// One category per subsystem. Debug output is off by default and never carries
// transcript text or secrets; enable it with QT_LOGGING_RULES="murmel.*.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcApp)
Q_DECLARE_LOGGING_CATEGORY(lcSpeech)
Q_DECLARE_LOGGING_CATEGORY(lcTranscripts)
Q_DECLARE_LOGGING_CATEGORY(lcText)
Q_DECLARE_LOGGING_CATEGORY(lcDictation)
Q_DECLARE_LOGGING_CATEGORY(lcInsert)
Q_DECLARE_LOGGING_CATEGORY(lcPlatform)
