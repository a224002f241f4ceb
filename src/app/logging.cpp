#include "logging.h"

Q_LOGGING_CATEGORY(lcApp, "murmel.app", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSpeech, "murmel.speech", QtInfoMsg)
Q_LOGGING_CATEGORY(lcTranscripts, "murmel.transcripts", QtInfoMsg)
Q_LOGGING_CATEGORY(lcText, "murmel.text", QtInfoMsg)
