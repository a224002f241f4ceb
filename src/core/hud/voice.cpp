#include "core/hud/voice.h"

#include "core/base/settings.h"
#include "core/desktop/speechsynthesizer.h"

Voice::Voice(SpeechSynthesizer &synthesizer)
    : m_synthesizer(synthesizer)
{
}

void Voice::speak(const QString &phrase)
{
    if (!Settings::voiceEnabled())
        return;
    m_synthesizer.stopSpeaking();
    m_synthesizer.startSpeaking(phrase);
}
