#include "childprocess.h"
#include "core/dictation/audiorecorder.h"
#include "platform/audio/audioinputprobe.h"
#include "platform/audio/pulseaudiosource.h"
#include "soundsession.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <cmath>

namespace {

constexpr int rate = 16000;
// Anything quieter is silence: espeak-ng's pauses are digital zeros.
constexpr float speechThreshold = 0.02f;

bool makeFile(const QString &program, const QStringList &arguments)
{
    QProcess tool;
    ChildProcess::dieWithParent(tool);
    tool.setProcessChannelMode(QProcess::ForwardedChannels);
    tool.start(program, arguments);
    return tool.waitForFinished(30000) && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}

struct Span
{
    qsizetype first = -1;
    qsizetype last = -1;
    qsizetype length() const { return first < 0 ? 0 : last - first + 1; }
};

Span loudSpan(const QList<float> &samples)
{
    Span span;
    for (qsizetype i = 0; i < samples.size(); ++i) {
        if (std::abs(samples.at(i)) > speechThreshold) {
            if (span.first < 0)
                span.first = i;
            span.last = i;
        }
    }
    return span;
}

double rmsOf(const QList<float> &samples, qsizetype from, qsizetype count)
{
    double sum = 0.0;
    for (qsizetype i = from; i < from + count; ++i)
        sum += double(samples.at(i)) * double(samples.at(i));
    return std::sqrt(sum / double(count));
}

// The best normalised correlation of `count` samples of `a` from `fromA` against `b` from
// `fromB` shifted by up to ±maxLag: 1 means the same waveform.
double bestCorrelation(const QList<float> &a, qsizetype fromA, const QList<float> &b, qsizetype fromB,
                       qsizetype count, qsizetype maxLag)
{
    double best = -1.0;
    for (qsizetype lag = -maxLag; lag <= maxLag; ++lag) {
        const qsizetype startB = fromB + lag;
        if (startB < 0 || startB + count > b.size() || fromA + count > a.size())
            continue;
        double ab = 0.0;
        double aa = 0.0;
        double bb = 0.0;
        for (qsizetype i = 0; i < count; ++i) {
            const double x = a.at(fromA + i);
            const double y = b.at(startB + i);
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
        QVERIFY(m_files.isValid());
        QVERIFY2(m_session.start(), qPrintable(m_session.error()));
        m_session.enter();
        QVERIFY(makeFile(QStringLiteral("espeak-ng"),
                         {QStringLiteral("-w"), speechFile(),
                          QStringLiteral("Start dictation, then speak clearly into the microphone.")}));
        QVERIFY(makeFile(QStringLiteral("sox"), {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"),
                                                  QStringLiteral("-c"), QStringLiteral("1"), toneFile(),
                                                  QStringLiteral("synth"), QStringLiteral("1.5"),
                                                  QStringLiteral("sine"), QStringLiteral("440"),
                                                  QStringLiteral("gain"), QStringLiteral("-n"), QStringLiteral("-1")}));
    }

    void cleanupTestCase() { m_session.stop(); }

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
        QVERIFY2(frames.size() <= qsizetype((seconds + 0.05) * rate)
                     && frames.size() >= qsizetype((seconds - 0.4) * rate),
                 qPrintable(QStringLiteral("%1 samples in %2 s").arg(frames.size()).arg(seconds)));

        const QList<float> original = SoundSession::samplesOf(speechFile());
        QVERIFY(!original.isEmpty());
        const Span heard = loudSpan(frames);
        const Span spoken = loudSpan(original);
        QVERIFY2(heard.length() > 0, "nothing was heard");
        // The speech lasts as long as the file: time is neither stretched nor squeezed.
        QVERIFY2(std::abs(heard.length() - spoken.length()) < rate / 20,
                 qPrintable(QStringLiteral("heard %1 samples of speech, the file has %2")
                                .arg(heard.length())
                                .arg(spoken.length())));
        // Sample for sample the same waveform, at the same loudness.
        const qsizetype window = std::min<qsizetype>(rate, spoken.length());
        const double correlation = bestCorrelation(frames, heard.first, original, spoken.first, window, 200);
        QVERIFY2(correlation > 0.95, qPrintable(QStringLiteral("correlation %1").arg(correlation)));
        const double loudness
            = rmsOf(frames, heard.first, heard.length()) / rmsOf(original, spoken.first, spoken.length());
        QVERIFY2(loudness > 0.9 && loudness < 1.1, qPrintable(QStringLiteral("loudness ratio %1").arg(loudness)));

        // A level for every piece, delivered as it was heard.
        QVERIFY(levels.size() >= 10);
        float loudest = 0.0f;
        for (const QList<QVariant> &level : std::as_const(levels))
            loudest = std::max(loudest, level.at(0).toFloat());
        QVERIFY2(loudest > 0.3f, qPrintable(QString::number(loudest)));
    }

    void silenceGivesLevelZero()
    {
        PulseAudioSource source;
        AudioRecorder recorder(source);
        QSignalSpy levels(&recorder, &AudioRecorder::level);
        QCOMPARE(recorder.start(), std::nullopt);
        QTest::qWait(1000);
        const AudioFrames frames = recorder.stop();
        QTRY_VERIFY(levels.size() >= 5);
        for (const QList<QVariant> &level : std::as_const(levels))
            QCOMPARE(level.at(0).toFloat(), 0.0f);
        QVERIFY(frames.size() > rate / 2);
        QVERIFY(std::all_of(frames.cbegin(), frames.cend(), [](float sample) { return sample == 0.0f; }));
    }

    void loudToneGivesFullLevel()
    {
        PulseAudioSource source;
        AudioRecorder recorder(source);
        QSignalSpy levels(&recorder, &AudioRecorder::level);
        QCOMPARE(recorder.start(), std::nullopt);
        QVERIFY(m_session.play(toneFile()));
        recorder.stop();
        QTRY_VERIFY(!levels.isEmpty());
        qsizetype full = 0;
        for (const QList<QVariant> &level : std::as_const(levels)) {
            const float value = level.at(0).toFloat();
            QVERIFY(value >= 0.0f && value <= 1.0f);
            if (value == 1.0f)
                ++full;
        }
        // The tone's loudness times 18 is far above 1: exactly 1, for most of its length.
        QVERIFY2(full >= 10, qPrintable(QStringLiteral("%1 of %2 levels at 1").arg(full).arg(levels.size())));
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

    void nextRecordingStartsEmpty()
    {
        PulseAudioSource source;
        AudioRecorder recorder(source);
        QCOMPARE(recorder.start(), std::nullopt);
        QVERIFY(m_session.play(toneFile()));
        const AudioFrames first = recorder.stop();
        QVERIFY(loudSpan(first).length() > rate);

        QCOMPARE(recorder.start(), std::nullopt);
        QTest::qWait(500);
        const AudioFrames second = recorder.stop();
        QVERIFY(!second.isEmpty());
        QCOMPARE(loudSpan(second).length(), 0);
        QVERIFY(loudSpan(first).length() > rate); // the caller's copy is untouched
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
        const AudioFrames frames = recorder.stop();
        QVERIFY2(frames.size() >= rate / 3, qPrintable(QString::number(frames.size())));

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

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    TestMicrophone test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_microphone.moc"
