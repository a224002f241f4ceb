#pragma once

#include "core/desktop/soundplayer.h"

#include <QAudioFormat>
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <map>
#include <memory>
#include <optional>

class PcmPlayer;

// The interface sounds from the application's resources (":/sounds/<name>.wav"), played
// through Qt Multimedia on the default output device. Each sound is read once, at
// construction, and has a player of its own, so different sounds may overlap and a sound
// played again starts over.
//
// Not QSoundEffect: in Qt 6.4 it stops its stream as soon as the last bytes are handed
// over, so the end of every sound is lost and the shortest ones are not heard at all.
//
// Main thread only. An unknown name, or a missing output device, plays nothing.
class QtSoundPlayer final : public SoundPlayer
{
public:
    struct Sound
    {
        QAudioFormat format;
        QByteArray pcm;
    };

    // The names of the sounds the application ships.
    static QStringList names();
    // The resource a name is played from.
    static QString resourcePath(const QString &name);
    // The samples of a RIFF WAVE file with integer (8, 16, 32-bit) or 32-bit float PCM;
    // nothing for any other file.
    static std::optional<Sound> decodeWave(const QByteArray &file);

    QtSoundPlayer();
    ~QtSoundPlayer() override;

    QtSoundPlayer(const QtSoundPlayer &) = delete;
    QtSoundPlayer &operator=(const QtSoundPlayer &) = delete;

    void play(const QString &name) override;

private:
    struct Entry
    {
        Sound sound;
        std::unique_ptr<PcmPlayer> player;
    };
    std::map<QString, Entry> m_sounds;
};
