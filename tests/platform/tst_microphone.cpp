// The microphone through a private PulseAudio server whose virtual microphone hears what
// the test plays: speech comes out as it went in, a busy main thread loses nothing, and a
// microphone or sound server that goes away ends the recording without losing what was heard.
#include "childprocess.h"
#include "core/dictation/audiorecorder.h"
#include "platform/audio/audioinputprobe.h"
#include "platform/audio/pulseaudiosource.h"
#include "soundsession.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cmath>

namespace {

constexpr int rate = SoundSession::recordingRate;

// Anything quieter is silence: espeak-ng's pauses are digital zeros.
SoundSession::Span loudSpan(const QList<float> &samples)
{
    return SoundSession::loudSpan(samples, 0.02f);
}

double rmsOf(const QList<float> &samples, const SoundSession::Span &span)
{
    double sum = 0.0;
    for (qsizetype i = span.first; i <= span.last; ++i)
        sum += double(samples.at(i)) * double(samples.at(i));
    return std::sqrt(sum / double(span.length()));
}

// The best normalised correlation of `count` samples of `a` from `fromA` against `b` from
// `fromB` shifted by up to ±maxLag: 1 means the same waveform.
double bestCorrelation(const QList<float> &a, qsizetype fromA, const QList<float> &b, qsizetype fromB,
                       qsizetype count, qsizetype maxLag)
{
    double best = -1.0;
    for (qsizetype lag = -maxLag; lag <= maxLag; ++lag) {
        if (fromB + lag < 0 || fromB + lag + count > b.size() || fromA + count > a.size())
            continue;
        double ab = 0.0, aa = 0.0, bb = 0.0;
        for (qsizetype i = 0; i < count; ++i) {
            const double x = a.at(fromA + i);
            const double y = b.at(fromB + lag + i);
            ab += x * y;
            aa += x * x;
            bb += y * y;
        }
        if (aa > 0.0 && bb > 0.0)
            best = std::max(best, ab / std::sqrt(aa * bb));
    }
    return best;
}

} // namespace

