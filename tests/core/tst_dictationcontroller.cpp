// The dictation controller over the genuine engine (the generated parrot model), a local
// model repository and cleanup service, and fakes only at the platform boundary.
#include "core/base/preferencekeys.h"
#include "core/text/customization.h"
#include "dictationrig.h"
#include "fixturemodels.h"
#include "testenvironment.h"
#include "testhttpserver.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using Status = DictationController::Status;

namespace {

const QString phrase = FixtureModels::phrase.trimmed(); // "Hello from the parrot model."
constexpr int processingTimeoutMs = 60000;

// The parrot hears any sound alike: a second of it is a second of speech.
AudioFrames sound(qsizetype count = 16000)
{
    return AudioFrames(count, 0.1f);
}

// The speed lines of the dictation category, at the default level, and the engine's window.
QStringList speedLines;
QStringList windowLines;
QtMessageHandler previousHandler = nullptr;

void captureMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtInfoMsg && QByteArrayView(context.category) == "murmel.dictation" && text.startsWith(u"transcribe "))
        speedLines << text;
    if (type == QtDebugMsg && QByteArrayView(context.category) == "murmel.speech") {
        if (text.startsWith(u"Encoding "))
            windowLines << text;
        return; // the engine's own chatter
    }
    previousHandler(type, context, text);
}

} // namespace

class TestDictationController final : public QObject
{
    Q_OBJECT

    TestEnvironment m_environment; // one home for the run
    QString m_parrot = m_environment.home() + u"/parrot.bin"_s;
    std::unique_ptr<QTemporaryDir> m_scratch;
    std::unique_ptr<TestHttpServer> m_server;
    std::unique_ptr<DictationRig> m_rig;

    Preferences m_preferences{m_environment.configHome() + u"/Murmel/preferences.json"_s};
    DictationController &controller() { return *m_rig->controller; }
    QString modelFile(const QString &name) const { return m_scratch->filePath(u"Models/ggml-"_s + name + u".bin"_s); }
    bool install(const QString &name, const QByteArray &bytes = {})
    {
        return TestFiles::write(modelFile(name), bytes.isEmpty() ? TestFiles::read(m_parrot) : bytes);
    }

    QStringList requests(const QByteArray &prefix) const
    {
        QStringList found;
        for (const TestHttpServer::Request &request : m_server->requests())
            if (request.target.startsWith(prefix))
                found << QString::fromUtf8(request.target.mid(prefix.size()));
        return found;
    }

    // Every model passes as the parrot, or `name` as the file at `path`.
    void useCatalog(const QString &name = {}, const QString &path = {})
    {
        QJsonObject catalog;
        for (const QString &model : {u"base.en"_s, u"base"_s, u"small"_s, u"large-v3"_s})
            catalog.insert(model, FixtureModels::sha256Of(model == name ? path : m_parrot));
        QVERIFY(FixtureModels::useCatalog(m_environment.home() + u"/catalog.json"_s, catalog));
    }

    // Start, one piece of audio, stop, and wait until processing has ended.
    bool dictate(const AudioFrames &samples = sound())
    {
        QSignalSpy finished(&controller(), &DictationController::dictationFinished);
        controller().startRecording();
        if (!samples.isEmpty() && !m_rig->microphone.deliver(samples))
            return false;
        controller().stopAndProcess();
        return !finished.isEmpty() || finished.wait(processingTimeoutMs);
    }

    // What every exit leaves behind.
    void verifyEndedCleanly()
    {
        QCOMPARE(controller().status(), Status::idle);
        QCOMPARE(m_rig->activity.held, 0);
        QVERIFY(!m_rig->microphone.isRunning());
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(FixtureModels::make(m_parrot), "the model generator failed");
        previousHandler = qInstallMessageHandler(captureMessage);
        QLoggingCategory::setFilterRules(u"murmel.speech.debug=true"_s);
    }

