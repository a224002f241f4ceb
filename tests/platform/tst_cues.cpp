#include "childprocess.h"
#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"
#include "core/hud/sounds.h"
#include "core/hud/voice.h"
#include "fakes/fakesoundplayer.h"
#include "fakes/fakespeechsynthesizer.h"
#include "platform/audio/espeaksynthesizer.h"
#include "platform/audio/qtsoundplayer.h"
#include "soundsession.h"
#include "testenvironment.h"

#include <QDataStream>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Set in the child processes that run without a sound server or without espeak-ng's data.
constexpr char crippledVariable[] = "MURMEL_TEST_CUES_CRIPPLED";
constexpr int rate = SoundSession::recordingRate;
constexpr float heardThreshold = 0.01f;
const QString longPhrase = QStringLiteral(
    "This is a rather long sentence that the robotic voice would need many seconds to say, "
    "unless something cuts it off before it reaches its very last word.");

struct Span
{
    qsizetype first = -1;
    qsizetype last = -1;
    qsizetype length() const { return first < 0 ? 0 : last - first + 1; }
    double seconds() const { return double(length()) / rate; }
};

Span loudSpan(const QList<float> &samples, float threshold = heardThreshold)
{
    Span span;
    for (qsizetype i = 0; i < samples.size(); ++i) {
        if (std::abs(samples.at(i)) > threshold) {
            if (span.first < 0)
                span.first = i;
            span.last = i;
        }
    }
    return span;
}

QList<float> part(const QList<float> &samples, const Span &span)
{
    return span.length() > 0 ? samples.mid(span.first, span.length()) : QList<float>();
}

// Power in 24 bands spaced evenly in pitch from 100 Hz to 7.5 kHz, scaled to unit length,
// so that two sounds compare by their colour, not their loudness.
QList<double> spectrum(const QList<float> &samples)
{
    constexpr int bands = 24;
    QList<double> power(bands, 0.0);
    const double low = 100.0;
    const double high = 7500.0;
    for (double frequency = low; frequency < high; frequency += 10.0) {
        double re = 0.0;
        double im = 0.0;
        for (qsizetype i = 0; i < samples.size(); ++i) {
            const double phase = 2.0 * M_PI * frequency * double(i) / rate;
            re += samples.at(i) * std::cos(phase);
            im += samples.at(i) * std::sin(phase);
        }
        const auto band = int(std::log(frequency / low) / std::log(high / low) * bands);
        power[std::clamp(band, 0, bands - 1)] += re * re + im * im;
    }
    double norm = 0.0;
    for (double value : std::as_const(power))
        norm += value * value;
    norm = std::sqrt(norm);
    for (double &value : power)
        value = norm > 0.0 ? value / norm : 0.0;
    return power;
}

double similarity(const QList<double> &a, const QList<double> &b)
{
    double dot = 0.0;
    for (qsizetype i = 0; i < a.size(); ++i)
        dot += a.at(i) * b.at(i);
    return dot;
}

struct WaveFile
{
    quint16 format = 0;
    quint16 channels = 0;
    quint32 sampleRate = 0;
    quint16 bits = 0;
    QList<qint16> samples;
};

// The chunks of a RIFF WAVE file, read strictly enough to notice a malformed one.
std::optional<WaveFile> readWave(const QByteArray &bytes)
{
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE")
        return std::nullopt;
    WaveFile wave;
    bool haveFormat = false;
    for (qsizetype at = 12; at + 8 <= bytes.size();) {
        const QByteArray id = bytes.mid(at, 4);
        quint32 size = 0;
        QDataStream header(bytes.mid(at + 4, 4));
        header.setByteOrder(QDataStream::LittleEndian);
        header >> size;
        const qsizetype body = at + 8;
        if (body + qsizetype(size) > bytes.size())
            return std::nullopt;
        if (id == "fmt " && size >= 16) {
            QDataStream fields(bytes.mid(body, 16));
            fields.setByteOrder(QDataStream::LittleEndian);
            quint32 byteRate = 0;
            quint16 blockAlign = 0;
            fields >> wave.format >> wave.channels >> wave.sampleRate >> byteRate >> blockAlign >> wave.bits;
            haveFormat = true;
        } else if (id == "data") {
            wave.samples.resize(size / 2);
            std::memcpy(wave.samples.data(), bytes.constData() + body, size_t(wave.samples.size()) * 2);
        }
        at = body + size + (size & 1);
    }
    if (!haveFormat || wave.samples.isEmpty())
        return std::nullopt;
    return wave;
}

