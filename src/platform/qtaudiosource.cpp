#include "qtaudiosource.h"

#include "app/logging.h"
#include "platform/sampleconverter.h"

#include <QAudioDevice>
#include <QAudioSource>
#include <QIODevice>
#include <QMediaDevices>
#include <QMetaObject>

#include <vector>

// Receives the sound server's bytes on the capture thread (Qt's pull mode writes into
// it from the audio source's timer) and hands converted frames to the sink.
class QtAudioSource::Capture final : public QIODevice
{
public:
    Capture(const QAudioDevice &device, const QAudioFormat &format, Sink sink)
        : m_converter(format)
        , m_sink(std::move(sink))
        , m_source(device, format)
    {
    }

    ~Capture() override { m_source.stop(); }

    std::optional<QString> begin(const QString &deviceName)
    {
        if (!m_converter.isValid())
            return QStringLiteral("The microphone “%1” delivers a sample format Murmel cannot read.")
                .arg(deviceName);
        if (!open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return QStringLiteral("The microphone “%1” could not be read.").arg(deviceName);
        QObject::connect(&m_source, &QAudioSource::stateChanged, this, [this, deviceName](QAudio::State state) {
            if (state == QAudio::StoppedState && m_source.error() != QAudio::NoError)
                qCWarning(lcPlatform) << "Microphone capture from" << deviceName << "ended:" << m_source.error();
        });
        m_source.start(this);
        switch (m_source.error()) {
        case QAudio::NoError:
            return std::nullopt;
        case QAudio::FatalError:
            return QStringLiteral("The sound server stopped answering while opening the microphone “%1”.")
                .arg(deviceName);
        case QAudio::OpenError:
        case QAudio::IOError:
        case QAudio::UnderrunError:
            break;
        }
        return QStringLiteral("The microphone “%1” could not be opened.").arg(deviceName);
    }

protected:
    qint64 readData(char *, qint64) override { return -1; }

    qint64 writeData(const char *data, qint64 size) override
    {
        m_frames.clear();
        m_converter.convert(data, size, m_frames);
        if (!m_frames.empty())
            m_sink(m_frames.data(), qsizetype(m_frames.size()));
        return size;
    }

private:
    SampleConverter m_converter;
    Sink m_sink;
    std::vector<float> m_frames; // reused for every piece
    QAudioSource m_source;       // declared last: stopped and destroyed before the rest
};

QtAudioSource::QtAudioSource()
    : m_threadContext(std::make_unique<QObject>())
{
    m_thread.setObjectName(QStringLiteral("Microphone"));
    m_threadContext->moveToThread(&m_thread);
    m_thread.start(QThread::HighPriority);
}

QtAudioSource::~QtAudioSource()
{
    stop();
    m_thread.quit();
    m_thread.wait();
}

std::optional<QString> QtAudioSource::start(Sink sink)
{
    stop();
    const QAudioDevice device = QMediaDevices::defaultAudioInput();
    if (device.isNull())
        return QStringLiteral("No microphone is available.");

    QAudioFormat wanted;
    wanted.setSampleRate(SampleConverter::outputRate);
    wanted.setChannelCount(1);
    wanted.setSampleFormat(QAudioFormat::Float);
    const QAudioFormat format = device.isFormatSupported(wanted) ? wanted : device.preferredFormat();
    if (format != wanted)
        qCDebug(lcPlatform) << "Microphone" << device.description() << "captures in its own format" << format;

    std::optional<QString> error;
    QMetaObject::invokeMethod(
        m_threadContext.get(),
        [&] {
            auto capture = std::make_unique<Capture>(device, format, std::move(sink));
            error = capture->begin(device.description());
            if (!error)
                m_capture = capture.release();
        },
        Qt::BlockingQueuedConnection);
    return error;
}

void QtAudioSource::stop()
{
    if (!m_capture)
        return;
    // Destroyed on its own thread, where its timer and the server's stream live; once this
    // returns no piece is in flight.
    QMetaObject::invokeMethod(
        m_threadContext.get(), [this] { delete m_capture; }, Qt::BlockingQueuedConnection);
    m_capture = nullptr;
}