    void init()
    {
        QFile::remove(m_preferences.filePath());
        useCatalog();
        m_scratch = std::make_unique<QTemporaryDir>();
        m_server = std::make_unique<TestHttpServer>();
        QVERIFY(m_server->listen());
        qputenv("MURMEL_MODEL_BASE_URL", m_server->url(u"/repo/"_s).toString().toUtf8());
        qputenv("ANTHROPIC_BASE_URL", m_server->url({}).toString().toUtf8());
        m_rig = std::make_unique<DictationRig>(m_preferences, m_scratch->filePath(u"history.json"_s), m_scratch->filePath(u"Models"_s));
        speedLines.clear();
        windowLines.clear();
    }

    void cleanup() { m_rig.reset(); }

    // Success with each insertion result: the feedback at every step, in order.
    void dictationEndToEnd_data()
    {
        QTest::addColumn<bool>("safeInsert");
        QTest::addColumn<bool>("clipboardRefuses");
        QTest::addColumn<QString>("confirmation");
        QTest::addColumn<bool>("faster"); // short dictations in a fitted window
        QTest::newRow("pasted") << false << false << u"Inserted"_s << false;
        QTest::newRow("clipboard safe, faster, muted") << true << false << u"Ready for clipboard safe insert"_s << true;
        // Neither pasted nor copied: the words are kept, and the display says where.
        QTest::newRow("clipboard refuses") << false << true << notDeliveredText() << false;
    }

    void dictationEndToEnd()
    {
        QFETCH(bool, safeInsert);
        QFETCH(bool, clipboardRefuses);
        QFETCH(QString, confirmation);
        QFETCH(bool, faster);
        QVERIFY(install(u"base.en"_s));
        // Read at the moment of the dictation, not when the controller was made.
        QVERIFY(m_preferences.setString(PreferenceKeys::language, u"en"_s));
        QVERIFY(m_preferences.setBoolean(PreferenceKeys::clipboardSafeInsert, safeInsert));
        QVERIFY(m_preferences.setBoolean(PreferenceKeys::fasterShortDictations, faster));
        QVERIFY(m_preferences.setBoolean(PreferenceKeys::soundsEnabled, !safeInsert));
        DictationRig &rig = *m_rig;
        rig.clipboard.refuses = clipboardRefuses;
        QSignalSpy finished(&controller(), &DictationController::dictationFinished);
        controller().startRecording();
        QVERIFY(rig.panel.visible && rig.microphone.isRunning());
        QVERIFY(rig.microphone.deliver(sound(51200)));
        QTRY_VERIFY(rig.hud.model().level() > 0.1f); // the loudness reaches the display
        controller().stopAndProcess();
        QCOMPARE(controller().status(), Status::working);
        QVERIFY(finished.wait(processingTimeoutMs));
        verifyEndedCleanly();
        QCOMPARE(controller().lastError(), QString());
        QCOMPARE(rig.player.played, (safeInsert ? QStringList() : QStringList{u"Pop"_s, u"Bottle"_s, u"Morse"_s}));
        QCOMPARE(rig.announcer.announced, (QStringList{u"Listening"_s, u"Transcribing"_s, confirmation}));
        QCOMPARE(rig.activity.reasons, QStringList{u"Transcribing dictation"_s});
        const bool held = safeInsert || clipboardRefuses;
        QCOMPARE(rig.safeInsert.pending() ? rig.safeInsert.pending()->text : QString(), held ? phrase : QString());
        QCOMPARE(rig.clipboard.text(), held ? QString() : phrase);
        QCOMPARE(rig.keyboard.pastes.size(), held ? 0 : 1);
        QCOMPARE(rig.history.records().size(), 1);
        QCOMPARE(rig.history.records().first().text, phrase);
        // The engine's time only, two decimals; the audio's length, one.
        QCOMPARE(speedLines.size(), 1);
        QVERIFY2(QRegularExpression(u"^transcribe base.en \\d+\\.\\d\\ds for 3.2s audio$"_s).match(speedLines.first()).hasMatch(),
                 qPrintable(speedLines.first()));
        // 3.2 s of speech in 10 of the window's 30 s.
        QCOMPARE(windowLines, faster ? QStringList{u"Encoding 3.2 s of audio in 500 of 1500 frames"_s} : QStringList());
    }