// A RIFF WAVE file with one format chunk (the extensible kind when `subFormat` is given)
// and, after an unrelated chunk of odd length, one data chunk.
QByteArray wave(quint16 tag, quint16 channels, quint32 sampleRate, quint16 bits, const QByteArray &data,
                quint16 subFormat = 0)
{
    auto le16 = [](quint16 value) { return QByteArray(reinterpret_cast<const char *>(&value), 2); };
    auto le32 = [](quint32 value) { return QByteArray(reinterpret_cast<const char *>(&value), 4); };
    QByteArray format = le16(tag) + le16(channels) + le32(sampleRate)
        + le32(sampleRate * channels * bits / 8) + le16(quint16(channels * bits / 8)) + le16(bits);
    if (subFormat) {
        format += le16(22) + le16(bits) + le32(0) + le16(subFormat)
            + QByteArray::fromHex("000000001000800000aa00389b71");
    }
    QByteArray body = "WAVE" + QByteArray("fmt ") + le32(quint32(format.size())) + format;
    body += QByteArray("LIST") + le32(3) + QByteArray("abc") + QByteArray(1, '\0');
    body += QByteArray("data") + le32(quint32(data.size())) + data;
    return "RIFF" + le32(quint32(body.size())) + body;
}

bool runTool(const QString &program, const QStringList &arguments, QByteArray *output = nullptr)
{
    QProcess tool;
    ChildProcess::dieWithParent(tool);
    tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tool.start(program, arguments);
    const bool finished = tool.waitForFinished(30000);
    if (!finished) {
        tool.kill();
        tool.waitForFinished();
    }
    if (output)
        *output = tool.readAllStandardOutput();
    return finished && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}

// The identifiers ("!v/robosoft") of the voice variants espeak-ng lists on this machine.
QStringList installedVariants()
{
    QByteArray listing;
    if (!runTool(QStringLiteral("espeak-ng"), {QStringLiteral("--voices=variant")}, &listing))
        return {};
    QStringList identifiers;
    for (const QByteArray &line : listing.split('\n')) {
        const qsizetype at = line.indexOf("!v/");
        if (at >= 0)
            identifiers.append(QString::fromUtf8(line.mid(at)).section(u' ', 0, 0));
    }
    return identifiers;
}

void setPreference(const QString &key, const QJsonValue &value)
{
    Preferences &preferences = Preferences::shared();
    if (value.isUndefined())
        QVERIFY(preferences.remove(key));
    else if (value.isBool())
        QVERIFY(preferences.setBoolean(key, value.toBool()));
    else
        QVERIFY(preferences.setString(key, value.toString()));
}

} // namespace

