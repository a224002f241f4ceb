#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"
#include "core/dictation/dictationcontroller.h"
#include "core/speech/modelstore.h"
#include "core/text/customization.h"
#include "core/text/keychainhelper.h"
#include "core/transcripts/historystore.h"
#include "dictationrig.h"
#include "fixturemodels.h"
#include "testenvironment.h"
#include "testhttpserver.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <memory>

using namespace Qt::StringLiterals;

using Status = DictationController::Status;

namespace {

const QString phrase = FixtureModels::phrase.trimmed(); // "Hello from the parrot model."
const QString apiKey = u"sk-ant-test-key"_s;
const QString notReady = u"The speech model is not ready yet."_s;
constexpr int processingTimeoutMs = 60000;

AudioFrames tone(qsizetype count)
{
    AudioFrames samples(count);
    for (qsizetype i = 0; i < count; ++i)
        samples[i] = 0.3f * static_cast<float>(std::sin(2.0 * M_PI * 440.0 * double(i) / 16000.0));
    return samples;
}

// Every line of the dictation category, with its level.
struct LogLine
{
    QtMsgType type;
    QString text;
};
QList<LogLine> dictationLog;

// The speed lines among them.
QList<LogLine> speedLines()
{
    QList<LogLine> lines;
    for (const LogLine &line : std::as_const(dictationLog))
        if (line.text.startsWith(u"transcribe "))
            lines << line;
    return lines;
}
QtMessageHandler previousHandler = nullptr;

void captureMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (context.category && QByteArrayView(context.category) == "murmel.dictation")
        dictationLog.append({type, text});
    previousHandler(type, context, text);
}

QByteArray answer(const QString &text)
{
    const QJsonObject body{{u"type"_s, u"message"_s},
                           {u"role"_s, u"assistant"_s},
                           {u"content"_s, QJsonArray{QJsonObject{{u"type"_s, u"text"_s}, {u"text"_s, text}}}}};
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

} // namespace

class TestDictationController final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestEnvironment> m_environment;
    QString m_parrot;
    QString m_parrotDigest;
    QByteArray m_parrotBytes;
    std::unique_ptr<QTemporaryDir> m_scratch;
    std::unique_ptr<TestHttpServer> m_server;
    std::unique_ptr<DictationRig> m_rig;

    Preferences &preferences() { return Preferences::shared(); }
    DictationController &controller() { return *m_rig->controller; }
    QString modelsFolder() const { return m_scratch->path() + u"/Models"_s; }

    bool install(const QString &rawName)
    {
        QDir().mkpath(modelsFolder());
        return QFile::copy(m_parrot, modelsFolder() + u"/ggml-"_s + rawName + u".bin"_s);
    }

    void serveModel(const QString &rawName, TestHttpServer::Response response = {})
    {
        if (response.body.isEmpty())
            response.body = m_parrotBytes;
        m_server->setResponse(u"/repo/ggml-"_s + rawName + u".bin"_s, response);
    }

    QStringList requestedModelFiles() const
    {
        QStringList files;
        for (const TestHttpServer::Request &request : m_server->requests())
            if (request.target.startsWith("/repo/"))
                files << QString::fromUtf8(request.target.mid(6));
        return files;
    }

    QList<TestHttpServer::Request> cleanupRequests() const
    {
        QList<TestHttpServer::Request> requests;
        for (const TestHttpServer::Request &request : m_server->requests())
            if (request.target == "/v1/messages")
                requests << request;
        return requests;
    }

    // Start, one piece of audio, stop, and wait until processing has ended.
    bool dictate(const AudioFrames &samples = tone(16000))
    {
        QSignalSpy finished(&controller(), &DictationController::dictationFinished);
        controller().startRecording();
        if (controller().status() != Status::recording)
            return false;
        if (!samples.isEmpty() && !m_rig->microphone.deliver(samples))
            return false;
        controller().stopAndProcess();
        return !finished.isEmpty() || finished.wait(processingTimeoutMs);
    }

    // What every exit leaves behind, whichever it was.
    void verifyEndedCleanly()
    {
        QCOMPARE(controller().status(), Status::idle);
        QCOMPARE(m_rig->activity.held, 0);
        QVERIFY(!m_rig->microphone.isRunning());
    }

    // What an exit without a dictation (E1 to E4) leaves behind.
    void verifyNothingDelivered()
    {
        verifyEndedCleanly();
        QVERIFY(!m_rig->player.played.contains(u"Morse"_s));
        QCOMPARE(m_rig->history.records().size(), 0);
        QCOMPARE(m_rig->clipboard.writes, 0);
        QVERIFY(m_rig->keyboard.pastes.isEmpty());
        QVERIFY(!m_rig->safeInsert.pending());
        // Hidden at the next turn of the event loop, not after a confirmation's delay.
        QTRY_VERIFY_WITH_TIMEOUT(!m_rig->panel.visible, 200);
        QVERIFY(m_rig->hud.model().state() != HUDModel::State::done);
    }

    void useCatalogFor(const QJsonObject &digests)
    {
        QVERIFY(FixtureModels::useCatalog(m_environment->home() + u"/catalog.json"_s, digests));
    }

    QJsonObject parrotCatalog() const
    {
        return {{u"base.en"_s, m_parrotDigest}, {u"base"_s, m_parrotDigest}, {u"small"_s, m_parrotDigest},
                {u"large-v3"_s, m_parrotDigest}};
    }

