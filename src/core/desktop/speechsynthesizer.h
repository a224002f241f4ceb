#pragma once

#include <QString>

// Speaks short phrases aloud. Main thread only; speaking never blocks.
class SpeechSynthesizer
{
public:
    virtual ~SpeechSynthesizer() = default;
    // Cuts off whatever is still being spoken.
    virtual void stopSpeaking() = 0;
    virtual void startSpeaking(const QString &phrase) = 0;
};
