#pragma once

#include "core/desktop/speechsynthesizer.h"

#include <QStringList>

// A SpeechSynthesizer for unit tests: logs every call in order ("stop", "speak:<phrase>").
class FakeSpeechSynthesizer final : public SpeechSynthesizer
{
public:
    void stopSpeaking() override { calls.append(QStringLiteral("stop")); }
    void startSpeaking(const QString &phrase) override { calls.append(QStringLiteral("speak:") + phrase); }

    QStringList calls;
};
