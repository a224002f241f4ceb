#include "core/dictation/audiorecorder.h"
#include "fakes/fakeaudiosource.h"

#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <cmath>
#include <memory>

namespace {

QList<float> constant(qsizetype count, float value)
{
    return QList<float>(count, value);
}

QList<float> sine(qsizetype count, float amplitude)
{
    QList<float> samples(count);
    for (qsizetype i = 0; i < count; ++i)
        samples[i] = amplitude * float(std::sin(2.0 * M_PI * 440.0 * double(i) / 16000.0));
    return samples;
}

// Piece n of the tearing check: its length varies, from one sample to some 64 000, and
// every sample holds n + 1, so that a piece caught half-written shows up as zeros.
qsizetype pieceLength(qsizetype n)
{
    return 1 + (n * 37) % 251 * 256;
}

} // namespace

class TestAudioRecorder final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void level_data()
    {
        QTest::addColumn<QList<float>>("piece");
        QTest::addColumn<float>("expected");
        // 18 × the root mean square, capped at 1.
        QTest::newRow("silence") << constant(1600, 0.0f) << 0.0f;
        QTest::newRow("no samples") << QList<float>() << 0.0f;
        QTest::newRow("quiet hum") << constant(1600, 0.01f) << 0.18f;
        QTest::newRow("negative samples count like positive ones") << constant(1600, -0.01f) << 0.18f;
        QTest::newRow("speech-level sine") << sine(16000, 0.03f) << float(0.03 / std::sqrt(2.0) * 18.0);
        QTest::newRow("just below the cap") << constant(512, 0.055f) << 0.99f;
        QTest::newRow("loud sine") << sine(16000, 0.9f) << 1.0f;
        QTest::newRow("full scale") << constant(4096, 1.0f) << 1.0f;
        QTest::newRow("one loud sample") << QList<float>{0.5f} << 1.0f;
    }

    void level()
    {
        QFETCH(QList<float>, piece);
        QFETCH(float, expected);
        const float level = AudioRecorder::levelOf(piece.constData(), piece.size());
        if (expected == 0.0f || expected == 1.0f)
            QCOMPARE(level, expected); // exactly, not nearly
        else
            QVERIFY2(std::abs(level - expected) < 1e-4f, qPrintable(QString::number(level)));
    }

    void framesAreThePiecesInOrder()
    {
        FakeAudioSource source;
        AudioRecorder recorder(source);
        QSignalSpy levels(&recorder, &AudioRecorder::level);

        QCOMPARE(recorder.start(), std::nullopt);
        QVERIFY(recorder.isRecording());
        QVERIFY(source.deliver({0.0f, 0.1f, 0.2f}));
        QVERIFY(source.deliver({}));
        QVERIFY(source.deliver({0.3f, 0.4f}));
        QVERIFY(source.deliver({0.5f, 0.6f, 0.7f, 0.8f, 0.9f}));
        const AudioFrames frames = recorder.stop();
        QVERIFY(!recorder.isRecording());
        QVERIFY(!source.isRunning());

        QCOMPARE(frames, (AudioFrames{0.0f, 0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f, 0.9f}));
        // One level per piece that had samples; the empty one reports nothing.
        QTRY_COMPARE(levels.size(), 3);
        // Nothing arrives after stop.
        QVERIFY(!source.deliver({1.0f}));
        QCOMPARE(recorder.stop(), frames);
    }

    void levelsArriveOnTheRecordersThreadInOrder()
    {
        FakeAudioSource source;
        AudioRecorder recorder(source);
        QList<float> received;
        QList<QThread *> threads;
        connect(&recorder, &AudioRecorder::level, this, [&](float value) {
            received.append(value);
            threads.append(QThread::currentThread());
        }, Qt::DirectConnection);

        QCOMPARE(recorder.start(), std::nullopt);
        // Pieces whose levels step 0, 0.09, 0.18, … 0.81 and over again.
        source.startStreaming([](qsizetype n) { return constant(160, float(n % 10) * 0.005f); });
        QTRY_VERIFY(received.size() >= 50);
        recorder.stop();
        QVERIFY(source.delivered() >= received.size());

        for (qsizetype n = 0; n < received.size(); ++n) {
            QCOMPARE(threads.at(n), QThread::currentThread());
            QVERIFY2(std::abs(received.at(n) - float(n % 10) * 0.09f) < 1e-5f,
                     qPrintable(QStringLiteral("piece %1 gave %2").arg(n).arg(received.at(n))));
        }
    }

    void secondRecordingDiscardsTheFirst()
    {
        FakeAudioSource source;
        AudioRecorder recorder(source);

        QCOMPARE(recorder.start(), std::nullopt);
        QVERIFY(source.deliver({0.1f, 0.2f}));
        const AudioFrames first = recorder.stop();

        QCOMPARE(recorder.start(), std::nullopt);
        QVERIFY(source.deliver({0.3f}));
        const AudioFrames second = recorder.stop();

        QCOMPARE(second, AudioFrames{0.3f});
        // The first recording handed out earlier is the caller's and stays as it was.
        QCOMPARE(first, (AudioFrames{0.1f, 0.2f}));
    }

    void startWhileRecordingBeginsAfresh()
    {
        FakeAudioSource source;
        AudioRecorder recorder(source);

        QCOMPARE(recorder.start(), std::nullopt);
        QVERIFY(source.deliver({0.1f, 0.2f}));
        QCOMPARE(recorder.start(), std::nullopt);
        QCOMPARE(source.startCalls, 2);
        QCOMPARE(source.stopCalls, 1); // the first capture was ended before the second began
        QVERIFY(source.deliver({0.3f}));
        QCOMPARE(recorder.stop(), AudioFrames{0.3f});
    }

    void stopRightAfterStartGivesNothing()
    {
        FakeAudioSource source;
        AudioRecorder recorder(source);
        QVERIFY(recorder.stop().isEmpty()); // never started
        QCOMPARE(source.stopCalls, 0);
        QCOMPARE(recorder.start(), std::nullopt);
        QVERIFY(recorder.stop().isEmpty());
    }

    void failedStartLeavesNothingHalfStarted()
    {
        FakeAudioSource source;
        AudioRecorder recorder(source);
        QCOMPARE(recorder.start(), std::nullopt);
        QVERIFY(source.deliver({0.5f}));
        recorder.stop();

        source.failWith = QStringLiteral("No microphone is available.");
        QCOMPARE(recorder.start(), std::optional<QString>(QStringLiteral("No microphone is available.")));
        QVERIFY(!recorder.isRecording());
        QVERIFY(!source.isRunning());
        // The previous recording is gone even though this one never began.
        QVERIFY(recorder.stop().isEmpty());
        const int stopsSoFar = source.stopCalls;

        source.failWith.reset();
        QCOMPARE(recorder.start(), std::nullopt);
        QCOMPARE(source.stopCalls, stopsSoFar); // nothing was left running to stop
        QVERIFY(source.deliver({0.25f, 0.75f}));
        QCOMPARE(recorder.stop(), (AudioFrames{0.25f, 0.75f}));
    }

    void stopNeverCopiesHalfAPiece()
    {
        FakeAudioSource source;
        // Pieces keep arriving while stop() copies, so only the recorder's lock keeps each
        // piece whole in the copy.
        source.stopLeavesStreaming = true;
        AudioRecorder recorder(source);
        for (int round = 0; round < 100; ++round) {
            QCOMPARE(recorder.start(), std::nullopt);
            source.startStreaming([](qsizetype n) { return constant(pieceLength(n), float(n + 1)); });
            const qsizetype wanted = 1 + round % 20;
            QDeadlineTimer deadline(5000);
            while (source.delivered() < wanted && !deadline.hasExpired())
                QThread::yieldCurrentThread();
            QVERIFY(source.delivered() >= wanted);
            // Not right at a piece boundary, which is where the count just changed.
            QThread::usleep(round % 7 * 40);
            const AudioFrames frames = recorder.stop();
            source.stopStreaming();

            qsizetype at = 0;
            for (qsizetype n = 0; at < frames.size(); ++n) {
                const qsizetype length = pieceLength(n);
                QVERIFY2(at + length <= frames.size(),
                         qPrintable(QStringLiteral("round %1: piece %2 cut short").arg(round).arg(n)));
                for (qsizetype i = 0; i < length; ++i)
                    QCOMPARE(frames.at(at + i), float(n + 1));
                at += length;
            }
            QVERIFY(at >= 1);
        }
    }

    void destroyedRecorderIsNeverTouched()
    {
        FakeAudioSource source;
        auto recorder = std::make_unique<AudioRecorder>(source);
        QCOMPARE(recorder->start(), std::nullopt);
        source.startStreaming([](qsizetype) { return constant(64, 0.5f); });
        QTRY_VERIFY(source.delivered() >= 20);
        // Destroyed while recording, with levels still queued for it: the capture ends
        // first and the queued levels die with it (AddressSanitizer builds check the rest).
        recorder.reset();
        QVERIFY(!source.isRunning());
        QTest::qWait(20);
    }
};

QTEST_GUILESS_MAIN(TestAudioRecorder)

#include "tst_audiorecorder.moc"
