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

using namespace Qt::StringLiterals;

constexpr int rate = SoundSession::recordingRate;

class TestMicrophone final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_session.start(), qPrintable(m_session.error()));
        m_session.enter();
        int code = -1;
        ChildProcess::run(u"espeak-ng"_s, {u"-w"_s, speechFile(), u"Start dictation, then speak clearly into the microphone."_s},
                          &code);
        QCOMPARE(code, 0);
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
        // The main thread does not turn its event loop for the last second: nothing is lost.
        QThread::msleep(1000);
        const AudioFrames frames = recorder.stop();
        const double seconds = double(clock.elapsed()) / 1000.0;

        // 16 000 samples for every second recorded, less what the server still buffered.
        QVERIFY2(frames.size() <= qsizetype((seconds + 0.05) * rate) && frames.size() >= qsizetype((seconds - 0.4) * rate),
                 qPrintable(u"%1 samples in %2 s"_s.arg(frames.size()).arg(seconds)));
        const QList<float> original = SoundSession::samplesOf(speechFile());
        const SoundSession::Span heard = SoundSession::loudSpan(frames);
        const SoundSession::Span spoken = SoundSession::loudSpan(original);
        // The speech lasts as long as the file (time is neither stretched nor squeezed), and
        // is sample for sample the same waveform at the same loudness.
        const double loudness = heard.rms / spoken.rms;
        const double likeness = SoundSession::likeness(frames, original);
        QVERIFY2(std::abs(heard.seconds() - spoken.seconds()) < 0.05 && likeness > 0.95 && loudness > 0.9
                     && loudness < 1.1,
                 qPrintable(u"heard %1 s of %2 s of speech, %3 times as loud, likeness %4"_s.arg(heard.seconds())
                                .arg(spoken.seconds())
                                .arg(loudness)
                                .arg(likeness)));
        // A level for every piece, delivered as it was heard.
        QVERIFY(levels.size() >= 10);
        float loudest = 0.0f;
        for (const QList<QVariant> &level : std::as_const(levels))
            loudest = std::max(loudest, level.at(0).toFloat());
        QVERIFY2(loudest > 0.3f, qPrintable(QString::number(loudest)));
    }

    // Unplugged, or the whole sound server gone (servers restart, and at login one may come
    // up after Murmel): what was heard is kept, and once it is back the next start hears it.
    void microphoneGoesAndComesBack()
    {
        PulseAudioSource source;
        AudioRecorder recorder(source);
        QCOMPARE(recorder.start(), std::nullopt);
        QTest::qWait(600);
        pactl({u"unload-module"_s, u"module-remap-source"_s});
        QTest::qWait(300);
        QVERIFY2(recorder.stop().size() >= rate / 3, "the recording was lost");
        pactl({u"load-module"_s, u"module-remap-source"_s, u"master=virtmic_sink.monitor"_s, u"source_name=virtmic"_s});
        pactl({u"set-default-source"_s, u"virtmic"_s});
        hearsSpeech(recorder);

        // A lost server ends the recording, every start connects afresh, and the probe follows.
        QSignalSpy lost(&recorder, &AudioRecorder::lost);
        QVERIFY(AudioInputProbe::hasInput());
        QCOMPARE(recorder.start(), std::nullopt);
        QTest::qWait(500);
        m_session.stop();
        QVERIFY(lost.wait(5000));
        const QString reason = lost.first().first().toString();
        QVERIFY2(reason.startsWith(u"The microphone stopped: the sound server went away"_s), qPrintable(reason));
        QVERIFY(recorder.stop().size() >= rate / 4);
        QVERIFY(!AudioInputProbe::hasInput());
        for (int attempt = 0; attempt < 2; ++attempt) {
            QCOMPARE(recorder.start(), std::optional(u"No microphone is available: the sound server is not running."_s));
            QVERIFY(!recorder.isRecording());
        }
        QVERIFY2(m_session.start(), qPrintable(m_session.error()));
        QVERIFY(AudioInputProbe::hasInput());
        hearsSpeech(recorder);
        QCOMPARE(lost.size(), 1);
    }

private:
    QString speechFile() const { return m_files.filePath(u"speech.wav"_s); }

    void pactl(const QStringList &arguments)
    {
        int code = -1;
        m_session.pactl(arguments, &code);
        QCOMPARE(code, 0);
    }

    void hearsSpeech(AudioRecorder &recorder)
    {
        QCOMPARE(recorder.start(), std::nullopt);
        QVERIFY(m_session.play(speechFile()));
        QVERIFY(SoundSession::loudSpan(recorder.stop()).length() > rate);
    }

    QTemporaryDir m_files;
    SoundSession m_session;
};

QTEST_GUILESS_MAIN(TestMicrophone)
#include "tst_microphone.moc"
