#pragma once

#include <QAudioFormat>
#include <QByteArray>
#include <QObject>

class QAudioSink;
class QBuffer;

// Plays one piece of PCM on the default output device, to its very end.
//
// Qt's sink reports "idle" once it has handed the last bytes to the sound server, while
// the server still holds up to a buffer's worth of them; stopping the sink then throws
// that tail away (which is what QSoundEffect does in Qt 6.4: a 90 ms sound is not heard
// at all). So the sink is kept until the tail has had time to play.
//
// Main thread only. Playing again cuts off the previous piece.
class PcmPlayer final : public QObject
{
    Q_OBJECT

public:
    explicit PcmPlayer(QObject *parent = nullptr);
    ~PcmPlayer() override;

    // Starts `pcm`, in `format`. False, and nothing plays, when there is no output device
    // or the sound server refuses the stream.
    bool play(const QByteArray &pcm, const QAudioFormat &format);
    // Cuts off what is playing. Emits nothing.
    void stop();
    bool isPlaying() const { return m_sink != nullptr; }

Q_SIGNALS:
    // The piece has played out, or the server stopped taking it.
    void finished();

private:
    void finish();

    QAudioSink *m_sink = nullptr;
    QBuffer *m_buffer = nullptr;
    quint64 m_piece = 0; // which piece a pending finish belongs to
};
