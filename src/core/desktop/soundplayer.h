#pragma once

#include <QString>

// Plays the interface sounds by name ("Pop", "Bottle", "Morse", "Tink", "Glass", "Funk").
// Main thread only. A name without a sound plays nothing; playing never blocks.
class SoundPlayer
{
public:
    virtual ~SoundPlayer() = default;
    virtual void play(const QString &name) = 0;
};
