#pragma once

#include <QString>

class Preferences;
class SpeechSynthesizer;

// Speaks the short status cues ("It's ready.") in the robotic voice, while the user has
// the voice preference on. Main thread only.
class Voice final
{
public:
    // The speaking rate of every cue.
    static constexpr int wordsPerMinute = 160;

    Voice(SpeechSynthesizer &synthesizer, const Preferences &preferences);

    // A new cue cuts off the one still being spoken. Reads the preference at every call.
    void speak(const QString &phrase);

private:
    SpeechSynthesizer &m_synthesizer;
    const Preferences &m_preferences;
};
