// The cues as a listener hears them: a private PulseAudio server records what its sink plays.
// Each sound is heard whole and is itself; the robot voice says the whole phrase, and a new
// phrase cuts off the old one; without a sound server or espeak-ng data nothing breaks.
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

#include <QFile>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {

// Set in the child processes that run without a sound server or without espeak-ng's data.
constexpr char crippledVariable[] = "MURMEL_TEST_CUES_CRIPPLED";
const QString longPhrase = u"This is a rather long sentence that the robotic voice would need many seconds to say, "
                           "unless something cuts it off before it reaches its very last word."_s;

SoundSession::Span loudSpan(const QList<float> &samples)
{
    return SoundSession::loudSpan(samples, 0.01f);
}

// Power in 24 bands spaced evenly in pitch from 100 Hz to 7.5 kHz, scaled to unit length,
// so that two sounds compare by their colour, not their loudness.
QList<double> spectrum(const QList<float> &samples)
{
    constexpr int bands = 24;
    QList<double> power(bands, 0.0);
    for (double frequency = 100.0; frequency < 7500.0; frequency += 10.0) {
        double re = 0.0;
        double im = 0.0;
        for (qsizetype i = 0; i < samples.size(); ++i) {
            const double phase = 2.0 * M_PI * frequency * double(i) / SoundSession::recordingRate;
            re += samples.at(i) * std::cos(phase);
            im += samples.at(i) * std::sin(phase);
        }
        power[std::clamp(int(std::log(frequency / 100.0) / std::log(75.0) * bands), 0, bands - 1)] += re * re + im * im;
    }
    double norm = 0.0;
    for (double value : std::as_const(power))
        norm += value * value;
    for (double &value : power)
        value = norm > 0.0 ? value / std::sqrt(norm) : 0.0;
    return power;
}

double similarity(const QList<double> &a, const QList<double> &b)
{
    double dot = 0.0;
    for (qsizetype i = 0; i < a.size(); ++i)
        dot += a.at(i) * b.at(i);
    return dot;
}

// A RIFF WAVE file with one format chunk (the extensible kind when `subFormat` is given)
// and, after an unrelated chunk of odd length, one data chunk.
QByteArray wave(quint16 tag, quint16 channels, quint32 sampleRate, quint16 bits, const QByteArray &data,
                quint16 subFormat = 0)
{
    auto le16 = [](quint16 value) { return QByteArray(reinterpret_cast<const char *>(&value), 2); };
    auto le32 = [](quint32 value) { return QByteArray(reinterpret_cast<const char *>(&value), 4); };
    QByteArray format = le16(tag) + le16(channels) + le32(sampleRate) + le32(sampleRate * channels * bits / 8)
        + le16(quint16(channels * bits / 8)) + le16(bits);
    if (subFormat)
        format += le16(22) + le16(bits) + le32(0) + le16(subFormat) + QByteArray::fromHex("000000001000800000aa00389b71");
    const QByteArray body = "WAVE" + QByteArray("fmt ") + le32(quint32(format.size())) + format + QByteArray("LIST")
        + le32(3) + QByteArray("abc") + QByteArray(1, '\0') + QByteArray("data") + le32(quint32(data.size())) + data;
    return "RIFF" + le32(quint32(body.size())) + body;
}

// The phrase as the espeak-ng program says it in the chosen voice at the voice's pace.
double referenceSeconds(const QString &phrase, const QString &file)
{
    int code = -1;
    ChildProcess::run(u"espeak-ng"_s,
                      {u"-v"_s, EspeakSynthesizer::currentVoice(), u"-s"_s, QString::number(Voice::wordsPerMinute),
                       u"-w"_s, file, phrase},
                      &code);
    return code == 0 ? loudSpan(SoundSession::samplesOf(file)).seconds() : -1.0;
}

} // namespace

