#pragma once

#include "core/desktop/speechsynthesizer.h"

#include <QStringList>

// A SpeechSynthesizer for unit tests: logs every call in order ("stop", "speak:<phrase>")
// and keeps the phrase that would be heard now.
class FakeSpeechSynthesizer final : public SpeechSynthesizer
{
public:
    void stopSpeaking() override
    {
        calls.append(QStringLiteral("stop"));
        speaking.clear();
    }

    void startSpeaking(const QString &phrase) override
    {
        calls.append(QStringLiteral("speak:") + phrase);
        speaking = phrase;
    }

    QStringList calls;
    QString speaking;
};
