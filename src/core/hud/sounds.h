#pragma once

#include <QString>

class Preferences;
class SoundPlayer;

// The interface sounds at their moments ("Pop" when a recording starts, "Bottle" when it
// stops, …), played only while the user has the sounds preference on. Main thread only.
class Sounds final
{
public:
    Sounds(SoundPlayer &player, const Preferences &preferences);

    // Reads the preference at every call, so switching it off silences the next sound.
    void play(const QString &name);

private:
    SoundPlayer &m_player;
    const Preferences &m_preferences;
};