class TestCues final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_session.start(), qPrintable(m_session.error()));
        m_session.enter();
        m_player = std::make_unique<QtSoundPlayer>();
    }

    void cleanupTestCase() { m_player.reset(); }

    void waveFilesAreReadStrictly_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QAudioFormat::SampleFormat>("type");
        QTest::addColumn<int>("bytes");
        const QByteArray pcm16 = wave(1, 1, 44100, 16, QByteArray(400, '\x01'));
        QTest::newRow("16-bit mono") << pcm16 << QAudioFormat::Int16 << 400;
        QTest::newRow("float stereo") << wave(3, 2, 48000, 32, QByteArray(800, '\0')) << QAudioFormat::Float << 800;
        QTest::newRow("extensible 32-bit") << wave(0xfffe, 1, 16000, 32, QByteArray(40, '\0'), 1)
                                           << QAudioFormat::Int32 << 40;
        QTest::newRow("a last half frame is dropped") << wave(1, 2, 44100, 16, QByteArray(402, '\0'))
                                                      << QAudioFormat::Int16 << 400;
        const auto unreadable = QAudioFormat::Unknown;
        QTest::newRow("truncated data") << pcm16.left(pcm16.size() - 10) << unreadable << 0;
        QTest::newRow("no data") << wave(1, 1, 44100, 16, QByteArray()) << unreadable << 0;
        QTest::newRow("24-bit") << wave(1, 1, 44100, 24, QByteArray(300, '\0')) << unreadable << 0;
        QTest::newRow("no channels") << wave(1, 0, 44100, 16, QByteArray(300, '\0')) << unreadable << 0;
        QTest::newRow("not RIFF") << QByteArray("OggS and then some more bytes") << unreadable << 0;
    }

    void waveFilesAreReadStrictly()
    {
        QFETCH(QByteArray, file);
        QFETCH(QAudioFormat::SampleFormat, type);
        QFETCH(int, bytes);
        const std::optional<QtSoundPlayer::Sound> sound = QtSoundPlayer::decodeWave(file);
        QCOMPARE(sound ? sound->format.sampleFormat() : QAudioFormat::Unknown, type);
        QCOMPARE(sound ? sound->pcm.size() : 0, qsizetype(bytes));
    }

    void eachSoundIsHeard_data()
    {
        QTest::addColumn<QString>("name");
        for (const QString &name : QtSoundPlayer::names())
            QTest::newRow(qPrintable(name)) << name;
    }

    // Whole (Qt's own sound effect cuts short sounds), and this sound and no other.
    void eachSoundIsHeard()
    {
        QFETCH(QString, name);
        const QList<float> heard = recordWhile([&] { m_player->play(name); }, 900);
        const SoundSession::Span span = loudSpan(heard);
        const double expected = loudSpan(SoundSession::samplesOf(copyOf(name))).seconds();
        QVERIFY2(std::abs(span.seconds() - expected) < 0.06,
                 qPrintable(u"heard %1 s of a %2 s sound"_s.arg(span.seconds()).arg(expected)));
        QList<std::pair<double, QString>> likeness;
        for (const QString &candidate : QtSoundPlayer::names())
            likeness.append({similarity(spectrum(heard.mid(span.first, span.length())),
                                        spectrum(SoundSession::samplesOf(copyOf(candidate)))),
                             candidate});
        const auto closest = *std::max_element(likeness.cbegin(), likeness.cend());
        QCOMPARE(closest.second, name);
        QVERIFY2(closest.first > 0.95, qPrintable(QString::number(closest.first)));
    }

    void unknownNamePlaysNothingQuietly()
    {
        QTest::failOnWarning(QRegularExpression(u".*"_s));
        QCOMPARE(loudSpan(recordWhile([&] { m_player->play(u"Whistle"_s); }, 600)).length(), 0);
    }

    // Both switches are read at every cue; a new phrase stops the one being spoken.
    void preferencesDecide()
    {
        for (const bool on : {true, false}) {
            QTemporaryDir folder;
            Preferences preferences(folder.filePath(u"preferences.json"_s));
            FakeSoundPlayer player;
            Sounds sounds(player, preferences);
            FakeSpeechSynthesizer synthesizer;
            Voice voice(synthesizer, preferences);
            const auto set = [&](bool value) {
                for (const QString &key : {PreferenceKeys::soundsEnabled, PreferenceKeys::voiceEnabled})
                    QVERIFY(preferences.setBoolean(key, value));
            };
            set(!on);
            sounds.play(u"Bottle"_s);
            set(on);
            sounds.play(u"Pop"_s);
            voice.speak(u"Talk to me."_s);
            voice.speak(u"Stop poking me."_s);
            QCOMPARE(player.played, QStringList{on ? u"Pop"_s : u"Bottle"_s});
            QCOMPARE(synthesizer.calls, (on ? QStringList{u"stop"_s, u"speak:Talk to me."_s, u"stop"_s, u"speak:Stop poking me."_s}
                                            : QStringList()));
        }
    }

    void voiceChoice_data()
    {
        QTest::addColumn<QStringList>("variants");
        QTest::addColumn<QString>("voice");
        QTest::newRow("the first preferred wins, not the first listed")
            << QStringList{u"!v/Alex"_s, u"!v/klatt"_s, u"!v/UniRobot"_s, u"!v/robosoft3"_s, u"!v/robosoft"_s}
            << u"en+robosoft"_s;
        QTest::newRow("without case, and not a similar name")
            << QStringList{u"!v/klatt2"_s, u"!v/robosoft9"_s, u"!v/KLATT"_s} << u"en+KLATT"_s;
        QTest::newRow("none of them") << QStringList{u"!v/Alex"_s} << u"en"_s;
    }

    void voiceChoice()
    {
        QFETCH(QStringList, variants);
        QFETCH(QString, voice);
        QCOMPARE(EspeakSynthesizer::voiceFor(variants), voice);
    }

    void robotVoiceIsHeard()
    {
        EspeakSynthesizer synthesizer;
        QSignalSpy speaking(&synthesizer, &EspeakSynthesizer::speakingChanged);
        const QList<float> heard = recordWhile(
            [&] {
                synthesizer.startSpeaking(u"Murmel is ready."_s);
                QVERIFY(synthesizer.isSpeaking());
                QTRY_VERIFY_WITH_TIMEOUT(!synthesizer.isSpeaking(), 15000);
            },
            300);
        QCOMPARE(speaking.size(), 2);
        // The voice espeak-ng lists first among the preferred ones.
        const QByteArray listing = ChildProcess::run(u"espeak-ng"_s, {u"--voices=variant"_s});
        QStringList variants;
        for (const QByteArray &line : listing.split('\n')) {
            if (line.contains("!v/"))
                variants.append(QString::fromUtf8(line.mid(line.indexOf("!v/"))).section(u' ', 0, 0));
        }
        QCOMPARE(EspeakSynthesizer::currentVoice(), EspeakSynthesizer::voiceFor(variants));
        // Heard in full: neither cut short nor padded out.
        const double expected = referenceSeconds(u"Murmel is ready."_s, m_files.filePath(u"reference.wav"_s));
        QVERIFY2(std::abs(loudSpan(heard).seconds() - expected) < 0.1,
                 qPrintable(u"heard %1 s, the phrase lasts %2 s"_s.arg(loudSpan(heard).seconds()).arg(expected)));
    }

    // A new phrase cuts off the one being spoken, and a phrase stopped while it is still being
    // made says nothing at all.
    void secondCueCutsOffTheFirst()
    {
        EspeakSynthesizer synthesizer;
        QVERIFY(referenceSeconds(longPhrase, m_files.filePath(u"long.wav"_s)) > 6.0);
        const QList<float> heard = recordWhile(
            [&] {
                synthesizer.startSpeaking(longPhrase);
                QTest::qWait(1500);
                QVERIFY(synthesizer.isSpeaking());
                synthesizer.startSpeaking(u"Stop."_s);
                QTRY_VERIFY_WITH_TIMEOUT(!synthesizer.isSpeaking(), 15000);
                synthesizer.startSpeaking(longPhrase);
                synthesizer.stopSpeaking();
                QVERIFY(!synthesizer.isSpeaking());
            },
            2500);
        // About 1.5 s of the long phrase, then the short one: far less than the long one alone.
        const double seconds = loudSpan(heard).seconds();
        QVERIFY2(seconds > 1.2 && seconds < 3.5, qPrintable(u"heard %1 s"_s.arg(seconds)));
    }

    // Qt Multimedia and espeak-ng both start once per process: a child process each.
    void withoutSoundOrVoiceData_data()
    {
        QTest::addColumn<bool>("server");
        QTest::newRow("no sound server") << false;
        QTest::newRow("no espeak-ng data") << true;
    }

    void withoutSoundOrVoiceData()
    {
        QFETCH(bool, server);
        SoundSession none(SoundSession::Server::none);
        QVERIFY2(none.start(), qPrintable(none.error()));
        QTemporaryDir emptyData;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(server ? m_session.environment() : none.environment());
        if (server)
            environment.insert(u"ESPEAK_DATA_PATH"_s, emptyData.path());
        environment.insert(QString::fromLatin1(crippledVariable), server ? u"no-espeak-data"_s : u"no-server"_s);
        QProcess child;
        child.setProcessEnvironment(environment);
        ChildProcess::dieWithParent(child);
        const QList<float> heard = recordWhile(
            [&] {
                child.start(QCoreApplication::applicationFilePath(), {});
                QTRY_COMPARE_WITH_TIMEOUT(child.state(), QProcess::NotRunning, 60000);
            },
            0);
        ChildProcess::stop(child);
        const QByteArray output = child.readAllStandardOutput();
        QVERIFY2(child.exitCode() == 0 && output.contains("Totals: 4 passed, 0 failed"), output.constData());
        // With the server the child's sounds reach it (its voice has no data to speak);
        // without, nothing reaches this session's server either.
        QCOMPARE(loudSpan(heard).length() > 0, server);
    }

