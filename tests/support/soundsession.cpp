#include "soundsession.h"

#include "childprocess.h"
#include "testenvironment.h"

#include <QDir>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace Qt::StringLiterals;

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
    variables.insert(u"XDG_RUNTIME_DIR"_s, m_folder.filePath(u"run"_s));
    variables.insert(u"PULSE_RUNTIME_PATH"_s, m_folder.filePath(u"run/pulse"_s));
    variables.insert(u"PULSE_STATE_PATH"_s, m_folder.filePath(u"state"_s));
    // Named explicitly, so no client looks for a user's or the system's server, and the
    // client configuration forbids spawning one.
    variables.insert(u"PULSE_SERVER"_s, u"unix:"_s + m_folder.filePath(u"native"_s));
    variables.insert(u"PULSE_CLIENTCONFIG"_s, m_folder.filePath(u"client.conf"_s));
    return variables;
}

// Set up to reach this server only, and to die with the test.
void SoundSession::prepare(QProcess &process) const
{
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    variables.insert(environment());
    process.setProcessEnvironment(variables);
    ChildProcess::dieWithParent(process);
}

bool SoundSession::start()
{
    const auto fail = [this](const QString &reason) {
        m_error = reason;
        stop();
        return false;
    };
    // Anonymous access on the socket: the clients' home folder (and so their cookie) may
    // differ from the server's.
    const QByteArray script = "load-module module-native-protocol-unix auth-anonymous=1 socket="
        + QFile::encodeName(m_folder.filePath(u"native"_s))
        + "\nload-module module-null-sink sink_name=virtmic_sink"
          "\nload-module module-remap-source master=virtmic_sink.monitor source_name=virtmic"
          "\nset-default-sink virtmic_sink\nset-default-source virtmic\n";
    // A runtime folder others can read is refused (with a warning) by every Qt client.
    if (!QDir(m_folder.path()).mkpath(u"run/pulse"_s) || !QDir(m_folder.path()).mkpath(u"state"_s)
        || !QFile::setPermissions(m_folder.filePath(u"run"_s), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)
        || !TestFiles::write(m_folder.filePath(u"client.conf"_s), "autospawn = no\n")
        || !TestFiles::write(m_folder.filePath(u"server.pa"_s), script))
        return fail(u"cannot prepare the server's folders"_s);
    if (m_server == Server::none)
        return true;

    prepare(m_daemon);
    m_daemon.setProcessChannelMode(QProcess::MergedChannels);
    m_daemon.start(u"pulseaudio"_s, {u"-n"_s, u"--file="_s + m_folder.filePath(u"server.pa"_s), u"--daemonize=no"_s,
                                     u"--exit-idle-time=-1"_s, u"--use-pid-file=no"_s, u"--realtime=no"_s,
                                     u"--high-priority=no"_s, u"--log-target=stderr"_s});
    // The server runs its whole script before it takes the first client.
    int answer = -1;
    const auto answering = [&] {
        pactl({u"info"_s}, &answer);
        return answer == 0 || m_daemon.state() == QProcess::NotRunning;
    };
    if (!QTest::qWaitFor(answering, 15000) || answer != 0)
        return fail(u"pulseaudio did not come up with the sink and microphone: "_s + m_daemon.errorString()
                    + QString::fromLocal8Bit(m_daemon.readAll()));
    // An idle null sink renders in two-second blocks, so a stream that connects to it would
    // hear nothing for up to two seconds; a silent listener with a short latency keeps it
    // ticking like a sound card. Once the sink has finished the idle block it was in, a new
    // stream gets its first data at once.
    prepare(m_pacemaker);
    m_pacemaker.setStandardOutputFile(QProcess::nullDevice());
    m_pacemaker.start(u"parec"_s, {u"-d"_s, u"virtmic_sink.monitor"_s, u"--raw"_s, u"--latency-msec=10"_s});
    const QRegularExpression latency(u"Latency: (\\d+) usec"_s);
    const auto ticking = [&] {
        const QRegularExpressionMatch match = latency.match(pactl({u"list"_s, u"sinks"_s}));
        return match.hasMatch() && match.captured(1).toLongLong() < 100000;
    };
    if (!QTest::qWaitFor(ticking, 15000))
        return fail(u"the null sink does not run at a short latency: "_s + m_pacemaker.errorString());
    return true;
}

void SoundSession::stop()
{
    ChildProcess::stop(m_pacemaker);
    ChildProcess::stop(m_daemon);
}

QString SoundSession::pactl(const QStringList &arguments, int *exitCode) const
{
    QProcess tool;
    prepare(tool);
    return QString::fromUtf8(ChildProcess::run(tool, u"pactl"_s, arguments, exitCode));
}

bool SoundSession::play(const QString &file)
{
    QProcess player;
    prepare(player);
    player.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    player.start(u"paplay"_s, {u"-d"_s, u"virtmic_sink"_s, file});
    const bool finished = QTest::qWaitFor([&player] { return player.state() == QProcess::NotRunning; }, 60000);
    ChildProcess::stop(player);
    return finished && player.exitStatus() == QProcess::NormalExit && player.exitCode() == 0;
}

QList<float> SoundSession::recordWhile(const std::function<void()> &action, int afterMs)
{
    QProcess recorder;
    prepare(recorder);
    recorder.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    recorder.start(u"parec"_s, {u"-d"_s, u"virtmic_sink.monitor"_s, u"--raw"_s, u"--format=float32le"_s,
                                u"--channels=1"_s, u"--rate="_s + QString::number(recordingRate), u"--latency-msec=20"_s});
    // A null sink's monitor streams silence even while nothing plays, so the first bytes
    // show that the recording runs.
    if (!QTest::qWaitFor([&recorder] { return recorder.bytesAvailable() > 0; }, 15000))
        return {};
    action();
    QTest::qWait(afterMs);
    ChildProcess::stop(recorder);
    return floatsFrom(recorder.readAllStandardOutput());
}

QList<float> SoundSession::samplesOf(const QString &file)
{
    QFile wave(file);
    if (!wave.open(QIODevice::ReadOnly))
        return {};
    int code = -1;
    const QByteArray bytes = ChildProcess::run(u"sox"_s,
                                               {u"-t"_s, u"wav"_s, u"-"_s, u"-t"_s, u"f32"_s, u"-r"_s,
                                                QString::number(recordingRate), u"-c"_s, u"1"_s, u"-"_s},
                                               &code, QProcessEnvironment::systemEnvironment(), wave.readAll());
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
    for (qsizetype i = span.first; i >= 0 && i <= span.last; ++i)
        span.rms += double(samples.at(i)) * double(samples.at(i)) / double(span.length());
    span.rms = std::sqrt(span.rms);
    return span;
}

double SoundSession::likeness(const QList<float> &heard, const QList<float> &original)
{
    const Span a = loudSpan(heard);
    const Span b = loudSpan(original);
    const qsizetype count = std::min({a.length(), b.length(), qsizetype(recordingRate)});
    double best = -1.0;
    for (qsizetype lag = -200; lag <= 200; ++lag) {
        if (b.first + lag < 0 || b.first + lag + count > original.size())
            continue;
        double ab = 0.0;
        double aa = 0.0;
        double bb = 0.0;
        for (qsizetype i = 0; i < count; ++i) {
            const double x = heard.at(a.first + i);
            const double y = original.at(b.first + lag + i);
            ab += x * y;
            aa += x * x;
            bb += y * y;
        }
        if (aa > 0.0 && bb > 0.0)
            best = std::max(best, ab / std::sqrt(aa * bb));
    }
    return best;
}
