#include "core/hud/sounds.h"

#include "core/base/settings.h"
#include "core/desktop/soundplayer.h"

Sounds::Sounds(SoundPlayer &player)
    : m_player(player)
{
}

void Sounds::play(const QString &name)
{
    if (Settings::soundsEnabled())
        m_player.play(name);
}