private:
    // Records what the sink plays while `action` runs and for `afterMs` afterwards.
    template<typename Action>
    QList<float> recordWhile(Action action, int afterMs)
    {
        if (!m_session.startRecording())
            return {};
        action();
        QTest::qWait(afterMs);
        return m_session.stopRecording();
    }

    // A resource sound as a file SoX can read.
    QString copyOf(const QString &name)
    {
        const QString path = m_files.filePath(name + u".wav"_s);
        if (!QFile::exists(path))
            QFile::copy(QtSoundPlayer::resourcePath(name), path);
        return path;
    }

    TestEnvironment m_environment; // before anything reads the preferences
    QTemporaryDir m_files;
    SoundSession m_session;
    std::unique_ptr<QtSoundPlayer> m_player;
};

// The child's checks: nothing hangs, and the voice says nothing, fast, twice.
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
        const bool espeakData = qEnvironmentVariable(crippledVariable) != u"no-espeak-data";
        EspeakSynthesizer synthesizer;
        for (const QString &phrase : {u"Murmel is ready."_s, u"It's ready."_s}) {
            synthesizer.startSpeaking(phrase);
            QTRY_VERIFY_WITH_TIMEOUT(!synthesizer.isSpeaking(), 10000);
            QCOMPARE(EspeakSynthesizer::currentVoice().isEmpty(), !espeakData);
        }
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