class TestCues final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_files.isValid());
        QVERIFY2(m_session.start(), qPrintable(m_session.error()));
        m_session.enter();
        m_player = std::make_unique<QtSoundPlayer>();
    }

    void cleanupTestCase()
    {
        m_player.reset();
        m_session.stop();
    }

    void soundsAreShortNormalisedAndDistinct()
    {
        QHash<QString, QList<double>> spectra;
        for (const QString &name : QtSoundPlayer::names()) {
            // Read from the resources compiled into the library this test links.
            QFile file(QtSoundPlayer::resourcePath(name));
            QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(name));
            const std::optional<WaveFile> wave = readWave(file.readAll());
            QVERIFY2(wave, qPrintable(name + QStringLiteral(" is not a readable WAV file")));
            QCOMPARE(wave->format, quint16(1)); // integer PCM
            QCOMPARE(wave->channels, quint16(1));
            QCOMPARE(wave->sampleRate, quint32(44100));
            QCOMPARE(wave->bits, quint16(16));
            const double seconds = double(wave->samples.size()) / 44100.0;
            QVERIFY2(seconds > 0.05 && seconds < 0.5, qPrintable(name + QStringLiteral(": %1 s").arg(seconds)));
            qint16 peak = 0;
            for (qint16 sample : wave->samples)
                peak = std::max<qint16>(peak, qint16(std::abs(std::max<int>(sample, -32767))));
            const double peakDb = 20.0 * std::log10(double(peak) / 32768.0);
            QVERIFY2(peakDb > -1.5 && peakDb < -0.5, qPrintable(name + QStringLiteral(": peak %1 dBFS").arg(peakDb)));

            const QList<float> samples = SoundSession::samplesOf(copyOf(name));
            QVERIFY(!samples.isEmpty());
            spectra.insert(name, spectrum(samples));
        }
        const QStringList names = QtSoundPlayer::names();
        for (qsizetype i = 0; i < names.size(); ++i) {
            for (qsizetype j = i + 1; j < names.size(); ++j) {
                const double alike = similarity(spectra.value(names.at(i)), spectra.value(names.at(j)));
                QVERIFY2(alike < 0.8, qPrintable(QStringLiteral("%1 and %2 sound alike (%3)")
                                                     .arg(names.at(i), names.at(j)).arg(alike)));
            }
        }
    }

    void waveFilesAreReadStrictly_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("readable");
        QTest::addColumn<QAudioFormat::SampleFormat>("type");
        QTest::addColumn<int>("frames");

        const QByteArray pcm16 = wave(1, 1, 44100, 16, QByteArray(400, '\x01'));
        QTest::newRow("16-bit mono") << pcm16 << true << QAudioFormat::Int16 << 200;
        QTest::newRow("float stereo") << wave(3, 2, 48000, 32, QByteArray(800, '\0')) << true
                                      << QAudioFormat::Float << 100;
        QTest::newRow("extensible 32-bit") << wave(0xfffe, 1, 16000, 32, QByteArray(40, '\0'), 1) << true
                                           << QAudioFormat::Int32 << 10;
        QTest::newRow("a last half frame is dropped") << wave(1, 2, 44100, 16, QByteArray(402, '\0')) << true
                                                      << QAudioFormat::Int16 << 100;
        QTest::newRow("truncated data") << pcm16.left(pcm16.size() - 10) << false << QAudioFormat::Unknown << 0;
        QTest::newRow("no data") << wave(1, 1, 44100, 16, QByteArray()) << false << QAudioFormat::Unknown << 0;
        QTest::newRow("24-bit is not read") << wave(1, 1, 44100, 24, QByteArray(300, '\0')) << false
                                            << QAudioFormat::Unknown << 0;
        QTest::newRow("compressed") << wave(0x55, 1, 44100, 0, QByteArray(300, '\0')) << false
                                    << QAudioFormat::Unknown << 0;
        QTest::newRow("no channels") << wave(1, 0, 44100, 16, QByteArray(300, '\0')) << false
                                     << QAudioFormat::Unknown << 0;
        QTest::newRow("not RIFF") << QByteArray("OggS and then some more bytes") << false << QAudioFormat::Unknown << 0;
        QTest::newRow("empty") << QByteArray() << false << QAudioFormat::Unknown << 0;
    }

    void waveFilesAreReadStrictly()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, readable);
        QFETCH(QAudioFormat::SampleFormat, type);
        QFETCH(int, frames);
        const std::optional<QtSoundPlayer::Sound> sound = QtSoundPlayer::decodeWave(file);
        QCOMPARE(sound.has_value(), readable);
        if (!sound)
            return;
        QCOMPARE(sound->format.sampleFormat(), type);
        QCOMPARE(sound->format.framesForBytes(qint32(sound->pcm.size())), frames);
    }

    void eachSoundIsHeard_data()
    {
        QTest::addColumn<QString>("name");
        for (const QString &name : QtSoundPlayer::names())
            QTest::newRow(qPrintable(name)) << name;
    }

    void eachSoundIsHeard()
    {
        QFETCH(QString, name);
        const QList<float> original = SoundSession::samplesOf(copyOf(name));
        const QList<float> heard = recordWhile([&] { m_player->play(name); }, 900);
        const Span span = loudSpan(heard);
        QVERIFY2(span.length() > 0, qPrintable(name + QStringLiteral(" was not heard")));
        const double expected = loudSpan(original).seconds();
        QVERIFY2(std::abs(span.seconds() - expected) < 0.06,
                 qPrintable(QStringLiteral("heard %1 s of a %2 s sound").arg(span.seconds()).arg(expected)));

        // What was heard is this sound and no other.
        const QList<double> heardSpectrum = spectrum(part(heard, span));
        QString closest;
        double best = -1.0;
        for (const QString &candidate : QtSoundPlayer::names()) {
            const double alike = similarity(heardSpectrum, spectrum(SoundSession::samplesOf(copyOf(candidate))));
            if (alike > best) {
                best = alike;
                closest = candidate;
            }
        }
        QCOMPARE(closest, name);
        QVERIFY2(best > 0.95, qPrintable(QString::number(best)));
    }

    void unknownNamePlaysNothingQuietly()
    {
        m_messages.clear();
        const QtMessageHandler previous = qInstallMessageHandler(collectMessage);
        const QList<float> heard = recordWhile([&] { m_player->play(QStringLiteral("Whistle")); }, 600);
        qInstallMessageHandler(previous);
        QCOMPARE(loudSpan(heard).length(), 0);
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join(u'\n')));
    }

    void soundsPreferenceDecides_data()
    {
        QTest::addColumn<QJsonValue>("stored");
        QTest::addColumn<bool>("played");
        QTest::newRow("absent") << QJsonValue(QJsonValue::Undefined) << true;
        QTest::newRow("on") << QJsonValue(true) << true;
        QTest::newRow("off") << QJsonValue(false) << false;
        QTest::newRow("a string is not a switch") << QJsonValue(QStringLiteral("false")) << true;
    }

    void soundsPreferenceDecides()
    {
        QFETCH(QJsonValue, stored);
        QFETCH(bool, played);
        setPreference(PreferenceKeys::soundsEnabled, stored);
        FakeSoundPlayer player;
        Sounds sounds(player);
        sounds.play(QStringLiteral("Pop"));
        QCOMPARE(player.played, played ? QStringList{QStringLiteral("Pop")} : QStringList());
    }

    void soundsPreferenceIsReadAtEveryCall()
    {
        FakeSoundPlayer player;
        Sounds sounds(player);
        setPreference(PreferenceKeys::soundsEnabled, false);
        sounds.play(QStringLiteral("Pop"));
        setPreference(PreferenceKeys::soundsEnabled, true);
        sounds.play(QStringLiteral("Bottle"));
        setPreference(PreferenceKeys::soundsEnabled, false);
        sounds.play(QStringLiteral("Morse"));
        QCOMPARE(player.played, QStringList{QStringLiteral("Bottle")});
    }

    void voicePreferenceDecides_data()
    {
        QTest::addColumn<QJsonValue>("stored");
        QTest::addColumn<QStringList>("calls");
        const QStringList spoken{QStringLiteral("stop"), QStringLiteral("speak:It's ready.")};
        QTest::newRow("absent") << QJsonValue(QJsonValue::Undefined) << spoken;
        QTest::newRow("on") << QJsonValue(true) << spoken;
        QTest::newRow("off") << QJsonValue(false) << QStringList();
        QTest::newRow("a string is not a switch") << QJsonValue(QStringLiteral("no")) << spoken;
    }

    void voicePreferenceDecides()
    {
        QFETCH(QJsonValue, stored);
        QFETCH(QStringList, calls);
        setPreference(PreferenceKeys::voiceEnabled, stored);
        FakeSpeechSynthesizer synthesizer;
        Voice voice(synthesizer);
        voice.speak(QStringLiteral("It's ready."));
        QCOMPARE(synthesizer.calls, calls);
    }

    void newCueReplacesTheOneSpeaking()
    {
        setPreference(PreferenceKeys::voiceEnabled, true);
        FakeSpeechSynthesizer synthesizer;
        Voice voice(synthesizer);
        voice.speak(QStringLiteral("Talk to me."));
        voice.speak(QStringLiteral("Stop poking me."));
        QCOMPARE(synthesizer.calls, (QStringList{QStringLiteral("stop"), QStringLiteral("speak:Talk to me."),
                                                 QStringLiteral("stop"), QStringLiteral("speak:Stop poking me.")}));
        QCOMPARE(synthesizer.speaking, QStringLiteral("Stop poking me."));
        QCOMPARE(Voice::wordsPerMinute, 160);
    }

    void voiceChoice_data()
    {
        QTest::addColumn<QStringList>("variants");
        QTest::addColumn<QString>("voice");
        const QStringList robots{QStringLiteral("!v/Alex"), QStringLiteral("!v/klatt"), QStringLiteral("!v/UniRobot"),
                                 QStringLiteral("!v/robosoft3"), QStringLiteral("!v/robosoft")};
        QTest::newRow("the first preferred wins, not the first listed") << robots << QStringLiteral("en+robosoft");
        QTest::newRow("a later robosoft") << QStringList{QStringLiteral("!v/klatt"), QStringLiteral("!v/robosoft7"),
                                                         QStringLiteral("!v/robosoft3")}
                                          << QStringLiteral("en+robosoft3");
        QTest::newRow("UniRobot before klatt")
            << QStringList{QStringLiteral("!v/klatt"), QStringLiteral("!v/UniRobot")} << QStringLiteral("en+UniRobot");
        QTest::newRow("names compare without case")
            << QStringList{QStringLiteral("!v/KLATT")} << QStringLiteral("en+KLATT");
        QTest::newRow("a similar name is not the variant")
            << QStringList{QStringLiteral("!v/klatt2"), QStringLiteral("!v/robosoft9")} << QStringLiteral("en");
        QTest::newRow("none of them") << QStringList{QStringLiteral("!v/Alex")} << QStringLiteral("en");
        QTest::newRow("no variants at all") << QStringList() << QStringLiteral("en");
    }

    void voiceChoice()
    {
        QFETCH(QStringList, variants);
        QFETCH(QString, voice);
        QCOMPARE(EspeakSynthesizer::voiceFor(variants), voice);
    }

    void robotVoiceIsHeard()
    {
        const QString phrase = QStringLiteral("Murmel is ready.");
        EspeakSynthesizer synthesizer;
        QSignalSpy speaking(&synthesizer, &EspeakSynthesizer::speakingChanged);
        const QList<float> heard = recordWhile(
            [&] {
                synthesizer.startSpeaking(phrase);
                QVERIFY(synthesizer.isSpeaking());
                QTRY_VERIFY_WITH_TIMEOUT(!synthesizer.isSpeaking(), 15000);
            },
            300);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(speaking.size(), 2);
        QCOMPARE(EspeakSynthesizer::currentVoice(), EspeakSynthesizer::voiceFor(installedVariants()));

        // The same phrase from the espeak-ng program, in the chosen voice at 160 words a minute.
        const QString reference = m_files.filePath(QStringLiteral("reference.wav"));
        QVERIFY(runTool(QStringLiteral("espeak-ng"), {QStringLiteral("-v"), EspeakSynthesizer::currentVoice(),
                                                      QStringLiteral("-s"), QString::number(Voice::wordsPerMinute),
                                                      QStringLiteral("-w"), reference, phrase}));
        const Span expected = loudSpan(SoundSession::samplesOf(reference));
        const Span span = loudSpan(heard);
        QVERIFY2(span.length() > 0, "the voice was not heard");
        // Heard in full: neither cut short nor padded out.
        QVERIFY2(std::abs(span.seconds() - expected.seconds()) < 0.1,
                 qPrintable(QStringLiteral("heard %1 s, the phrase lasts %2 s")
                                .arg(span.seconds())
                                .arg(expected.seconds())));
    }

    void secondCueCutsOffTheFirst()
    {
        EspeakSynthesizer synthesizer;
        const QString reference = m_files.filePath(QStringLiteral("long.wav"));
        const QString voice = EspeakSynthesizer::voiceFor(installedVariants());
        QVERIFY(runTool(QStringLiteral("espeak-ng"), {QStringLiteral("-v"), voice, QStringLiteral("-s"),
                                                      QString::number(Voice::wordsPerMinute), QStringLiteral("-w"),
                                                      reference, longPhrase}));
        const double longSeconds = loudSpan(SoundSession::samplesOf(reference)).seconds();
        QVERIFY2(longSeconds > 6.0, qPrintable(QString::number(longSeconds)));

        const QList<float> heard = recordWhile(
            [&] {
                synthesizer.startSpeaking(longPhrase);
                QTest::qWait(1500);
                QVERIFY(synthesizer.isSpeaking());
                synthesizer.startSpeaking(QStringLiteral("Stop."));
                QTRY_VERIFY_WITH_TIMEOUT(!synthesizer.isSpeaking(), 15000);
            },
            300);
        if (QTest::currentTestFailed())
            return;
        const Span span = loudSpan(heard);
        QVERIFY(span.length() > 0);
        // About 1.5 s of the long phrase, then the short one: far less than the long one alone.
        QVERIFY2(span.seconds() < 3.5, qPrintable(QStringLiteral("heard %1 s").arg(span.seconds())));
        QVERIFY2(span.seconds() > 1.2, qPrintable(QStringLiteral("heard %1 s").arg(span.seconds())));
    }

    void stopDuringSynthesisSpeaksNothing()
    {
        EspeakSynthesizer synthesizer;
        const QList<float> heard = recordWhile(
            [&] {
                synthesizer.startSpeaking(longPhrase);
                synthesizer.stopSpeaking();
                QVERIFY(!synthesizer.isSpeaking());
            },
            1500);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(loudSpan(heard).length(), 0);
    }

    void withoutSoundOrVoiceData_data()
    {
        QTest::addColumn<bool>("server");
        QTest::addColumn<bool>("espeakData");
        QTest::newRow("no sound server") << false << true;
        QTest::newRow("no espeak-ng data") << true << false;
    }

    void withoutSoundOrVoiceData()
    {
        QFETCH(bool, server);
        QFETCH(bool, espeakData);
        // Qt Multimedia and espeak-ng both start once per process: a child process each.
        SoundSession none(SoundSession::Server::none);
        QVERIFY2(none.start(), qPrintable(none.error()));
        QTemporaryDir emptyData;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(server ? m_session.environment() : none.environment());
        if (!espeakData)
            environment.insert(QStringLiteral("ESPEAK_DATA_PATH"), emptyData.path());
        environment.insert(QString::fromLatin1(crippledVariable), espeakData ? QStringLiteral("no-server")
                                                                             : QStringLiteral("no-espeak-data"));

        QProcess child;
        ChildProcess::dieWithParent(child);
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::MergedChannels);
        QVERIFY(m_session.startRecording());
        child.start(QCoreApplication::applicationFilePath(), {});
        const bool finished = QTest::qWaitFor([&] { return child.state() == QProcess::NotRunning; }, 60000);
        const QList<float> heard = m_session.stopRecording();
        if (!finished) {
            child.kill();
            child.waitForFinished();
        }
        const QByteArray output = child.readAll();
        QVERIFY2(finished, qPrintable(QStringLiteral("The checks hung:\n") + QString::fromLocal8Bit(output)));
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
                 qPrintable(QString::fromLocal8Bit(output)));
        QVERIFY2(output.contains(" 0 failed"), qPrintable(QString::fromLocal8Bit(output)));
        QVERIFY2(output.contains("PASS   : TestCuesCrippled::voiceSaysNothing"),
                 qPrintable(QString::fromLocal8Bit(output)));
        // With the server, the child's sounds reach it (its voice has no data to speak);
        // without, nothing reaches this session's server either.
        if (server)
            QVERIFY(loudSpan(heard).length() > 0);
        else
            QCOMPARE(loudSpan(heard).length(), 0);
    }

