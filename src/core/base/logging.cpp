#include "core/base/logging.h"

Q_LOGGING_CATEGORY(lcApp, "murmel.app", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSpeech, "murmel.speech", QtInfoMsg)
Q_LOGGING_CATEGORY(lcTranscripts, "murmel.transcripts", QtInfoMsg)
Q_LOGGING_CATEGORY(lcText, "murmel.text", QtInfoMsg)
Q_LOGGING_CATEGORY(lcDictation, "murmel.dictation", QtInfoMsg)
Q_LOGGING_CATEGORY(lcInsert, "murmel.insert", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPlatform, "murmel.platform", QtInfoMsg)