    // The exits without a dictation: no audio, no model, a model the engine refuses, blank words.
    void exitsWithoutADictation_data()
    {
        QTest::addColumn<QString>("cause");
        QTest::addColumn<QString>("error");
        QTest::newRow("no audio") << u"no audio"_s << QString();
        QTest::newRow("download fails") << u"404"_s << u"Could not download Small (balanced). The server returned HTTP 404."_s;
        QTest::newRow("not a model") << u"unloadable"_s << u"The ggml-small.bin model could not be loaded. Re-download it from Settings."_s;
        QTest::newRow("blank recognition") << u"blank"_s << QString();
    }

    void exitsWithoutADictation()
    {
        QFETCH(QString, cause);
        QFETCH(QString, error);
        const bool served = cause == u"404";
        if (served)
            m_server->setResponse(u"/repo/ggml-small.bin"_s, {.status = 404, .body = QByteArray(4096, 'x')});
        if (cause == u"unloadable")
            QVERIFY(install(u"small"_s, QByteArray(8192, 'x')));
        if (cause == u"blank")
            QVERIFY(FixtureModels::make(modelFile(u"small"_s), u"parrot"_s, {u"--phrase"_s, u" \u00a0\u3000"_s}));
        if (cause == u"unloadable" || cause == u"blank")
            useCatalog(u"small"_s, modelFile(u"small"_s));
        QVERIFY(dictate(cause == u"no audio" ? AudioFrames() : sound()));
        verifyEndedCleanly();
        QCOMPARE(controller().lastError(), error);
        QCOMPARE(m_rig->player.played, (QStringList{u"Pop"_s, u"Bottle"_s}));
        QVERIFY(m_rig->history.records().isEmpty() && m_rig->clipboard.writes == 0 && !m_rig->safeInsert.pending());
        QTRY_VERIFY_WITH_TIMEOUT(!m_rig->panel.visible, 200); // at once, not after a confirmation's delay
        QCOMPARE(m_rig->activity.reasons.size(), cause == u"no audio" ? 0 : 1);
        QCOMPARE(requests("/repo/"), served ? QStringList{u"ggml-small.bin"_s} : QStringList());
        QVERIFY(!served || !QFile::exists(modelFile(u"small"_s)));
        QCOMPARE(speedLines.size(), cause == u"blank" ? 1 : 0); // only there did the engine run
        controller().startRecording(); // the message stays until the next start
        QCOMPARE(controller().lastError(), QString());
    }

