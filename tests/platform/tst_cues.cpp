// The cues as a listener hears them: a private PulseAudio server records what its sink plays.
// Each sound is heard whole, at its own loudness, and is itself; the robot voice says the
// whole phrase, and a new phrase cuts off the old one; without a sound server or espeak-ng
// data nothing breaks.
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

#include <QGuiApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

using namespace Qt::StringLiterals;

namespace {

// Set in the child processes that run without a sound server or without espeak-ng's data.
constexpr char crippledVariable[] = "MURMEL_TEST_CUES_CRIPPLED";
const QString longPhrase = u"This is a rather long sentence that the robotic voice would need many seconds to say, "
                           "unless something cuts it off before it reaches its very last word."_s;

// The phrase as the espeak-ng program says it in the chosen voice at the voice's pace.
double referenceSeconds(const QString &phrase, const QString &file)
{
    int code = -1;
    ChildProcess::run(u"espeak-ng"_s,
                      {u"-v"_s, EspeakSynthesizer::currentVoice(), u"-s"_s, QString::number(Voice::wordsPerMinute),
                       u"-w"_s, file, phrase},
                      &code);
    return code == 0 ? SoundSession::loudSpan(SoundSession::samplesOf(file)).seconds() : -1.0;
}

// The child's part: the sounds play without harm, and the voice says nothing, fast, twice.
// Its exit code is the verdict.
int playWithoutSoundOrVoiceData()
{
    QtSoundPlayer player;
    for (const QString &name : QtSoundPlayer::names()) {
        player.play(name);
        QTest::qWait(100);
    }
    QTest::qWait(600);
    const bool espeakData = qEnvironmentVariable(crippledVariable) != u"no-espeak-data";
    EspeakSynthesizer synthesizer;
    for (const QString &phrase : {u"Murmel is ready."_s, u"It's ready."_s}) {
        synthesizer.startSpeaking(phrase);
        if (!QTest::qWaitFor([&] { return !synthesizer.isSpeaking(); }, 10000)
            || EspeakSynthesizer::currentVoice().isEmpty() == espeakData) {
            qCritical("the voice kept speaking, or chose \"%s\"", qPrintable(EspeakSynthesizer::currentVoice()));
            return 1;
        }
    }
    return 0;
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

    void eachSoundIsHeard_data()
    {
        QTest::addColumn<QString>("name");
        for (const QString &name : QtSoundPlayer::names())
            QTest::newRow(qPrintable(name)) << name;
    }

    // Whole (Qt's own sound effect cuts short sounds), at its own loudness, and this sound
    // and no other.
    void eachSoundIsHeard()
    {
        QFETCH(QString, name);
        const QList<float> heard = m_session.recordWhile([&] { m_player->play(name); }, 900);
        const QList<float> original = SoundSession::samplesOf(QtSoundPlayer::resourcePath(name));
        const SoundSession::Span span = SoundSession::loudSpan(heard);
        const SoundSession::Span expected = SoundSession::loudSpan(original);
        const double loudness = span.rms / expected.rms;
        const double likeness = SoundSession::likeness(heard, original);
        // Laxer than for speech: the cues are bright, so the server's resampler takes up to
        // an eighth of their loudness, and a fraction of a sample between the recording and
        // the file costs likeness. Another sound comes near 0.
        QVERIFY2(std::abs(span.seconds() - expected.seconds()) < 0.06 && loudness > 0.8 && loudness < 1.2
                     && likeness > 0.8,
                 qPrintable(u"heard %1 s of a %2 s sound, %3 times as loud, likeness %4"_s.arg(span.seconds())
                                .arg(expected.seconds())
                                .arg(loudness)
                                .arg(likeness)));
    }

    // Both switches are read at every cue; a new phrase stops the one being spoken.
    void preferencesDecide()
    {
        QTemporaryDir folder;
        Preferences preferences(folder.filePath(u"preferences.json"_s));
        FakeSoundPlayer player;
        Sounds sounds(player, preferences);
        FakeSpeechSynthesizer synthesizer;
        Voice voice(synthesizer, preferences);
        for (const bool on : {false, true}) {
            for (const QString &key : {PreferenceKeys::soundsEnabled, PreferenceKeys::voiceEnabled})
                QVERIFY(preferences.setBoolean(key, on));
            sounds.play(on ? u"Pop"_s : u"Bottle"_s);
            voice.speak(on ? u"Talk to me."_s : u"Hush."_s);
        }
        voice.speak(u"Stop poking me."_s);
        QCOMPARE(player.played, QStringList{u"Pop"_s});
        QCOMPARE(synthesizer.calls,
                 (QStringList{u"stop"_s, u"speak:Talk to me."_s, u"stop"_s, u"speak:Stop poking me."_s}));
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
        const QList<float> heard = m_session.recordWhile(
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
        const double seconds = SoundSession::loudSpan(heard).seconds();
        QVERIFY2(std::abs(seconds - expected) < 0.1, qPrintable(u"heard %1 s, the phrase lasts %2 s"_s.arg(seconds).arg(expected)));
    }

    // A new phrase cuts off the one being spoken, and a phrase stopped while it is still being
    // made says nothing at all.
    void secondCueCutsOffTheFirst()
    {
        EspeakSynthesizer synthesizer;
        QVERIFY(referenceSeconds(longPhrase, m_files.filePath(u"long.wav"_s)) > 6.0);
        const QList<float> heard = m_session.recordWhile(
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
        const double seconds = SoundSession::loudSpan(heard).seconds();
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
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        ChildProcess::dieWithParent(child);
        const QList<float> heard = m_session.recordWhile(
            [&] {
                child.start(QCoreApplication::applicationFilePath(), {});
                QTRY_COMPARE_WITH_TIMEOUT(child.state(), QProcess::NotRunning, 60000);
            },
            0);
        ChildProcess::stop(child);
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        // With the server the child's sounds reach it (its voice has no data to speak);
        // without, nothing reaches this session's server either.
        QVERIFY(!heard.isEmpty());
        QCOMPARE(SoundSession::loudSpan(heard).length() > 0, server);
    }

private:
    TestEnvironment m_environment; // before anything reads the preferences
    QTemporaryDir m_files;
    SoundSession m_session;
    std::unique_ptr<QtSoundPlayer> m_player;
};

int main(int argc, char *argv[])
{
    QGuiApplication application(argc, argv);
    if (qEnvironmentVariableIsSet(crippledVariable))
        return playWithoutSoundOrVoiceData();
    TestCues test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_cues.moc"