private Q_SLOTS:
    void initTestCase()
    {
        // One home for the whole run: the sounds read the application's own preferences,
        // whose location is fixed on first use.
        m_environment = std::make_unique<TestEnvironment>();
        m_parrot = m_environment->home() + u"/fixtures/parrot.bin"_s;
        QVERIFY2(FixtureModels::make(m_parrot), "the model generator failed");
        m_parrotDigest = FixtureModels::sha256Of(m_parrot);
        QFile file(m_parrot);
        QVERIFY(file.open(QIODevice::ReadOnly));
        m_parrotBytes = file.readAll();
        QCOMPARE(Preferences::shared().filePath(), m_environment->configHome() + u"/Murmel/preferences.json"_s);
        previousHandler = qInstallMessageHandler(captureMessage);
    }

    void cleanupTestCase() { qInstallMessageHandler(previousHandler); }

    void init()
    {
        QFile::remove(preferences().filePath());
        useCatalogFor(parrotCatalog());
        m_scratch = std::make_unique<QTemporaryDir>();
        QVERIFY(m_scratch->isValid());
        m_server = std::make_unique<TestHttpServer>();
        QVERIFY(m_server->listen());
        qputenv("MURMEL_MODEL_BASE_URL", m_server->url(u"/repo/"_s).toString().toUtf8());
        qputenv("ANTHROPIC_BASE_URL", m_server->url({}).toString().toUtf8());
        m_rig = std::make_unique<DictationRig>(preferences(), m_scratch->path() + u"/History/history.json"_s, modelsFolder());
        dictationLog.clear();
    }

    void cleanup()
    {
        if (m_rig)
            m_rig->models.cancel();
        m_rig.reset();
        m_server.reset();
        m_scratch.reset();
        qunsetenv("MURMEL_MODEL_BASE_URL");
        qunsetenv("ANTHROPIC_BASE_URL");
    }

    // E5 with each insertion result: the feedback at every step, in order.
    void dictationEndToEnd_data()
    {
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<bool>("focused");
        QTest::addColumn<bool>("safeInsert");
        QTest::addColumn<bool>("sounds");
        QTest::addColumn<bool>("clipboardRefuses");
        QTest::addColumn<QString>("confirmation");

        QTest::newRow("pasted") << true << true << false << true << false << u"Inserted"_s;
        QTest::newRow("no synthetic keys") << false << true << false << true << false << u"Copied"_s;
        QTest::newRow("no focused window") << true << false << false << true << false << u"Copied"_s;
        QTest::newRow("clipboard safe") << true << true << true << true << false
                                        << u"Ready for clipboard safe insert"_s;
        QTest::newRow("sounds off") << true << true << false << false << false << u"Inserted"_s;
        // Neither pasted nor copied: the words are kept, and the display says where.
        QTest::newRow("clipboard refuses") << true << true << false << true << true << notDeliveredText();
    }

    void dictationEndToEnd()
    {
        QFETCH(bool, trusted);
        QFETCH(bool, focused);
        QFETCH(bool, safeInsert);
        QFETCH(bool, sounds);
        QFETCH(bool, clipboardRefuses);
        QFETCH(QString, confirmation);
        QVERIFY(install(u"base.en"_s));
        QVERIFY(preferences().setString(PreferenceKeys::language, u"en"_s));
        QVERIFY(preferences().setBoolean(PreferenceKeys::clipboardSafeInsert, safeInsert));
        QVERIFY(preferences().setBoolean(PreferenceKeys::soundsEnabled, sounds));
        DictationRig &rig = *m_rig;
        rig.keyboard.trusted = trusted;
        rig.focus.target.window = focused ? FocusProbe::Window::x11 : FocusProbe::Window::none;
        rig.clipboard.refuses = clipboardRefuses;
        const QStringList noSounds;

        QList<Status> statuses;
        connect(&controller(), &DictationController::statusChanged, this,
                [&] { statuses << controller().status(); });
        QSignalSpy errors(&controller(), &DictationController::lastErrorChanged);
        QSignalSpy finished(&controller(), &DictationController::dictationFinished);

        controller().startRecording();
        QCOMPARE(controller().status(), Status::recording);
        QVERIFY(rig.panel.visible);
        QCOMPARE(rig.hud.model().state(), HUDModel::State::listening);
        QCOMPARE(rig.announcer.announced, QStringList{u"Listening"_s});
        QCOMPARE(rig.player.played, sounds ? QStringList{u"Pop"_s} : noSounds);
        QVERIFY(rig.microphone.isRunning());

        // The recorder's loudness reaches the display while it listens.
        QVERIFY(rig.microphone.deliver(tone(16000)));
        QTRY_VERIFY(rig.hud.model().level() > 0.1f);

        controller().stopAndProcess();
        QCOMPARE(controller().status(), Status::working);
        QVERIFY(!rig.microphone.isRunning());
        QCOMPARE(rig.hud.model().state(), HUDModel::State::working);
        QCOMPARE(rig.announcer.announced, (QStringList{u"Listening"_s, u"Transcribing"_s}));
        QCOMPARE(rig.player.played, sounds ? (QStringList{u"Pop"_s, u"Bottle"_s}) : noSounds);

        QVERIFY(finished.wait(processingTimeoutMs));
        verifyEndedCleanly();
        QCOMPARE(statuses, (QList<Status>{Status::recording, Status::working, Status::idle}));
        QCOMPARE(errors.count(), 0);
        QCOMPARE(controller().lastError(), QString());
        QCOMPARE(rig.player.played, sounds ? (QStringList{u"Pop"_s, u"Bottle"_s, u"Morse"_s}) : noSounds);
        QCOMPARE(rig.announcer.announced, (QStringList{u"Listening"_s, u"Transcribing"_s, confirmation}));
        QCOMPARE(rig.hud.model().state(), HUDModel::State::done);
        QCOMPARE(rig.hud.model().confirmText(), confirmation);
        QCOMPARE(rig.activity.reasons, QStringList{u"Transcribing dictation"_s});

        if (safeInsert || clipboardRefuses) {
            QVERIFY(rig.safeInsert.pending());
            QCOMPARE(rig.safeInsert.pending()->text, phrase);
            QCOMPARE(rig.clipboard.text(), QString());
        } else {
            QVERIFY(!rig.safeInsert.pending());
            QCOMPARE(rig.clipboard.text(), phrase);
        }
        QCOMPARE(rig.keyboard.pastes.size(), confirmation == u"Inserted" ? 1 : 0);

        QCOMPARE(rig.history.records().size(), 1);
        const TranscriptRecord record = rig.history.records().first();
        QCOMPARE(record.kind, TranscriptRecord::Kind::dictation);
        QCOMPARE(record.text, phrase);
        QCOMPARE(record.title, phrase);

        // The confirmation stays up a little over a second, then the display goes.
        QTest::qWait(HUDController::confirmHideMs / 2);
        QVERIFY(rig.panel.visible);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.panel.visible, HUDController::confirmHideMs + 1000);
    }

    void stopRightAfterStartProcessesNothing()
    {
        QVERIFY(install(u"small"_s));
        QVERIFY(dictate(AudioFrames{}));
        verifyNothingDelivered();
        QCOMPARE(m_rig->player.played, (QStringList{u"Pop"_s, u"Bottle"_s}));
        // Nothing worth keeping the system awake for was begun.
        QVERIFY(m_rig->activity.reasons.isEmpty());
        QCOMPARE(controller().lastError(), QString());
        QVERIFY(speedLines().isEmpty());
    }

    void modelNotAvailable_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("corrupt");
        QTest::addColumn<QString>("error");

        QTest::newRow("not found") << 404 << false << u"Could not download Small (balanced)."_s;
        QTest::newRow("server error") << 500 << false << u"Could not download Small (balanced)."_s;
        QTest::newRow("checksum mismatch")
            << 200 << true << u"Small (balanced) failed verification after download. Please try again."_s;
    }

    // E2: the model store's own message when it has one.
    void modelNotAvailable()
    {
        QFETCH(int, status);
        QFETCH(bool, corrupt);
        QFETCH(QString, error);
        serveModel(u"small"_s, {.status = status, .body = corrupt ? QByteArray(4096, 'x') : QByteArray("gone")});
        QVERIFY(dictate());
        QCOMPARE(requestedModelFiles(), QStringList{u"ggml-small.bin"_s});
        QVERIFY2(controller().lastError().startsWith(error), qPrintable(controller().lastError()));
        QCOMPARE(controller().lastError(), m_rig->models.lastErrorText());
        QVERIFY(!QFile::exists(modelsFolder() + u"/ggml-small.bin"_s));
        verifyNothingDelivered();
        QCOMPARE(m_rig->activity.reasons.size(), 1);

        // The message stays until the next start, which clears it.
        serveModel(u"small"_s);
        QVERIFY(dictate());
        QCOMPARE(controller().lastError(), QString());
        QCOMPARE(m_rig->history.records().size(), 1);
    }

    // E2 without a message of the store: another model's download holds the one slot.
    void modelSlotTakenByAnotherDownload()
    {
        serveModel(u"large-v3"_s, {.chunkSize = 1024, .chunkDelayMs = 200});
        QSignalSpy finished(&controller(), &DictationController::dictationFinished);
        controller().startRecording();
        QVERIFY(m_rig->microphone.deliver(tone(16000)));
        auto download = m_rig->models.download(WhisperModel::largeV3);
        QCOMPARE(m_rig->models.downloadingRawValue(), u"large-v3"_s);
        controller().stopAndProcess();
        QVERIFY(finished.count() == 1 || finished.wait(processingTimeoutMs));
        QCOMPARE(controller().lastError(), notReady);
        QVERIFY(!requestedModelFiles().contains(u"ggml-small.bin"_s));
        verifyNothingDelivered();
        m_rig->models.cancel();
        QCoro::waitFor(std::move(download));
    }

    // E3: the transcriber's refusal, in its own words.
    void modelRefusedByTheTranscriber_data()
    {
        QTest::addColumn<bool>("passesChecksum");
        QTest::addColumn<QString>("error");
        QTest::newRow("integrity")
            << false
            << u"The ggml-small.bin model failed its integrity check and was not loaded. Re-download it from Settings."_s;
        QTest::newRow("unloadable")
            << true << u"The ggml-small.bin model could not be loaded. Re-download it from Settings."_s;
    }

    void modelRefusedByTheTranscriber()
    {
        QFETCH(bool, passesChecksum);
        QFETCH(QString, error);
        const QString path = modelsFolder() + u"/ggml-small.bin"_s;
        QVERIFY(QDir().mkpath(modelsFolder()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(8192, 'x'));
        file.close();
        if (passesChecksum) {
            QJsonObject catalog = parrotCatalog();
            catalog.insert(u"small"_s, FixtureModels::sha256Of(path));
            useCatalogFor(catalog);
        }
        QVERIFY(dictate());
        QCOMPARE(controller().lastError(), error);
        verifyNothingDelivered();
        QVERIFY(requestedModelFiles().isEmpty());
    }

    // E4: a recognition of nothing but spaces inserts and stores nothing.
    void blankRecognition()
    {
        QVERIFY(FixtureModels::make(modelsFolder() + u"/ggml-base.en.bin"_s, u"parrot"_s,
                                    {u"--phrase"_s, u" \u00a0\u3000"_s}));
        QJsonObject catalog = parrotCatalog();
        catalog.insert(u"base.en"_s, FixtureModels::sha256Of(modelsFolder() + u"/ggml-base.en.bin"_s));
        useCatalogFor(catalog);
        QVERIFY(preferences().setString(PreferenceKeys::language, u"en"_s));
        QVERIFY(dictate());
        verifyNothingDelivered();
        QCOMPARE(controller().lastError(), QString());
        QCOMPARE(m_rig->player.played, (QStringList{u"Pop"_s, u"Bottle"_s}));
        // The engine did run: the speed line was written.
        QCOMPARE(speedLines().size(), 1);
    }

    // The dictionary runs before the cleanup and again on its result; every way the cleanup
    // can fail falls back to the corrected, uncleaned text without a word to the user.
    void dictionaryAndCleanup_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<std::optional<QString>>("key");
        QTest::addColumn<QString>("cleanupModel");
        QTest::addColumn<TestHttpServer::Response>("response");
        QTest::addColumn<QString>("expected");

        const QString corrected = u"Hello from the Parakeet model."_s;
        const auto ok = [](const QString &text) {
            return TestHttpServer::Response{.body = answer(text), .contentType = "application/json"};
        };
        QTest::newRow("off") << u"off"_s << std::optional(apiKey) << QString() << ok(u"unused"_s) << corrected;
        QTest::newRow("no key") << u"email"_s << std::optional<QString>() << QString() << ok(u"unused"_s)
                                << corrected;
        QTest::newRow("empty key") << u"email"_s << std::optional(QString()) << QString() << ok(u"unused"_s)
                                   << corrected;
        QTest::newRow("cleaned") << u"email"_s << std::optional(apiKey) << QString()
                                 << ok(u"Dear team, greetings from the parrot model."_s)
                                 << u"Dear team, greetings from the Parakeet model."_s;
        QTest::newRow("cleaned, other model") << u"bullets"_s << std::optional(apiKey) << u"claude-haiku-4-5"_s
                                              << ok(u"- parrot model says hello"_s)
                                              << u"- Parakeet model says hello"_s;
        QTest::newRow("custom style") << u"custom"_s << std::optional(apiKey) << QString()
                                      << ok(u"Ahoy from the parrot model!"_s)
                                      << u"Ahoy from the Parakeet model!"_s;
        QTest::newRow("empty result") << u"email"_s << std::optional(apiKey) << QString() << ok(u"  \n "_s)
                                      << corrected;
        QTest::newRow("no content") << u"email"_s << std::optional(apiKey) << QString()
                                    << TestHttpServer::Response{.body = "{\"content\":[]}",
                                                                .contentType = "application/json"}
                                    << corrected;
        QTest::newRow("HTTP 401") << u"email"_s << std::optional(apiKey) << QString()
                                  << TestHttpServer::Response{.status = 401, .body = "{\"error\":\"bad key\"}"}
                                  << corrected;
        QTest::newRow("not JSON") << u"email"_s << std::optional(apiKey) << QString()
                                  << TestHttpServer::Response{.body = "<html>", .contentType = "text/html"}
                                  << corrected;
        QTest::newRow("hang-up") << u"email"_s << std::optional(apiKey) << QString()
                                 << TestHttpServer::Response{.hangUp = true} << corrected;
    }

    void dictionaryAndCleanup()
    {
        QFETCH(QString, mode);
        QFETCH(std::optional<QString>, key);
        QFETCH(QString, cleanupModel);
        QFETCH(TestHttpServer::Response, response);
        QFETCH(QString, expected);
        QVERIFY(install(u"small"_s));
        QVERIFY(Settings::setVocabularyRules(preferences(), {{QUuid::createUuid(), u"parrot"_s, u"Parakeet"_s},
                                                             {QUuid::createUuid(), u"kubectl"_s, u"Kubectl"_s}}));
        if (mode == u"custom") {
            const QUuid style = QUuid::createUuid();
            QVERIFY(Settings::setCustomStyles(preferences(), {{style, u"Pirate"_s, u"Talk like a pirate."_s}}));
            QVERIFY(preferences().setString(PreferenceKeys::cleanupMode, Settings::customSelection(style)));
        } else {
            QVERIFY(preferences().setString(PreferenceKeys::cleanupMode, mode));
        }
        if (!cleanupModel.isEmpty())
            QVERIFY(preferences().setString(PreferenceKeys::cleanupModel, cleanupModel));
        if (key)
            m_rig->secrets.items.insert({KeychainHelper::defaultService(), KeychainHelper::apiKeyAccount()},
                                        key->toUtf8());
        m_server->setResponse(u"/v1/messages"_s, response);

        QVERIFY(dictate());
        verifyEndedCleanly();
        QCOMPARE(controller().lastError(), QString());
        QCOMPARE(m_rig->clipboard.text(), expected);
        QCOMPARE(m_rig->player.played.last(), u"Morse"_s);
        QCOMPARE(m_rig->hud.model().confirmText(), u"Inserted"_s);
        QCOMPARE(m_rig->history.records().size(), 1);
        QCOMPARE(m_rig->history.records().first().text, expected);

        const CleanupResolution cleanup = Settings::resolvedCleanup(preferences());
        const bool asked = cleanup.active && key && !key->isEmpty();
        const QList<TestHttpServer::Request> requests = cleanupRequests();
        QCOMPARE(requests.isEmpty(), !asked);
        // Qt's HTTP stack sends a request again once when the server hangs up before any
        // answer; the cleanup itself never retries, so only that case may show two.
        QVERIFY(requests.size() <= (response.hangUp ? 2 : 1));
        // The keychain is consulted only when a style is active.
        QCOMPARE(m_rig->secrets.calls.contains(u"read"_s), cleanup.active);
        if (!asked)
            return;
        for (const TestHttpServer::Request &request : requests)
            QCOMPARE(request.body, requests.first().body);
        const QJsonObject body = QJsonDocument::fromJson(requests.first().body).object();
        QCOMPARE(requests.first().headers.value("x-api-key"), apiKey.toUtf8());
        QCOMPARE(body.value(u"model"_s).toString(), cleanupModel.isEmpty() ? u"claude-opus-4-8"_s : cleanupModel);
        // The model sees the dictation as the dictionary corrected it, and the preferred terms.
        QCOMPARE(body.value(u"messages"_s).toArray().first().toObject().value(u"content"_s).toString(),
                 u"Hello from the Parakeet model."_s);
        const QString system = body.value(u"system"_s).toString();
        QVERIFY2(system.startsWith(cleanup.systemPrompt), qPrintable(system));
        QVERIFY2(system.contains(u"Parakeet, Kubectl"_s), qPrintable(system));
    }

    void startClearsTheHeldDictationAndDisarmsClickToInsert()
    {
        DictationRig &rig = *m_rig;
        rig.safeInsert.hold(u"the previous dictation"_s);
        rig.clickInserter.arm(u"a file transcript"_s);
        QVERIFY(rig.clickInserter.isArmed());
        QVERIFY(rig.clicks.watching);

        controller().startRecording();
        QCOMPARE(controller().status(), Status::recording);
        QVERIFY(!rig.safeInsert.pending());
        QVERIFY(!rig.clickInserter.isArmed());
        QVERIFY(!rig.clicks.watching);
        // Disarming left the display to the dictation, which shows it listening.
        QVERIFY(rig.panel.visible);
        QCOMPARE(rig.hud.model().state(), HUDModel::State::listening);
        QTest::qWait(50);
        QVERIFY(rig.panel.visible);
    }

    void microphoneRefused()
    {
        DictationRig &rig = *m_rig;
        rig.microphone.failWith = u"Murmel cannot use the microphone: access was refused."_s;
        rig.safeInsert.hold(u"held"_s);
        QSignalSpy statuses(&controller(), &DictationController::statusChanged);

        controller().startRecording();
        QCOMPARE(controller().status(), Status::idle);
        QCOMPARE(statuses.count(), 0);
        QCOMPARE(controller().lastError(), *rig.microphone.failWith);
        QCOMPARE(rig.panel.presented, 0);
        QVERIFY(rig.player.played.isEmpty());
        QVERIFY(rig.announcer.announced.isEmpty());
        // The housekeeping before the attempt still happened.
        QVERIFY(!rig.safeInsert.pending());

        // A stop has nothing to end; the message stays until the next start clears it.
        controller().stopAndProcess();
        QCOMPARE(controller().status(), Status::idle);
        QCOMPARE(controller().lastError(), *rig.microphone.failWith);
        rig.microphone.failWith.reset();
        controller().startRecording();
        QCOMPARE(controller().status(), Status::recording);
        QCOMPARE(controller().lastError(), QString());
    }

    // The sound server going away ends the recording as a stop would: what was heard is
    // transcribed, the display moves on, and the reason is shown.
    void microphoneLostMidRecording()
    {
        QVERIFY(install(u"base.en"_s));
        QVERIFY(preferences().setString(PreferenceKeys::language, u"en"_s));
        QSignalSpy finished(&controller(), &DictationController::dictationFinished);
        controller().startRecording();
        QVERIFY(m_rig->microphone.deliver(tone(16000)));
        const QString reason = u"The microphone stopped: the sound server went away (Connection terminated)."_s;
        m_rig->microphone.loseCapture(reason);
        QTRY_COMPARE(controller().status(), Status::working);
        QVERIFY(finished.wait(processingTimeoutMs));
        verifyEndedCleanly();
        QCOMPARE(controller().lastError(), reason);
        QCOMPARE(m_rig->history.records().size(), 1);
        QCOMPARE(m_rig->hud.model().state(), HUDModel::State::done);
    }

    // While the warm-up downloads the model, start requests are refused without a message;
    // the warm-up itself never touches the status or the message.
    void warmUpDownloadsAndLoads()
    {
        QVERIFY(preferences().setString(PreferenceKeys::language, u"en"_s));
        serveModel(u"base.en"_s, {.chunkSize = 64 * 1024, .chunkDelayMs = 50});
        // An earlier failure, to see that neither the refusal nor the warm-up changes it.
        m_rig->microphone.failWith = u"No microphone."_s;
        controller().startRecording();
        m_rig->microphone.failWith.reset();
        QSignalSpy statuses(&controller(), &DictationController::statusChanged);
        QSignalSpy errors(&controller(), &DictationController::lastErrorChanged);
        QSignalSpy warmed(&controller(), &DictationController::warmUpFinished);
        m_rig->safeInsert.hold(u"held"_s);

        controller().warmUp();
        QCOMPARE(m_rig->models.downloadingRawValue(), u"base.en"_s);
        controller().startRecording();
        QCOMPARE(controller().status(), Status::idle);
        QCOMPARE(m_rig->microphone.startCalls, 1);
        QVERIFY(m_rig->safeInsert.pending());
        QCOMPARE(m_rig->panel.presented, 0);
        QVERIFY(m_rig->player.played.isEmpty());

        QVERIFY(warmed.wait(processingTimeoutMs));
        QCOMPARE(warmed.first().first().toBool(), true);
        QCOMPARE(statuses.count(), 0);
        QCOMPARE(errors.count(), 0);
        QCOMPARE(controller().lastError(), u"No microphone."_s);
        QCOMPARE(requestedModelFiles(), QStringList{u"ggml-base.en.bin"_s});

        // The loaded engine is kept: with the file on disk now unusable, the cached load
        // still serves the dictation, and nothing is fetched again.
        QFile file(modelsFolder() + u"/ggml-base.en.bin"_s);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("not a model");
        file.close();
        QVERIFY(dictate());
        QCOMPARE(controller().lastError(), QString());
        QCOMPARE(m_rig->clipboard.text(), phrase);
        QCOMPARE(requestedModelFiles().size(), 1);
    }

    void warmUpFailureIsSilent()
    {
        serveModel(u"small"_s, {.status = 503, .body = "busy"});
        QSignalSpy statuses(&controller(), &DictationController::statusChanged);
        QSignalSpy errors(&controller(), &DictationController::lastErrorChanged);
        QSignalSpy warmed(&controller(), &DictationController::warmUpFinished);
        controller().warmUp();
        QVERIFY(warmed.wait(processingTimeoutMs));
        QCOMPARE(warmed.first().first().toBool(), false);
        QVERIFY(!m_rig->models.lastErrorText().isEmpty());
        QCOMPARE(statuses.count(), 0);
        QCOMPARE(errors.count(), 0);
        QCOMPARE(controller().lastError(), QString());
    }

    // The model comes from the preferences read at the moment of the dictation.
    void modelChoice_data()
    {
        QTest::addColumn<QString>("speed");
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("whisperModel");
        QTest::addColumn<QString>("file");

        QTest::newRow("fast, English") << u"fast"_s << u"en"_s << u"large-v3"_s << u"base.en"_s;
        QTest::newRow("fast, automatic") << u"fast"_s << u"auto"_s << u"base.en"_s << u"small"_s;
        QTest::newRow("fast, German") << u"fast"_s << u"de"_s << QString() << u"small"_s;
        QTest::newRow("nothing stored") << QString() << QString() << QString() << u"small"_s;
        QTest::newRow("unknown speed") << u"turbo"_s << u"en"_s << u"base"_s << u"base.en"_s;
        QTest::newRow("accurate") << u"accurate"_s << u"en"_s << u"large-v3"_s << u"large-v3"_s;
        QTest::newRow("accurate, multilingual base") << u"accurate"_s << u"fr"_s << u"base"_s << u"base"_s;
        QTest::newRow("accurate, default") << u"accurate"_s << u"auto"_s << QString()
                                           << PreferenceKeys::defaultWhisperModel();
    }

    void modelChoice()
    {
        QFETCH(QString, speed);
        QFETCH(QString, language);
        QFETCH(QString, whisperModel);
        QFETCH(QString, file);
        for (const WhisperModel &model : WhisperModel::allCases())
            serveModel(model.rawValue());
        if (!speed.isEmpty())
            QVERIFY(preferences().setString(PreferenceKeys::dictationSpeed, speed));
        if (!language.isEmpty())
            QVERIFY(preferences().setString(PreferenceKeys::language, language));
        if (!whisperModel.isEmpty())
            QVERIFY(preferences().setString(PreferenceKeys::whisperModel, whisperModel));

        QVERIFY(dictate());
        QCOMPARE(controller().lastError(), QString());
        QCOMPARE(requestedModelFiles(), QStringList{u"ggml-"_s + file + u".bin"_s});
        QCOMPARE(m_rig->clipboard.text(), phrase);
        QCOMPARE(speedLines().size(), 1);
        QVERIFY2(speedLines().first().text.startsWith(u"transcribe "_s + file + u' '),
                 qPrintable(speedLines().first().text));

        // A second dictation with the same choice finds the file in place.
        QVERIFY(dictate());
        QCOMPARE(requestedModelFiles().size(), 1);
    }

    void speedLine_data()
    {
        QTest::addColumn<qsizetype>("samples");
        QTest::addColumn<QString>("audio");
        QTest::newRow("one second") << qsizetype(16000) << u"1.0"_s;
        QTest::newRow("tenths") << qsizetype(51200) << u"3.2"_s;
        QTest::newRow("rounded up") << qsizetype(16000 * 2 + 1500) << u"2.1"_s;
        QTest::newRow("rounded down") << qsizetype(16000 * 2 + 1700) << u"2.1"_s;
    }

    void speedLine()
    {
        QFETCH(qsizetype, samples);
        QFETCH(QString, audio);
        QVERIFY(install(u"small"_s));
        QVERIFY(dictate(tone(samples)));
        const QList<LogLine> lines = speedLines();
        QCOMPARE(lines.size(), 1);
        QCOMPARE(lines.first().type, QtInfoMsg);
        const QRegularExpression line(u"^transcribe small (\\d+\\.\\d\\d)s for (\\d+\\.\\d)s audio$"_s);
        const QRegularExpressionMatch match = line.match(lines.first().text);
        QVERIFY2(match.hasMatch(), qPrintable(lines.first().text));
        QCOMPARE(match.captured(2), audio);
        // The engine's time only: well below a minute on the parrot model.
        QVERIFY(match.captured(1).toDouble() < 60.0);
    }

    // The display's stop button ends the recording like a second press.
    void stopButton()
    {
        QVERIFY(install(u"small"_s));
        QSignalSpy finished(&controller(), &DictationController::dictationFinished);
        controller().startRecording();
        QVERIFY(m_rig->microphone.deliver(tone(8000)));
        m_rig->hud.requestStop();
        QCOMPARE(controller().status(), Status::working);
        QVERIFY(finished.wait(processingTimeoutMs));
        QCOMPARE(m_rig->clipboard.text(), phrase);
    }

    // While working, nothing starts or stops another dictation, and the activity is held.
    void workingIgnoresRequests()
    {
        QVERIFY(install(u"small"_s));
        m_rig->keyboard.delay = std::chrono::milliseconds(1500); // the paste holds the dictation in working
        QSignalSpy finished(&controller(), &DictationController::dictationFinished);
        controller().startRecording();
        QVERIFY(m_rig->microphone.deliver(tone(16000)));
        controller().stopAndProcess();
        QTRY_VERIFY_WITH_TIMEOUT(m_rig->clipboard.writes == 1, processingTimeoutMs);
        QCOMPARE(controller().status(), Status::working);
        QCOMPARE(m_rig->activity.held, 1);

        controller().startRecording();
        controller().toggle();
        controller().stopAndProcess();
        m_rig->hud.requestStop();
        QCOMPARE(controller().status(), Status::working);
        QCOMPARE(m_rig->microphone.startCalls, 1);

        QVERIFY(finished.wait(processingTimeoutMs));
        QCOMPARE(finished.count(), 1);
        verifyEndedCleanly();
        QCOMPARE(m_rig->history.records().size(), 1);
        QCOMPARE(m_rig->player.played, (QStringList{u"Pop"_s, u"Bottle"_s, u"Morse"_s}));
    }

    // The hotkey callbacks read "holdToTalk" at every event, so switching the mode between
    // presses takes effect at once.
    void hotkeyModes()
    {
        QVERIFY(install(u"small"_s));
        DictationRig &rig = *m_rig;
        rig.hotkeys.start();
        const Shortcut key = HotkeyMonitor::defaultShortcut();
        const auto press = [&] { rig.hotkeyBackend.press(key.keyCode, key.modifiers); };
        const auto release = [&] { rig.hotkeyBackend.release(key.keyCode, key.modifiers); };
        const auto mode = [&](bool hold) { QVERIFY(preferences().setBoolean(PreferenceKeys::holdToTalk, hold)); };
        QSignalSpy finished(&controller(), &DictationController::dictationFinished);

        // Toggle (the default): press starts, the release is ignored, the next press stops.
        press();
        QCOMPARE(controller().status(), Status::recording);
        QVERIFY(rig.microphone.deliver(tone(8000)));
        release();
        QCOMPARE(controller().status(), Status::recording);
        press();
        QCOMPARE(controller().status(), Status::working);
        release();
        QVERIFY(finished.wait(processingTimeoutMs));
        QCOMPARE(rig.history.records().size(), 1);

        // Hold-to-talk: press starts, release stops.
        mode(true);
        press();
        QCOMPARE(controller().status(), Status::recording);
        press(); // a second key down while recording does not stop
        QCOMPARE(controller().status(), Status::recording);
        QVERIFY(rig.microphone.deliver(tone(8000)));
        rig.keyboard.delay = std::chrono::milliseconds(1500);
        release();
        QCOMPARE(controller().status(), Status::working);

        // While working, neither mode's events do anything.
        QTRY_VERIFY_WITH_TIMEOUT(rig.clipboard.writes == 2, processingTimeoutMs);
        press();
        release();
        QCOMPARE(controller().status(), Status::working);
        mode(false);
        press();
        QCOMPARE(controller().status(), Status::working);
        QCOMPARE(rig.microphone.startCalls, 2);
        QVERIFY(finished.wait(processingTimeoutMs));
        QCOMPARE(finished.count(), 2);
        QCOMPARE(rig.history.records().size(), 2);

        // Hold-to-talk switched on while a toggle recording runs: the release stops it.
        rig.keyboard.delay = {};
        press();
        QCOMPARE(controller().status(), Status::recording);
        mode(true);
        QVERIFY(rig.microphone.deliver(tone(8000)));
        release();
        QCOMPARE(controller().status(), Status::working);
        QVERIFY(finished.wait(processingTimeoutMs));

        // A controller that is gone leaves callbacks that do nothing.
        rig.controller.reset();
        press();
        release();
        QCOMPARE(rig.microphone.startCalls, 3);
        QVERIFY(!rig.microphone.isRunning());
    }
};

QTEST_GUILESS_MAIN(TestDictationController)
#include "tst_dictationcontroller.moc"
