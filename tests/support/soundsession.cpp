#include "soundsession.h"

#include "childprocess.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <csignal>
#include <cstring>
#include <sys/prctl.h>

namespace {

constexpr int startTimeoutMs = 15000;
constexpr int toolTimeoutMs = 15000;

QList<float> floatsFrom(const QByteArray &bytes)
{
    QList<float> samples(bytes.size() / qsizetype(sizeof(float)));
    std::memcpy(samples.data(), bytes.constData(), size_t(samples.size()) * sizeof(float));
    return samples;
}

} // namespace

SoundSession::SoundSession(Server server)
    : m_server(server)
{
}

SoundSession::~SoundSession()
{
    stop();
}

QProcessEnvironment SoundSession::environment() const
{
    QProcessEnvironment variables;
    variables.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_folder.filePath(QStringLiteral("run")));
    variables.insert(QStringLiteral("PULSE_RUNTIME_PATH"), m_folder.filePath(QStringLiteral("run/pulse")));
    variables.insert(QStringLiteral("PULSE_STATE_PATH"), m_folder.filePath(QStringLiteral("state")));
    // Named explicitly, so no client looks for a user's or the system's server, and the
    // client configuration forbids spawning one.
    variables.insert(QStringLiteral("PULSE_SERVER"),
                     QStringLiteral("unix:") + m_folder.filePath(QStringLiteral("native")));
    variables.insert(QStringLiteral("PULSE_CLIENTCONFIG"), m_folder.filePath(QStringLiteral("client.conf")));
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
    if (!m_folder.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return false;
    }
    for (const char *folder : {"run/pulse", "state"}) {
        if (!QDir(m_folder.path()).mkpath(QString::fromLatin1(folder))) {
            m_error = QStringLiteral("cannot make the server's folders");
            return false;
        }
    }
    // A runtime folder others can read is refused (with a warning) by every Qt client.
    if (!QFile::setPermissions(m_folder.filePath(QStringLiteral("run")),
                               QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
        m_error = QStringLiteral("cannot make the runtime folder private");
        return false;
    }
    QFile clientConfig(m_folder.filePath(QStringLiteral("client.conf")));
    if (!clientConfig.open(QIODevice::WriteOnly) || clientConfig.write("autospawn = no\n") < 0) {
        m_error = QStringLiteral("cannot write the client configuration");
        return false;
    }
    clientConfig.close();
    if (m_server == Server::none)
        return true;

    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    variables.insert(environment());
    m_daemon.setProcessEnvironment(variables);
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
    if (!m_daemon.waitForStarted(startTimeoutMs)) {
        m_error = QStringLiteral("pulseaudio did not start: ") + m_daemon.errorString();
        return false;
    }
    const bool answering = QTest::qWaitFor(
        [this] {
            if (m_daemon.state() != QProcess::Running)
                return true;
            int code = -1;
            pactl({QStringLiteral("info")}, &code);
            return code == 0;
        },
        startTimeoutMs);
    if (!answering || m_daemon.state() != QProcess::Running) {
        m_error = QStringLiteral("pulseaudio did not answer: ") + QString::fromLocal8Bit(m_daemon.readAll());
        ChildProcess::stop(m_daemon);
        return false;
    }
    int sinkSet = -1;
    int sourceSet = -1;
    pactl({QStringLiteral("set-default-sink"), QStringLiteral("virtmic_sink")}, &sinkSet);
    pactl({QStringLiteral("set-default-source"), QStringLiteral("virtmic")}, &sourceSet);
    if (sinkSet != 0 || sourceSet != 0) {
        m_error = QStringLiteral("pulseaudio lacks the virtual sink or microphone: ")
            + QString::fromLocal8Bit(m_daemon.readAll());
        ChildProcess::stop(m_daemon);
        return false;
    }
    m_pacemaker.setProcessEnvironment(variables);
    m_pacemaker.setStandardOutputFile(QProcess::nullDevice());
    m_pacemaker.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    ChildProcess::dieWithParent(m_pacemaker);
    m_pacemaker.start(QStringLiteral("parec"), {QStringLiteral("-d"), QStringLiteral("virtmic_sink.monitor"),
                                                QStringLiteral("--raw"), QStringLiteral("--latency-msec=10")});
    if (!m_pacemaker.waitForStarted(startTimeoutMs)) {
        m_error = QStringLiteral("parec did not start: ") + m_pacemaker.errorString();
        ChildProcess::stop(m_daemon);
        return false;
    }
    // Once the sink has finished the idle block it was in, a new stream gets its first data
    // at once.
    const bool ticking = QTest::qWaitFor(
        [this] {
            int code = -1;
            const QString sinks = pactl({QStringLiteral("list"), QStringLiteral("sinks")}, &code);
            const QRegularExpressionMatch latency
                = QRegularExpression(QStringLiteral("Latency: (\\d+) usec")).match(sinks);
            return code == 0 && latency.hasMatch() && latency.captured(1).toLongLong() < 100000;
        },
        startTimeoutMs);
    if (!ticking) {
        m_error = QStringLiteral("the null sink does not run at a short latency");
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
    QProcess tool;
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    variables.insert(environment());
    tool.setProcessEnvironment(variables);
    ChildProcess::dieWithParent(tool);
    tool.start(QStringLiteral("pactl"), arguments);
    const bool finished = tool.waitForFinished(toolTimeoutMs);
    if (!finished) {
        tool.kill();
        tool.waitForFinished();
    }
    if (exitCode)
        *exitCode = finished && tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    return QString::fromUtf8(tool.readAllStandardOutput());
}

bool SoundSession::play(const QString &file)
{
    QProcess player;
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    variables.insert(environment());
    player.setProcessEnvironment(variables);
    player.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    ChildProcess::dieWithParent(player);
    player.start(QStringLiteral("paplay"), {QStringLiteral("-d"), QStringLiteral("virtmic_sink"), file});
    const bool finished
        = QTest::qWaitFor([&player] { return player.state() == QProcess::NotRunning; }, 60000);
    if (!finished) {
        player.kill();
        player.waitForFinished();
        return false;
    }
    return player.exitStatus() == QProcess::NormalExit && player.exitCode() == 0;
}

bool SoundSession::startRecording()
{
    ChildProcess::stop(m_recorder);
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    variables.insert(environment());
    m_recorder.setProcessEnvironment(variables);
    m_recorder.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    ChildProcess::dieWithParent(m_recorder);
    m_recorder.start(QStringLiteral("parec"),
                     {QStringLiteral("-d"), QStringLiteral("virtmic_sink.monitor"), QStringLiteral("--raw"),
                      QStringLiteral("--format=float32le"), QStringLiteral("--channels=1"),
                      QStringLiteral("--rate=") + QString::number(recordingRate), QStringLiteral("--latency-msec=20")});
    if (!m_recorder.waitForStarted(startTimeoutMs))
        return false;
    // A null sink's monitor streams silence even while nothing plays, so the first bytes
    // show that the recording runs.
    const bool running = QTest::qWaitFor([this] { return m_recorder.bytesAvailable() > 0; }, startTimeoutMs);
    if (!running)
        ChildProcess::stop(m_recorder);
    return running;
}

QList<float> SoundSession::stopRecording()
{
    if (m_recorder.state() == QProcess::NotRunning)
        return {};
    m_recorder.terminate();
    if (!m_recorder.waitForFinished(5000)) {
        m_recorder.kill();
        m_recorder.waitForFinished(5000);
    }
    QByteArray bytes = m_recorder.readAllStandardOutput();
    bytes.truncate(bytes.size() - bytes.size() % qsizetype(sizeof(float)));
    return floatsFrom(bytes);
}

QList<float> SoundSession::samplesOf(const QString &file)
{
    QProcess sox;
    ChildProcess::dieWithParent(sox);
    sox.start(QStringLiteral("sox"), {file, QStringLiteral("-t"), QStringLiteral("f32"), QStringLiteral("-r"),
                                       QString::number(recordingRate), QStringLiteral("-c"), QStringLiteral("1"),
                                       QStringLiteral("-")});
    if (!sox.waitForFinished(toolTimeoutMs) || sox.exitStatus() != QProcess::NormalExit || sox.exitCode() != 0) {
        sox.kill();
        sox.waitForFinished();
        return {};
    }
    return floatsFrom(sox.readAllStandardOutput());
}
