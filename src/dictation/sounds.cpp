#include "sounds.h"

#include "app/settings.h"
#include "dictation/soundplayer.h"

Sounds::Sounds(SoundPlayer &player)
    : m_player(player)
{
}

void Sounds::play(const QString &name)
{
    if (Settings::soundsEnabled())
        m_player.play(name);
}
