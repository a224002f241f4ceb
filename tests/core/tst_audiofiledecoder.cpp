#include "core/transcripts/audiofiledecoder.h"

#include <QCoroTask>
#include <QDataStream>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using namespace Qt::StringLiterals;

// Decodes files that the tests make with ffmpeg, sox and espeak-ng.
class TestAudioFileDecoder final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString path(const QString &name) const { return m_dir.path() + u'/' + name; }

    static void run(const QString &program, const QStringList &arguments)
    {
        QProcess process;
        process.start(program, arguments);
        QVERIFY2(process.waitForFinished(60000), qPrintable(program + u" did not finish"_s));
        QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0,
                 qPrintable(program + u": "_s + QString::fromLocal8Bit(process.readAllStandardError())));
    }

    // ffmpeg -y -loglevel error with the given inputs and output options.
    static void ffmpeg(const QStringList &arguments)
    {
        run(u"ffmpeg"_s, QStringList{u"-y"_s, u"-loglevel"_s, u"error"_s} + arguments);
    }

    static QStringList tone(double seconds, int rate = 16000)
    {
        return {u"-f"_s, u"lavfi"_s, u"-i"_s,
                u"sine=frequency=440:sample_rate=%1:duration=%2"_s.arg(rate).arg(seconds)};
    }

    static QString failure(const DecodeResult &result)
    {
        const auto *error = std::get_if<AudioDecodeError>(&result);
        return error ? error->description() : QString();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        ffmpeg(tone(2.0) + QStringList{path(u"tone.wav"_s)});
        ffmpeg(tone(3.0, 44100) + QStringList{u"-c:a"_s, u"libmp3lame"_s, path(u"tone.mp3"_s)});
        ffmpeg(tone(3.0, 44100) + QStringList{u"-c:a"_s, u"aac"_s, path(u"tone.m4a"_s)});
        ffmpeg(tone(3.0, 48000) + QStringList{u"-c:a"_s, u"libopus"_s, path(u"tone.opus"_s)});
        ffmpeg(tone(3.0, 44100) + QStringList{u"-ac"_s, u"2"_s, path(u"stereo.wav"_s)});
        ffmpeg({u"-f"_s, u"lavfi"_s, u"-i"_s, u"testsrc=size=64x64:rate=10:duration=2"_s,
                u"-f"_s, u"lavfi"_s, u"-i"_s, u"sine=frequency=300:sample_rate=44100:duration=2"_s,
                u"-c:v"_s, u"mpeg4"_s, u"-c:a"_s, u"aac"_s, u"-shortest"_s, path(u"video.mp4"_s)});
        ffmpeg({u"-f"_s, u"lavfi"_s, u"-i"_s, u"testsrc=size=64x64:rate=10:duration=2"_s,
                u"-c:v"_s, u"mpeg4"_s, path(u"silent.mp4"_s)});
        run(u"sox"_s, {u"-n"_s, u"-r"_s, u"8000"_s, u"-c"_s, u"1"_s, path(u"sox.wav"_s),
                        u"synth"_s, u"1.5"_s, u"sine"_s, u"300"_s});
        run(u"espeak-ng"_s, {u"-w"_s, path(u"speech.wav"_s), u"Hello from the test suite."_s});
        ffmpeg({u"-f"_s, u"lavfi"_s, u"-i"_s, u"anullsrc=r=16000:cl=mono"_s, u"-t"_s, u"1"_s,
                path(u"silence.wav"_s)});
    }

    void decodesEveryFormat_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<double>("seconds");
        QTest::newRow("wav") << u"tone.wav"_s << 2.0;
        QTest::newRow("mp3") << u"tone.mp3"_s << 3.0;
        QTest::newRow("m4a") << u"tone.m4a"_s << 3.0;
        QTest::newRow("opus") << u"tone.opus"_s << 3.0;
        QTest::newRow("stereo 44.1 kHz") << u"stereo.wav"_s << 3.0;
        QTest::newRow("video with sound") << u"video.mp4"_s << 2.0;
        QTest::newRow("sox 8 kHz") << u"sox.wav"_s << 1.5;
        QTest::newRow("speech") << u"speech.wav"_s << -1.0;
    }

    void decodesEveryFormat()
    {
        QFETCH(QString, file);
        QFETCH(double, seconds);
        const DecodeResult result = AudioFileDecoder::decodeNow(path(file), 240);
        QVERIFY2(std::holds_alternative<DecodedAudio>(result), qPrintable(failure(result)));
        const DecodedAudio &audio = std::get<DecodedAudio>(result);
        if (seconds > 0) // encoders pad a little
            QVERIFY2(std::abs(audio.duration - seconds) < 0.1, qPrintable(QString::number(audio.duration)));
        QVERIFY2(std::abs(audio.samples.size() - audio.duration * 16000) < 0.1 * 16000,
                 qPrintable(QString::number(audio.samples.size())));

        // The ffmpeg command, asked for the same format, is the reference.
        QProcess reference;
        reference.start(u"ffmpeg"_s, {u"-loglevel"_s, u"error"_s, u"-i"_s, path(file), u"-map"_s, u"0:a:0"_s,
                                       u"-ar"_s, u"16000"_s, u"-ac"_s, u"1"_s, u"-f"_s, u"f32le"_s, u"-"_s});
        QVERIFY(reference.waitForFinished(60000));
        const QByteArray bytes = reference.readAllStandardOutput();
        const auto *expected = reinterpret_cast<const float *>(bytes.constData());
        const qsizetype expectedCount = bytes.size() / qsizetype(sizeof(float));
        QVERIFY2(std::abs(audio.samples.size() - expectedCount) <= 16,
                 qPrintable(u"%1 samples, ffmpeg %2"_s.arg(audio.samples.size()).arg(expectedCount)));
        double worst = 0.0;
        for (qsizetype i = 0; i < std::min(expectedCount, audio.samples.size()); ++i)
            worst = std::max(worst, double(std::abs(audio.samples.at(i) - expected[i])));
        QVERIFY2(worst < 1e-3, qPrintable(QString::number(worst)));
        QVERIFY(audio.envelope.size() >= 240 && audio.envelope.size() <= 245);
        QCOMPARE(*std::max_element(audio.envelope.begin(), audio.envelope.end()), 1.0f);
    }

    void failures_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("video without sound") << u"silent.mp4"_s << int(AudioDecodeError::noAudioTrack)
                                             << u"That file has no audio to transcribe."_s;
        QTest::newRow("random bytes") << u"random.bin"_s << int(AudioDecodeError::readFailed)
                                      << u"Could not read the audio from that file."_s;
        QTest::newRow("empty file") << u"empty.wav"_s << int(AudioDecodeError::readFailed)
                                    << u"Could not read the audio from that file."_s;
        QTest::newRow("truncated mp4") << u"cut.mp4"_s << int(AudioDecodeError::readFailed)
                                       << u"Could not read the audio from that file."_s;
        QTest::newRow("missing file") << u"missing.wav"_s << int(AudioDecodeError::openFailed)
                                      << u"No such file or directory"_s;
    }

    void failures()
    {
        QFETCH(QString, file);
        QFETCH(int, kind);
        QFETCH(QString, message);
        {
            QFile random(path(u"random.bin"_s));
            QVERIFY(random.open(QIODevice::WriteOnly));
            QByteArray bytes(64 * 1024, Qt::Uninitialized);
            QRandomGenerator generator(7);
            for (char &byte : bytes)
                byte = static_cast<char>(generator.generate());
            random.write(bytes);
            QFile empty(path(u"empty.wav"_s));
            QVERIFY(empty.open(QIODevice::WriteOnly));
            QFile video(path(u"video.mp4"_s));
            QVERIFY(video.open(QIODevice::ReadOnly));
            QFile cut(path(u"cut.mp4"_s));
            QVERIFY(cut.open(QIODevice::WriteOnly));
            cut.write(video.read(video.size() / 2));
        }
        const DecodeResult result = AudioFileDecoder::decodeNow(path(file), 240);
        const auto *error = std::get_if<AudioDecodeError>(&result);
        QVERIFY(error);
        QCOMPARE(int(error->kind()), kind);
        QCOMPARE(error->description(), message);
    }

    // One second of 32-bit float samples, among them NaN, infinities and 1e30, under a
    // header that claims some nine hours, and a FLAC file that claims fifty days: what a
    // broken recorder or a hostile file gives.
    void brokenFilesGiveSaneAudio()
    {
        QByteArray samples;
        QDataStream stream(&samples, QIODevice::WriteOnly);
        stream.setByteOrder(QDataStream::LittleEndian);
        stream.setFloatingPointPrecision(QDataStream::SinglePrecision);
        const float wild[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(), 1e30f, -1e30f, 0.25f};
        for (int i = 0; i < 16000; ++i)
            stream << wild[i % 6];
        QByteArray header;
        QDataStream head(&header, QIODevice::WriteOnly);
        head.setByteOrder(QDataStream::LittleEndian);
        const quint32 claimed = 0x7ffffff0;
        head.writeRawData("RIFF", 4);
        head << quint32(claimed + 36);
        head.writeRawData("WAVEfmt ", 8);
        head << quint32(16) << quint16(3) << quint16(1) << quint32(16000) << quint32(64000) << quint16(4) << quint16(32);
        head.writeRawData("data", 4);
        head << claimed;
        QFile file(path(u"broken.wav"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(header + samples);
        file.close();

        const DecodeResult result = AudioFileDecoder::decodeNow(path(u"broken.wav"_s), 240);
        QVERIFY2(std::holds_alternative<DecodedAudio>(result), qPrintable(failure(result)));
        const DecodedAudio &audio = std::get<DecodedAudio>(result);
        QVERIFY2(std::abs(audio.samples.size() - 16000) < 400, qPrintable(QString::number(audio.samples.size())));
        QVERIFY2(std::abs(audio.duration - 1.0) < 0.05, qPrintable(QString::number(audio.duration)));
        QVERIFY(std::all_of(audio.samples.begin(), audio.samples.end(),
                            [](float sample) { return sample >= -1.0f && sample <= 1.0f; }));
        QVERIFY(std::all_of(audio.envelope.begin(), audio.envelope.end(),
                            [](float peak) { return peak >= 0.0f && peak <= 1.0f; }));

        // A FLAC header whose sample count says some fifty days.
        ffmpeg(tone(1.0) + QStringList{u"-c:a"_s, u"flac"_s, path(u"lie.flac"_s)});
        QFile flac(path(u"lie.flac"_s));
        QVERIFY(flac.open(QIODevice::ReadWrite));
        QByteArray bytes = flac.readAll();
        bytes[21] = char(bytes[21] | 0x0f);
        bytes.replace(22, 4, QByteArray(4, char(0xff)));
        QVERIFY(flac.seek(0));
        flac.write(bytes);
        flac.close();
        const DecodeResult flacResult = AudioFileDecoder::decodeNow(path(u"lie.flac"_s), 240);
        QVERIFY2(std::holds_alternative<DecodedAudio>(flacResult), qPrintable(failure(flacResult)));
        QVERIFY2(std::abs(std::get<DecodedAudio>(flacResult).duration - 1.0) < 0.05,
                 qPrintable(QString::number(std::get<DecodedAudio>(flacResult).duration)));
    }

    void silenceHasAnAllZeroEnvelope()
    {
        const DecodeResult result = AudioFileDecoder::decodeNow(path(u"silence.wav"_s), 240);
        QVERIFY2(std::holds_alternative<DecodedAudio>(result), qPrintable(failure(result)));
        const DecodedAudio &audio = std::get<DecodedAudio>(result);
        QCOMPARE(audio.samples.size(), 16000);
        // Windows of 16000 / 240 = 66 samples: 243 of them, all silent.
        QCOMPARE(audio.envelope, QList<float>(243, 0.0f));
    }

    void envelope_data()
    {
        QTest::addColumn<QList<float>>("samples");
        QTest::addColumn<int>("buckets");
        QTest::addColumn<QList<float>>("expected");
        QTest::newRow("no samples") << QList<float>() << 240 << QList<float>();
        QTest::newRow("no buckets") << QList<float>{0.5f} << 0 << QList<float>();
        QTest::newRow("ten samples, three buckets")
            << QList<float>{0.1f, -0.4f, 0.2f, 0.0f, 0.2f, 0.1f, -0.8f, 0.0f, 0.0f, 0.4f} << 3
            << QList<float>{0.5f, 0.25f, 1.0f, 0.5f};
        QTest::newRow("more buckets than samples") << QList<float>{0.25f, -0.5f} << 5 << QList<float>{0.5f, 1.0f};
        QTest::newRow("silence") << QList<float>(6, 0.0f) << 3 << QList<float>(3, 0.0f);
        QTest::newRow("negative peaks count") << QList<float>{-0.5f, -0.25f} << 2 << QList<float>{1.0f, 0.5f};
    }

    void envelope()
    {
        QFETCH(QList<float>, samples);
        QFETCH(int, buckets);
        QFETCH(QList<float>, expected);
        QCOMPARE(AudioFileDecoder::makeEnvelope(samples, buckets), expected);
    }

    void envelopeOfHalfAMinute()
    {
        AudioFrames samples(480000);
        for (qsizetype i = 0; i < samples.size(); ++i)
            samples[i] = static_cast<float>(std::sin(i * 0.001) * (i % 1000) / 1000.0);
        const QList<float> envelope = AudioFileDecoder::makeEnvelope(samples, 240);
        QCOMPARE(envelope.size(), 240);
        QCOMPARE(*std::max_element(envelope.begin(), envelope.end()), 1.0f);
    }
};

QTEST_GUILESS_MAIN(TestAudioFileDecoder)
#include "tst_audiofiledecoder.moc"