private:
    static void collectMessage(QtMsgType, const QMessageLogContext &, const QString &message)
    {
        m_messages.append(message);
    }

    // Records what the sink plays while `action` runs and for `afterMs` afterwards.
    template<typename Action>
    QList<float> recordWhile(Action action, int afterMs)
    {
        if (!m_session.startRecording()) {
            qWarning("recording did not start");
            return {};
        }
        action();
        QTest::qWait(afterMs);
        return m_session.stopRecording();
    }

    // A resource sound as a file SoX can read.
    QString copyOf(const QString &name)
    {
        const QString path = m_files.filePath(name + QStringLiteral(".wav"));
        if (!QFile::exists(path))
            QFile::copy(QtSoundPlayer::resourcePath(name), path);
        return path;
    }

    static inline QStringList m_messages;
    TestEnvironment m_environment; // before anything reads the preferences
    QTemporaryDir m_files;
    SoundSession m_session;
    std::unique_ptr<QtSoundPlayer> m_player;
};

class TestCuesCrippled final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void soundsPlayWithoutHarm()
    {
        QtSoundPlayer player;
        for (const QString &name : QtSoundPlayer::names()) {
            player.play(name);
            QTest::qWait(100);
        }
        QTest::qWait(600);
    }

    void voiceSaysNothing()
    {
        const bool espeakData = qEnvironmentVariable(crippledVariable) != QStringLiteral("no-espeak-data");
        EspeakSynthesizer synthesizer;
        synthesizer.startSpeaking(QStringLiteral("Murmel is ready."));
        // Without espeak-ng there is nothing to play; without a server nowhere to play it.
        QTRY_VERIFY_WITH_TIMEOUT(!synthesizer.isSpeaking(), 10000);
        QCOMPARE(EspeakSynthesizer::currentVoice().isEmpty(), !espeakData);
        // A second phrase fails the same way, without trying to start espeak-ng again.
        synthesizer.startSpeaking(QStringLiteral("It's ready."));
        QTRY_VERIFY_WITH_TIMEOUT(!synthesizer.isSpeaking(), 10000);
    }
};

int main(int argc, char *argv[])
{
    QGuiApplication application(argc, argv);
    if (qEnvironmentVariableIsSet(crippledVariable)) {
        TestCuesCrippled test;
        return QTest::qExec(&test, argc, argv);
    }
    TestCues test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_cues.moc"
