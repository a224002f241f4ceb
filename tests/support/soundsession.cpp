#include "soundsession.h"

#include "childprocess.h"

#include <QDir>
#include <QRegularExpression>
#include <QTest>

#include <cmath>
#include <cstring>

namespace {

QList<float> floatsFrom(const QByteArray &bytes)
{
    QList<float> samples(bytes.size() / qsizetype(sizeof(float)));
    std::memcpy(samples.data(), bytes.constData(), size_t(samples.size()) * sizeof(float));
    return samples;
}

} // namespace

QProcessEnvironment SoundSession::environment() const
{
    QProcessEnvironment variables;
    variables.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_folder.filePath(QStringLiteral("run")));
    variables.insert(QStringLiteral("PULSE_RUNTIME_PATH"), m_folder.filePath(QStringLiteral("run/pulse")));
    variables.insert(QStringLiteral("PULSE_STATE_PATH"), m_folder.filePath(QStringLiteral("state")));
    // Named explicitly, so no client looks for a user's or the system's server, and the
    // client configuration forbids spawning one.
    variables.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:") + m_folder.filePath(QStringLiteral("native")));
    variables.insert(QStringLiteral("PULSE_CLIENTCONFIG"), m_folder.filePath(QStringLiteral("client.conf")));
    return variables;
}

QProcessEnvironment SoundSession::clientEnvironment() const
{
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    variables.insert(environment());
    return variables;
}

void SoundSession::enter() const
{
    const QProcessEnvironment variables = environment();
    for (const QString &name : variables.keys())
        qputenv(name.toLocal8Bit().constData(), variables.value(name).toLocal8Bit());
}

