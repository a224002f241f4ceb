// The cues as a listener hears them: a private PulseAudio server records what its sink plays.
// Each sound is heard whole, at its own loudness, and is itself; the robot voice says the
// whole phrase; without a sound server or espeak-ng data nothing breaks.
#include "childprocess.h"
#include "core/hud/voice.h"
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
    TestEnvironment m_environment; // a home of its own, whatever a library looks for there
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
