#include "platform/audio/pcmplayer.h"

#include "core/base/logging.h"

#include <QAudioDevice>
#include <QAudioSink>
#include <QBuffer>
#include <QCoreApplication>
#include <QMediaDevices>
#include <QTimer>

namespace {

// Beyond the server's buffer, for the scheduling slack between the server and us.
constexpr qint64 tailMarginMs = 100;

} // namespace

PcmPlayer::PcmPlayer(QObject *parent)
    : QObject(parent)
{
    // A sink deleted while it plays, once the event loop is gone, can take the sound
    // server's connection down under it. Stopped here, the sink's deferred delete still
    // runs: the application flushes those after this signal, with the loop's machinery up.
    if (QCoreApplication *application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, this, &PcmPlayer::stop);
}

PcmPlayer::~PcmPlayer()
{
    stop();
    // A sink reads from its buffer until it is gone. Sinks still waiting for a deferred
    // delete (the event loop has ended when the application quits) would otherwise be
    // deleted with the other children, in the order they were made: after their buffers.
    qDeleteAll(findChildren<QAudioSink *>(Qt::FindDirectChildrenOnly));
}

bool PcmPlayer::play(const QByteArray &pcm, const QAudioFormat &format)
{
    stop();
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull() || pcm.isEmpty() || !format.isValid())
        return false;

    const quint64 piece = ++m_piece;
    m_buffer = new QBuffer(this);
    m_buffer->setData(pcm);
    m_buffer->open(QIODevice::ReadOnly);
    m_sink = new QAudioSink(device, format, this);
    connect(m_sink, &QAudioSink::stateChanged, this, [this, piece, format](QAudio::State state) {
        if (piece != m_piece || !m_sink)
            return;
        if (state == QAudio::IdleState) {
            const qint64 heldMs = format.durationForBytes(qint32(m_sink->bufferSize())) / 1000;
            QTimer::singleShot(heldMs + tailMarginMs, this, [this, piece] {
                if (piece == m_piece && m_sink)
                    finish();
            });
        } else if (state == QAudio::StoppedState && m_sink->error() != QAudio::NoError) {
            qCWarning(lcPlatform) << "Sound output stopped:" << m_sink->error();
            // Not from inside the sink's own signal: finishing deletes it.
            QTimer::singleShot(0, this, [this, piece] {
                if (piece == m_piece && m_sink)
                    finish();
            });
        }
    });
    m_sink->start(m_buffer);
    if (m_sink->state() == QAudio::StoppedState && m_sink->error() != QAudio::NoError) {
        qCWarning(lcPlatform) << "Sound output could not be opened:" << m_sink->error();
        stop();
        return false;
    }
    return true;
}

void PcmPlayer::stop()
{
    ++m_piece;
    if (m_sink) {
        m_sink->disconnect(this);
        m_sink->stop();
        m_sink->deleteLater();
        m_sink = nullptr;
    }
    if (m_buffer) {
        m_buffer->deleteLater();
        m_buffer = nullptr;
    }
}

void PcmPlayer::finish()
{
    stop();
    Q_EMIT finished();
}
