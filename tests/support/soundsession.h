#pragma once

#include "childprocess.h"

#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

// A private PulseAudio server for a test, in a temporary folder, with one null sink
// ("virtmic_sink") as the default output and a virtual microphone ("virtmic", a remap of
// the sink's monitor) as the default input. So play() feeds a file to the microphone, and
// recordWhile() captures whatever anyone plays: use one at a time.
//
// With Server::none no server runs, and clients pointed here find none (and never spawn
// one). Processes are stopped by stop() and the destructor, and die with the test.
class SoundSession final
{
public:
    enum class Server { pulseaudio, none };

    static constexpr int recordingRate = 16000;

    explicit SoundSession(Server server = Server::pulseaudio)
        : m_server(server)
    {}
    ~SoundSession() { stop(); }

    SoundSession(const SoundSession &) = delete;
    SoundSession &operator=(const SoundSession &) = delete;

    // Returns once the server answers with its sink and microphone in place; false, with
    // error() saying why, when it did not come up.
    bool start();
    void stop();
    QString error() const { return m_error; }

    // The variables a client needs to reach this server (and only this one).
    QProcessEnvironment environment() const;
    // Puts environment() into this process's own; do it before Qt Multimedia is first
    // used, since it connects to the server once.
    void enter() const { ChildProcess::enter(environment()); }

    // Runs pactl against this server; its standard output, exitCode -1 when it failed to run.
    QString pactl(const QStringList &arguments, int *exitCode = nullptr) const;
    // Plays a sound file into the sink and returns when it has been played, with the event
    // loop turning meanwhile.
    bool play(const QString &file);
    // What the sink plays, as 16 kHz mono float samples, while `action` runs and for
    // `afterMs` afterwards; empty when the recording did not start.
    QList<float> recordWhile(const std::function<void()> &action, int afterMs);

    // The samples of a WAVE file (a resource too) at 16 kHz mono, through SoX; empty when it
    // cannot be read.
    static QList<float> samplesOf(const QString &file);

    // The samples from the first to the last one louder than `threshold` (espeak-ng's pauses
    // and an idle sink are digital zeros), and their root mean square.
    struct Span
    {
        qsizetype first = -1;
        qsizetype last = -1;
        double rms = 0.0;
        qsizetype length() const { return first < 0 ? 0 : last - first + 1; }
        double seconds() const { return double(length()) / recordingRate; }
    };
    static Span loudSpan(const QList<float> &samples, float threshold = 0.01f);
    // How alike the loud spans of two recordings are: their best normalised correlation over
    // up to a second, aligned within 200 samples. 1 means the same waveform, two different
    // sounds come near 0.
    static double likeness(const QList<float> &heard, const QList<float> &original);

private:
    void prepare(QProcess &process) const;

    Server m_server;
    QTemporaryDir m_folder;
    QProcess m_daemon;
    QProcess m_pacemaker;
    QString m_error;
};
