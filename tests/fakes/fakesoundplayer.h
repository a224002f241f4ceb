#pragma once

#include "core/desktop/soundplayer.h"

#include <QStringList>

// A SoundPlayer for unit tests: remembers the names it was asked to play, in order.
class FakeSoundPlayer final : public SoundPlayer
{
public:
    void play(const QString &name) override { played.append(name); }

    QStringList played;
};