    // The dictionary runs before the cleanup and again on its result; a failed cleanup falls
    // back to the corrected, uncleaned text without a word to the user.
    void dictionaryAndCleanup_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("key");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("expected");
        const QString corrected = u"Hello from the Parakeet model."_s;
        QTest::newRow("off") << u"off"_s << true << 200 << corrected;
        QTest::newRow("no key") << u"email"_s << false << 200 << corrected;
        QTest::newRow("custom style, cleaned") << u"custom"_s << true << 200 << u"Ahoy from the Parakeet model!"_s;
        QTest::newRow("HTTP 401") << u"email"_s << true << 401 << corrected;
    }

    void dictionaryAndCleanup()
    {
        QFETCH(QString, mode);
        QFETCH(bool, key);
        QFETCH(int, status);
        QFETCH(QString, expected);
        QVERIFY(install(u"small"_s));
        QVERIFY(Settings::setVocabularyRules(m_preferences, {{QUuid::createUuid(), u"parrot"_s, u"Parakeet"_s}}));
        const QUuid style = QUuid::createUuid();
        QVERIFY(Settings::setCustomStyles(m_preferences, {{style, u"Pirate"_s, u"Talk like a pirate."_s}}));
        QVERIFY(m_preferences.setString(PreferenceKeys::cleanupMode, mode == u"custom" ? Settings::customSelection(style) : mode));
        QVERIFY(m_preferences.setString(PreferenceKeys::cleanupModel, u"claude-haiku-4-5"_s));
        if (key)
            m_rig->secrets.items.insert({KeychainHelper::defaultService(), KeychainHelper::apiKeyAccount()}, "sk-ant-test");
        const QJsonArray content{QJsonObject{{u"type"_s, u"text"_s}, {u"text"_s, u"Ahoy from the parrot model!"_s}}};
        m_server->setResponse(u"/v1/messages"_s, {.status = status, .body = QJsonDocument(QJsonObject{{u"content"_s, content}}).toJson()});

        QVERIFY(dictate());
        verifyEndedCleanly();
        QCOMPARE(controller().lastError(), QString());
        QCOMPARE(m_rig->history.records().first().text, expected);
        QCOMPARE(m_rig->secrets.calls.contains(u"read"_s), mode != u"off"); // the keychain only for an active style
        QCOMPARE(requests("/v1/messages").size(), mode == u"off" || !key ? 0 : 1);
        if (mode == u"off" || !key)
            return;
        const QJsonObject body = QJsonDocument::fromJson(m_server->requests().last().body).object();
        QCOMPARE(body.value(u"model"_s).toString(), u"claude-haiku-4-5"_s);
        // The model sees the dictation as the dictionary corrected it, and the preferred terms.
        QCOMPARE(body.value(u"messages"_s).toArray().first()[u"content"_s].toString(), u"Hello from the Parakeet model."_s);
        QVERIFY(body.value(u"system"_s).toString().endsWith(u"Preferred spellings for names and terms: Parakeet."_s));
    }

    void microphoneRefusedOrLost()
    {
        DictationRig &rig = *m_rig;
        rig.microphone.failWith = u"Murmel cannot use the microphone: access was refused."_s;
        rig.safeInsert.hold(u"held"_s);
        rig.clickInserter.arm(u"a file transcript"_s);
        QSignalSpy statuses(&controller(), &DictationController::statusChanged);
        controller().startRecording();
        controller().stopAndProcess(); // nothing to stop
        QCOMPARE(statuses.count(), 0);
        QCOMPARE(controller().lastError(), *rig.microphone.failWith);
        QVERIFY(!rig.safeInsert.pending() && !rig.clickInserter.isArmed()); // done before the attempt all the same

        // The sound server going away ends the recording as a stop would: what was heard is
        // transcribed, and the reason is shown.
        QVERIFY(install(u"small"_s));
        rig.microphone.failWith.reset();
        rig.clickInserter.arm(u"a file transcript"_s);
        QSignalSpy finished(&controller(), &DictationController::dictationFinished);
        controller().startRecording();
        QTest::qWait(50); // the click-to-insert that gave way leaves the display to the dictation
        QVERIFY(rig.panel.visible && !rig.clicks.watching && controller().lastError().isEmpty());
        QVERIFY(rig.microphone.deliver(sound()));
        rig.microphone.loseCapture(u"The sound server went away."_s);
        QVERIFY(finished.wait(processingTimeoutMs));
        verifyEndedCleanly();
        QCOMPARE(controller().lastError(), u"The sound server went away."_s);
        QCOMPARE(rig.history.records().size(), 1);
    }

    // While the warm-up downloads the model, starts are refused without a message; the
    // warm-up never touches the status or the message, and a failed one says nothing.
    void warmUp()
    {
        QVERIFY(m_preferences.setString(PreferenceKeys::language, u"en"_s));
        m_server->setResponse(u"/repo/ggml-base.en.bin"_s, {.body = TestFiles::read(m_parrot), .chunkSize = 64 * 1024, .chunkDelayMs = 50});
        m_rig->safeInsert.hold(u"held"_s);
        QSignalSpy statuses(&controller(), &DictationController::statusChanged);
        QSignalSpy errors(&controller(), &DictationController::lastErrorChanged);
        QSignalSpy warmed(&controller(), &DictationController::warmUpFinished);
        controller().warmUp();
        controller().startRecording();
        QVERIFY(m_rig->microphone.startCalls == 0 && m_rig->panel.presented == 0 && m_rig->safeInsert.pending());
        QVERIFY(warmed.wait(processingTimeoutMs));
        QCOMPARE(warmed.first().first().toBool(), true);
        QVERIFY(statuses.isEmpty());
        // The loaded engine is kept: with the file now unusable, the cached load still serves
        // the dictation, and nothing is fetched again.
        QFile(modelFile(u"base.en"_s)).resize(0);
        QVERIFY(dictate());
        QCOMPARE(m_rig->clipboard.text(), phrase);
        QCOMPARE(requests("/repo/"), QStringList{u"ggml-base.en.bin"_s});
        QVERIFY(m_preferences.setString(PreferenceKeys::language, u"de"_s)); // small, which the server lacks
        controller().warmUp();
        QVERIFY(warmed.wait(processingTimeoutMs) && !warmed.last().first().toBool());
        QVERIFY(!m_rig->models.lastErrorText().isEmpty() && errors.isEmpty());
    }

    // The hotkey callbacks read "holdToTalk" at every event, so switching the mode between
    // presses takes effect at once; while working, no request starts or stops anything.
    void hotkeyModesAndWorking()
    {
        QVERIFY(install(u"small"_s));
        DictationRig &rig = *m_rig;
        rig.hotkeys.start();
        const Shortcut key = HotkeyMonitor::defaultShortcut();
        const auto press = [&] { rig.hotkeyBackend.press(key.keyCode, key.modifiers); };
        const auto release = [&] { rig.hotkeyBackend.release(key.keyCode, key.modifiers); };
        const auto hold = [&](bool on) { QVERIFY(m_preferences.setBoolean(PreferenceKeys::holdToTalk, on)); };
        QSignalSpy finished(&controller(), &DictationController::dictationFinished);
        press(); // toggle, the default: the release is ignored, and the display's stop button stops
        QVERIFY(rig.microphone.deliver(sound(8000)));
        release();
        rig.keyboard.delay = std::chrono::milliseconds(1500); // the paste holds the dictation in working
        rig.hud.requestStop();
        QTRY_VERIFY_WITH_TIMEOUT(rig.clipboard.writes == 1, processingTimeoutMs);
        for (const std::function<void()> &request : std::initializer_list<std::function<void()>>{
                 press, release, [&] { controller().toggle(); }, [&] { controller().startRecording(); },
                 [&] { controller().stopAndProcess(); }, [&] { rig.hud.requestStop(); }, [&] { hold(true); }, press, release})
            request();
        QVERIFY(controller().status() == Status::working && rig.activity.held == 1 && rig.microphone.startCalls == 1);
        QVERIFY(finished.wait(processingTimeoutMs));
        rig.keyboard.delay = {};
        hold(false);
        press(); // switched to hold-to-talk while a toggle recording runs: the release stops it
        hold(true);
        QVERIFY(rig.microphone.deliver(sound(8000)));
        release();
        QVERIFY(finished.wait(processingTimeoutMs));
        QCOMPARE(rig.history.records().size(), 2);
        rig.controller.reset(); // a controller that is gone leaves callbacks that do nothing
        press();
        QCOMPARE(rig.microphone.startCalls, 2);
    }

    // Destroyed while its paste waits for keys: the paste ends, nothing else follows, and the
    // activity is let go.
    void destroyedWhileWorking()
    {
        QVERIFY(install(u"small"_s));
        m_rig->keyboard.delay = std::chrono::milliseconds(500);
        controller().startRecording();
        QVERIFY(m_rig->microphone.deliver(sound()));
        controller().stopAndProcess();
        QTRY_VERIFY_WITH_TIMEOUT(m_rig->clipboard.writes == 1, processingTimeoutMs);
        m_rig->controller.reset();
        QTRY_COMPARE_WITH_TIMEOUT(m_rig->keyboard.pastes.size(), 1, 2000);
        QTRY_COMPARE(m_rig->activity.held, 0);
        QTest::qWait(50);
        QCOMPARE(m_rig->player.played, (QStringList{u"Pop"_s, u"Bottle"_s}));
        QVERIFY(m_rig->history.records().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestDictationController)
#include "tst_dictationcontroller.moc"