class TestMicrophone final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_session.start(), qPrintable(m_session.error()));
        m_session.enter();
        int espeak = -1;
        int sox = -1;
        ChildProcess::run(QStringLiteral("espeak-ng"),
                          {QStringLiteral("-w"), speechFile(),
                           QStringLiteral("Start dictation, then speak clearly into the microphone.")},
                          &espeak);
        ChildProcess::run(QStringLiteral("sox"),
                          {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"), QStringLiteral("-c"),
                           QStringLiteral("1"), toneFile(), QStringLiteral("synth"), QStringLiteral("1.5"),
                           QStringLiteral("sine"), QStringLiteral("440")},
                          &sox);
        QVERIFY(espeak == 0 && sox == 0);
    }

    void speechComesOutAsItWentIn()
    {
        PulseAudioSource source;
        AudioRecorder recorder(source);
        QSignalSpy levels(&recorder, &AudioRecorder::level);
        QCOMPARE(recorder.start(), std::nullopt);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(m_session.play(speechFile()));
        QTest::qWait(300);
        const AudioFrames frames = recorder.stop();
        const double seconds = double(clock.elapsed()) / 1000.0;

        // 16 000 samples for every second recorded, less what the server still buffered.
        QVERIFY2(frames.size() <= qsizetype((seconds + 0.05) * rate) && frames.size() >= qsizetype((seconds - 0.4) * rate),
                 qPrintable(QStringLiteral("%1 samples in %2 s").arg(frames.size()).arg(seconds)));
        const QList<float> original = SoundSession::samplesOf(speechFile());
        const SoundSession::Span heard = loudSpan(frames);
        const SoundSession::Span spoken = loudSpan(original);
        QVERIFY2(heard.length() > 0 && spoken.length() > 0, "nothing was heard");
        // The speech lasts as long as the file: time is neither stretched nor squeezed.
        QVERIFY2(std::abs(heard.length() - spoken.length()) < rate / 20,
                 qPrintable(QStringLiteral("heard %1 samples of speech, the file has %2").arg(heard.length()).arg(spoken.length())));
        // Sample for sample the same waveform, at the same loudness.
        const double correlation = bestCorrelation(frames, heard.first, original, spoken.first,
                                                   std::min<qsizetype>(rate, spoken.length()), 200);
        QVERIFY2(correlation > 0.95, qPrintable(QStringLiteral("correlation %1").arg(correlation)));
        const double loudness = rmsOf(frames, heard) / rmsOf(original, spoken);
        QVERIFY2(loudness > 0.9 && loudness < 1.1, qPrintable(QStringLiteral("loudness ratio %1").arg(loudness)));
        // A level for every piece, delivered as it was heard.
        QVERIFY(levels.size() >= 10);
        float loudest = 0.0f;
        for (const QList<QVariant> &level : std::as_const(levels))
            loudest = std::max(loudest, level.at(0).toFloat());
        QVERIFY2(loudest > 0.3f, qPrintable(QString::number(loudest)));
    }

    void busyMainThreadLosesNothing()
    {
        PulseAudioSource source;
        AudioRecorder recorder(source);
        QCOMPARE(recorder.start(), std::nullopt);
        // The main thread does not turn its event loop while recording.
        QThread::msleep(1500);
        const AudioFrames frames = recorder.stop();
        QVERIFY2(frames.size() >= qsizetype(1.3 * rate), qPrintable(QString::number(frames.size())));
    }

    void microphoneUnpluggedWhileRecording()
    {
        PulseAudioSource source;
        AudioRecorder recorder(source);
        QCOMPARE(recorder.start(), std::nullopt);
        QTest::qWait(600);
        int code = -1;
        m_session.pactl({QStringLiteral("unload-module"), QStringLiteral("module-remap-source")}, &code);
        QCOMPARE(code, 0);
        QTest::qWait(300);
        // What was heard before the microphone went away is kept.
        QVERIFY2(recorder.stop().size() >= rate / 3, "the recording was lost");

        // Plugged in again: the next recording hears it.
        m_session.pactl({QStringLiteral("load-module"), QStringLiteral("module-remap-source"),
                         QStringLiteral("master=virtmic_sink.monitor"), QStringLiteral("source_name=virtmic")},
                        &code);
        QCOMPARE(code, 0);
        m_session.pactl({QStringLiteral("set-default-source"), QStringLiteral("virtmic")}, &code);
        QCOMPARE(code, 0);
        QCOMPARE(recorder.start(), std::nullopt);
        QVERIFY(m_session.play(toneFile()));
        QVERIFY(loudSpan(recorder.stop()).length() > rate);
    }

    // Sound servers restart, and at login one may come up after Murmel: every start
    // connects afresh, a lost server ends the recording, and the probe follows it.
    void soundServerGoesAndComesBack()
    {
        PulseAudioSource source;
        AudioRecorder recorder(source);
        QSignalSpy lost(&recorder, &AudioRecorder::lost);
        QVERIFY(AudioInputProbe::hasInput());
        QCOMPARE(recorder.start(), std::nullopt);
        QTest::qWait(500);
        m_session.stop();
        QVERIFY(lost.wait(5000));
        QVERIFY2(lost.first().first().toString().startsWith(QStringLiteral("The microphone stopped: the sound server went away")),
                 qPrintable(lost.first().first().toString()));
        QVERIFY(recorder.stop().size() >= rate / 4); // what was heard is kept

        QVERIFY(!AudioInputProbe::hasInput());
        for (int attempt = 0; attempt < 2; ++attempt) {
            QCOMPARE(recorder.start(),
                     std::optional<QString>(QStringLiteral("No microphone is available: the sound server is not running.")));
            QVERIFY(!recorder.isRecording());
        }
        QVERIFY2(m_session.start(), qPrintable(m_session.error()));
        QVERIFY(AudioInputProbe::hasInput());
        QCOMPARE(recorder.start(), std::nullopt);
        QVERIFY(m_session.play(toneFile()));
        QVERIFY(loudSpan(recorder.stop()).length() > rate);
        QCOMPARE(lost.size(), 1);
    }

private:
    QString speechFile() const { return m_files.filePath(QStringLiteral("speech.wav")); }
    QString toneFile() const { return m_files.filePath(QStringLiteral("tone.wav")); }

    QTemporaryDir m_files;
    SoundSession m_session;
};

QTEST_GUILESS_MAIN(TestMicrophone)
#include "tst_microphone.moc"
