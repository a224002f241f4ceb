#include "core/hud/voice.h"

#include "core/base/settings.h"
#include "core/desktop/speechsynthesizer.h"

Voice::Voice(SpeechSynthesizer &synthesizer, const Preferences &preferences)
    : m_synthesizer(synthesizer)
    , m_preferences(preferences)
{
}

void Voice::speak(const QString &phrase)
{
    if (!Settings::voiceEnabled(m_preferences))
        return;
    m_synthesizer.stopSpeaking();
    m_synthesizer.startSpeaking(phrase);
}
