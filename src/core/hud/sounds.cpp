#include "core/hud/sounds.h"

#include "core/base/settings.h"
#include "core/desktop/soundplayer.h"

Sounds::Sounds(SoundPlayer &player, const Preferences &preferences)
    : m_player(player)
    , m_preferences(preferences)
{
}

void Sounds::play(const QString &name)
{
    if (Settings::soundsEnabled(m_preferences))
        m_player.play(name);
}
