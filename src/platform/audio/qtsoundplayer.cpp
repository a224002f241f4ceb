#include "platform/audio/qtsoundplayer.h"

#include "core/base/logging.h"
#include "platform/audio/pcmplayer.h"

#include <QFile>
#include <QtEndian>

namespace {

constexpr quint16 wavePcm = 1;
constexpr quint16 waveFloat = 3;
constexpr quint16 waveExtensible = 0xfffe;

quint16 read16(const char *at)
{
    return qFromLittleEndian<quint16>(at);
}

quint32 read32(const char *at)
{
    return qFromLittleEndian<quint32>(at);
}

} // namespace

QStringList QtSoundPlayer::names()
{
    return {QStringLiteral("Pop"),  QStringLiteral("Bottle"), QStringLiteral("Morse"),
            QStringLiteral("Tink"), QStringLiteral("Glass"),  QStringLiteral("Funk")};
}

QString QtSoundPlayer::resourcePath(const QString &name)
{
    return QStringLiteral(":/sounds/") + name + QStringLiteral(".wav");
}

std::optional<QtSoundPlayer::Sound> QtSoundPlayer::decodeWave(const QByteArray &file)
{
    if (file.size() < 12 || !file.startsWith("RIFF") || file.mid(8, 4) != "WAVE")
        return std::nullopt;
    std::optional<QAudioFormat> format;
    std::optional<QByteArray> data;
    for (qsizetype at = 12; at + 8 <= file.size();) {
        const QByteArray id = file.mid(at, 4);
        const quint32 size = read32(file.constData() + at + 4);
        const qsizetype body = at + 8;
        if (qsizetype(size) > file.size() - body)
            return std::nullopt; // a chunk that runs past the end: truncated or corrupt
        if (id == "fmt " && size >= 16) {
            const char *fields = file.constData() + body;
            quint16 tag = read16(fields);
            const quint16 channels = read16(fields + 2);
            const quint32 rate = read32(fields + 4);
            const quint16 bits = read16(fields + 14);
            if (tag == waveExtensible && size >= 40)
                tag = read16(fields + 24); // the sub-format GUID starts with the plain tag
            QAudioFormat::SampleFormat type = QAudioFormat::Unknown;
            if (tag == wavePcm && bits == 8)
                type = QAudioFormat::UInt8;
            else if (tag == wavePcm && bits == 16)
                type = QAudioFormat::Int16;
            else if (tag == wavePcm && bits == 32)
                type = QAudioFormat::Int32;
            else if (tag == waveFloat && bits == 32)
                type = QAudioFormat::Float;
            if (type == QAudioFormat::Unknown || channels == 0 || rate == 0)
                return std::nullopt;
            format.emplace();
            format->setSampleFormat(type);
            format->setChannelCount(channels);
            format->setSampleRate(int(rate));
        } else if (id == "data") {
            data = file.mid(body, size);
        }
        at = body + qsizetype(size) + (size & 1); // chunks are padded to an even length
    }
    if (!format || !data || data->isEmpty())
        return std::nullopt;
    data->truncate(data->size() - data->size() % format->bytesPerFrame());
    return Sound{*format, *data};
}

QtSoundPlayer::QtSoundPlayer()
{
    for (const QString &name : names()) {
        QFile file(resourcePath(name));
        std::optional<Sound> sound;
        if (file.open(QIODevice::ReadOnly))
            sound = decodeWave(file.readAll());
        if (!sound) {
            qCWarning(lcPlatform) << "The sound" << name << "cannot be read from" << resourcePath(name);
            continue;
        }
        m_sounds.emplace(name, Entry{std::move(*sound), std::make_unique<PcmPlayer>()});
    }
}

QtSoundPlayer::~QtSoundPlayer() = default;

void QtSoundPlayer::play(const QString &name)
{
    const auto found = m_sounds.find(name);
    if (found == m_sounds.end())
        return;
    found->second.player->play(found->second.sound.pcm, found->second.sound.format);
}