bool SoundSession::start()
{
    QFile clientConfig(m_folder.filePath(QStringLiteral("client.conf")));
    // A runtime folder others can read is refused (with a warning) by every Qt client.
    if (!QDir(m_folder.path()).mkpath(QStringLiteral("run/pulse")) || !QDir(m_folder.path()).mkpath(QStringLiteral("state"))
        || !QFile::setPermissions(m_folder.filePath(QStringLiteral("run")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)
        || !clientConfig.open(QIODevice::WriteOnly) || clientConfig.write("autospawn = no\n") < 0) {
        m_error = QStringLiteral("cannot prepare the server's folders");
        return false;
    }
    clientConfig.close();
    if (m_server == Server::none)
        return true;

    m_daemon.setProcessEnvironment(clientEnvironment());
    m_daemon.setProcessChannelMode(QProcess::MergedChannels);
    ChildProcess::dieWithParent(m_daemon);
    // Anonymous access on the socket: the clients' home folder (and so their cookie) may
    // differ from the server's.
    m_daemon.start(QStringLiteral("pulseaudio"),
                   {QStringLiteral("-n"), QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"),
                    QStringLiteral("--use-pid-file=no"), QStringLiteral("--realtime=no"),
                    QStringLiteral("--high-priority=no"), QStringLiteral("--log-target=stderr"),
                    QStringLiteral("--load=module-native-protocol-unix auth-anonymous=1 socket=")
                        + m_folder.filePath(QStringLiteral("native")),
                    QStringLiteral("--load=module-null-sink sink_name=virtmic_sink"),
                    QStringLiteral("--load=module-remap-source master=virtmic_sink.monitor source_name=virtmic")});
    int sinkSet = -1;
    int sourceSet = -1;
    const bool answering = QTest::qWaitFor(
        [&] {
            pactl({QStringLiteral("info")}, &sinkSet);
            return sinkSet == 0 || m_daemon.state() == QProcess::NotRunning;
        },
        15000);
    if (answering && sinkSet == 0) {
        pactl({QStringLiteral("set-default-sink"), QStringLiteral("virtmic_sink")}, &sinkSet);
        pactl({QStringLiteral("set-default-source"), QStringLiteral("virtmic")}, &sourceSet);
    }
    if (sinkSet != 0 || sourceSet != 0) {
        m_error = QStringLiteral("pulseaudio did not come up with the sink and microphone: ")
            + m_daemon.errorString() + QString::fromLocal8Bit(m_daemon.readAll());
        stop();
        return false;
    }
    // An idle null sink renders in two-second blocks, so a stream that connects to it would
    // hear nothing for up to two seconds; a silent listener with a short latency keeps it
    // ticking like a sound card. Once the sink has finished the idle block it was in, a new
    // stream gets its first data at once.
    m_pacemaker.setProcessEnvironment(clientEnvironment());
    m_pacemaker.setStandardOutputFile(QProcess::nullDevice());
    ChildProcess::dieWithParent(m_pacemaker);
    m_pacemaker.start(QStringLiteral("parec"), {QStringLiteral("-d"), QStringLiteral("virtmic_sink.monitor"),
                                                QStringLiteral("--raw"), QStringLiteral("--latency-msec=10")});
    const QRegularExpression latency(QStringLiteral("Latency: (\\d+) usec"));
    if (!QTest::qWaitFor(
            [&] {
                const QRegularExpressionMatch match = latency.match(pactl({QStringLiteral("list"), QStringLiteral("sinks")}));
                return match.hasMatch() && match.captured(1).toLongLong() < 100000;
            },
            15000)) {
        m_error = QStringLiteral("the null sink does not run at a short latency: ") + m_pacemaker.errorString();
        stop();
        return false;
    }
    return true;
}

void SoundSession::stop()
{
    ChildProcess::stop(m_recorder);
    ChildProcess::stop(m_pacemaker);
    ChildProcess::stop(m_daemon);
}

QString SoundSession::pactl(const QStringList &arguments, int *exitCode) const
{
    return QString::fromUtf8(ChildProcess::run(QStringLiteral("pactl"), arguments, exitCode, clientEnvironment()));
}

bool SoundSession::play(const QString &file)
{
    QProcess player;
    player.setProcessEnvironment(clientEnvironment());
    player.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    ChildProcess::dieWithParent(player);
    player.start(QStringLiteral("paplay"), {QStringLiteral("-d"), QStringLiteral("virtmic_sink"), file});
    const bool finished = QTest::qWaitFor([&player] { return player.state() == QProcess::NotRunning; }, 60000);
    ChildProcess::stop(player);
    return finished && player.exitStatus() == QProcess::NormalExit && player.exitCode() == 0;
}

bool SoundSession::startRecording()
{
    ChildProcess::stop(m_recorder);
    m_recorder.setProcessEnvironment(clientEnvironment());
    m_recorder.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    ChildProcess::dieWithParent(m_recorder);
    m_recorder.start(QStringLiteral("parec"),
                     {QStringLiteral("-d"), QStringLiteral("virtmic_sink.monitor"), QStringLiteral("--raw"),
                      QStringLiteral("--format=float32le"), QStringLiteral("--channels=1"),
                      QStringLiteral("--rate=") + QString::number(recordingRate), QStringLiteral("--latency-msec=20")});
    // A null sink's monitor streams silence even while nothing plays, so the first bytes
    // show that the recording runs.
    const bool running = QTest::qWaitFor([this] { return m_recorder.bytesAvailable() > 0; }, 15000);
    if (!running)
        ChildProcess::stop(m_recorder);
    return running;
}

QList<float> SoundSession::stopRecording()
{
    ChildProcess::stop(m_recorder);
    return floatsFrom(m_recorder.readAllStandardOutput());
}

QList<float> SoundSession::samplesOf(const QString &file)
{
    int code = -1;
    const QByteArray bytes = ChildProcess::run(QStringLiteral("sox"),
                                               {file, QStringLiteral("-t"), QStringLiteral("f32"), QStringLiteral("-r"),
                                                QString::number(recordingRate), QStringLiteral("-c"),
                                                QStringLiteral("1"), QStringLiteral("-")},
                                               &code);
    return code == 0 ? floatsFrom(bytes) : QList<float>();
}

SoundSession::Span SoundSession::loudSpan(const QList<float> &samples, float threshold)
{
    Span span;
    for (qsizetype i = 0; i < samples.size(); ++i) {
        if (std::abs(samples.at(i)) > threshold) {
            span.first = span.first < 0 ? i : span.first;
            span.last = i;
        }
    }
    return span;
}
