#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"
#include "core/base/uuids.h"
#include "core/transcripts/historystore.h"
#include "fixturemodels.h"
#include "murmelprocess.h"
#include "testenvironment.h"
#include "testhttpserver.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <csignal>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(TestHttpServer::Response)
using Response = TestHttpServer::Response;

using MurmelProcess::Result;
using MurmelProcess::binary;
using MurmelProcess::finish;
using MurmelProcess::murmel;

// Drives the real `murmel` binary, as a user or a script would, in a home with a history.
class TestCommandLine final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestEnvironment> m_environment;
    std::unique_ptr<Preferences> m_preferences;
    std::unique_ptr<TestHttpServer> m_server;
    QList<TranscriptRecord> m_history; // oldest first
    // The catalog names this content's digest for base.en.
    const QByteArray m_modelBody = QByteArray(1024 * 1024 + 5, 'm');

    QString preferencesPath() const { return m_environment->configHome() + u"/Murmel/preferences.json"_s; }
    QString modelsFolder() const { return m_environment->dataHome() + u"/Murmel/Models"_s; }
    QString historyPath() const { return m_environment->dataHome() + u"/Murmel/History/history.json"_s; }
    std::unique_ptr<HistoryStore> store() const { return std::make_unique<HistoryStore>(historyPath(), *m_preferences); }

    // Every file under the home, with its content.
    QMap<QString, QByteArray> homeFiles() const
    {
        QMap<QString, QByteArray> files;
        for (QDirIterator it(m_environment->home(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
            const QString path = it.next();
            files.insert(path, TestFiles::read(path));
        }
        return files;
    }

    // Two seconds of a tone in the home, and the parrot as the chosen "small" model; empty
    // when either could not be made.
    QString toneForTheSmallModel()
    {
        const QString tone = m_environment->home() + u"/tone.mp3"_s;
        const QString model = modelsFolder() + u"/ggml-small.bin"_s;
        const bool made = TestFiles::synthesize(tone, u"sine=frequency=300:duration=2"_s) && FixtureModels::make(model)
            && FixtureModels::useCatalog(m_environment->home() + u"/catalog.json"_s,
                                         {{u"small"_s, FixtureModels::sha256Of(model)}})
            && murmel({u"config"_s, u"set"_s, u"whisperModel"_s, u"\"small\""_s}).exitCode == 0;
        return made ? tone : QString();
    }

    void serveModel(const Response &response)
    {
        m_server->setResponse(u"/repo/ggml-base.en.bin"_s, response);
        qputenv("MURMEL_MODEL_BASE_URL", m_server->url(u"/repo/"_s).toString().toLocal8Bit());
        const QString digest = QString::fromLatin1(QCryptographicHash::hash(m_modelBody, QCryptographicHash::Sha256).toHex());
        QVERIFY(FixtureModels::useCatalog(m_environment->home() + u"/catalog.json"_s, {{u"base.en"_s, digest}}));
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(QFile::exists(binary()), "MURMEL_BINARY must name the built murmel"); }

    void init()
    {
        m_environment = std::make_unique<TestEnvironment>();
        m_preferences = std::make_unique<Preferences>(preferencesPath());
        m_server = std::make_unique<TestHttpServer>();
        QVERIFY(m_server->listen());
        auto history = store();
        m_history = {history->add(TranscriptRecord::Kind::file, u"interview"_s, u"A long interview about Qt."_s, 61.5),
                     history->add(TranscriptRecord::Kind::dictation, u"Send the report"_s, u"Send the report\nto Anna."_s)};
    }

    void cleanup()
    {
        m_server.reset();
        m_preferences.reset();
        m_environment.reset();
    }

    // Transcripts, preferences and models are for the user alone: created so, and files an
    // older Murmel left readable by others are taken back.
    void filesAreForTheUserAlone()
    {
        const QString history = historyPath();
        QVERIFY(QFile::setPermissions(history, QFile::permissions(history) | QFileDevice::ReadOther));
        const QString historyFolder = QFileInfo(history).path();
        QVERIFY(QFile::setPermissions(historyFolder, QFile::permissions(historyFolder) | QFileDevice::ReadOther
                                                         | QFileDevice::ExeOther));
        for (const QStringList &command : {QStringList{u"config"_s, u"set"_s, u"language"_s, u"\"de\""_s},
                                           QStringList{u"history"_s}, QStringList{u"models"_s}})
            QCOMPARE(murmel(command).exitCode, 0);
        // QFileDevice gives the user's bits twice (owner and user); the owner's are compared.
        const auto mode = [](const QString &path) {
            return QFile::permissions(path) & ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
        };
        const auto rw = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
        for (const QString &file : {preferencesPath(), history})
            QCOMPARE(mode(file), rw);
        for (const QString &folder : {QFileInfo(preferencesPath()).path(), historyFolder, modelsFolder()})
            QCOMPARE(mode(folder), rw | QFileDevice::ExeOwner);
    }

    // As get and list show it: the default, the value set, the default again.
    void setGetUnsetRoundTrip_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("defaultText");
        QTest::addColumn<QString>("listedDefault");
        QTest::newRow("boolean") << u"holdToTalk"_s << u"true"_s << u"false"_s << u"false  (default)"_s;
        QTest::newRow("string") << u"language"_s << u"\"de\""_s << u"\"auto\""_s << u"\"auto\"  (default)"_s;
        QTest::newRow("data") << u"vocabularyRules"_s << u"[{\"heard\":\"grüße\",\"wanted\":\"Grüße\"}]"_s << u"null"_s
                              << u"(not set)"_s;
    }

    void setGetUnsetRoundTrip()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QString, defaultText);
        QFETCH(QString, listedDefault);
        const auto listed = [] { return murmel({u"config"_s, u"list"_s}).out.split(u'\n', Qt::SkipEmptyParts); };
        const int column = 23; // the longest key, "fasterShortDictations", and two spaces
        QCOMPARE(listed().size(), PreferenceKeys::all().size());
        QVERIFY(listed().contains(key.leftJustified(column) + listedDefault));
        QCOMPARE(murmel({u"config"_s, u"get"_s, key}).out.trimmed(), defaultText);
        const Result set = murmel({u"config"_s, u"set"_s, key, value});
        QVERIFY2(set.exitCode == 0, qPrintable(set.err));
        QCOMPARE(murmel({u"config"_s, u"get"_s, key}).out.trimmed(), value);
        QVERIFY(listed().contains(key.leftJustified(column) + value));
        QCOMPARE(murmel({u"config"_s, u"unset"_s, key}).exitCode, 0);
        QCOMPARE(murmel({u"config"_s, u"get"_s, key}).out.trimmed(), defaultText);
    }

    // Every command refuses what it cannot take before it touches a file: it says why, exits
    // with the usage code and leaves the home as it found it.
    void refusals_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        const auto config = [](QStringList arguments) { return QStringList{u"config"_s} + arguments; };
        QTest::newRow("unknown key") << config({u"set"_s, u"holdtotalk"_s, u"true"_s}) << u"Unknown preference \"holdtotalk\""_s;
        QTest::newRow("string for a boolean") << config({u"set"_s, u"holdToTalk"_s, u"\"true\""_s}) << u"\"holdToTalk\" takes a boolean"_s;
        QTest::newRow("days the picker lacks") << config({u"set"_s, u"retentionDays"_s, u"-3"_s}) << u"takes one of: 0, 30, 7"_s;
        QTest::newRow("unknown cleanup mode") << config({u"set"_s, u"cleanupMode"_s, u"\"custom:6F9619FF-8B86-D011-B42D-00C04FC964FF\""_s})
                                              << u"takes one of: off, clean"_s;
        QTest::newRow("not JSON") << config({u"set"_s, u"language"_s, u"de"_s}) << u"de is not a JSON value"_s;
        QTest::newRow("unknown model") << QStringList{u"models"_s, u"download"_s, u"medium"_s}
                                       << u"Unknown model \"medium\". Choose one of: base.en, base, small, large-v3."_s;
        QTest::newRow("transcribe nothing") << QStringList{u"transcribe"_s} << u"Name at least one audio or video file."_s;
        QTest::newRow("transcribe to an unknown format") << QStringList{u"transcribe"_s, u"a.wav"_s, u"--format"_s, u"doc"_s}
                                                         << u"Unknown format \"doc\""_s;
        QTest::newRow("history id") << QStringList{u"history"_s, u"show"_s, u"42"_s} << u"\"42\" is not a transcript id"_s;
        QTest::newRow("dictation verb") << QStringList{u"dictation"_s, u"pause"_s} << u"murmel dictation start|stop|toggle"_s;
    }

    void refusals()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        const QMap<QString, QByteArray> before = homeFiles();
        const Result result = murmel(arguments);
        QCOMPARE(result.exitCode, 2);
        QVERIFY2(result.err.contains(message), qPrintable(result.err));
        QCOMPARE(homeFiles(), before);
    }

    // Every failure says why in its last lines and fails the command, and the home loses
    // nothing: no file is changed, and none is left behind.
    void failures_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("fault"); // "damaged" or "folder" preferences, "full" output
        // A shell's mounts for the command alone: $C is the preferences folder, $M the models
        // folder, $H the history folder. The message names them the same way, and $I in the
        // arguments is the oldest transcript's id.
        QTest::addColumn<QString>("mounts");
        QTest::addColumn<Response>("model"); // what the server answers for base.en
        QTest::addColumn<QString>("message");
        const QStringList list = {u"config"_s, u"list"_s};
        const QStringList download = {u"models"_s, u"download"_s, u"base.en"_s};
        const QStringList deleteKept = {u"history"_s, u"delete"_s, u"$I"_s};
        const Response fine = {.body = m_modelBody};
        const QString failed = u"Could not download Base (fast, English). "_s;
        QTest::newRow("output on a full disk") << list << u"full"_s << QString() << fine
                                               << u"The output could not be written: No space left on device."_s;
        QTest::newRow("damaged preferences")
            << list << u"damaged"_s << QString() << fine
            << u"The preferences file $C/preferences.json is damaged (unterminated string at byte 17); the defaults apply "
               "until a setting is changed, and the damaged file is then kept beside it."_s;
        QTest::newRow("preferences a folder")
            << QStringList{u"config"_s, u"get"_s, u"language"_s} << u"folder"_s << QString() << fine
            << u"The preferences file $C/preferences.json cannot be read (file to open is a directory); the defaults apply."_s;
        QTest::newRow("read-only preferences") << QStringList{u"config"_s, u"set"_s, u"holdToTalk"_s, u"true"_s} << QString()
                                               << u"mount --bind -o ro \"$C\" \"$C\""_s << fine
                                               << u"Could not change $C/preferences.json: its folder cannot be written to."_s;
        QTest::newRow("redirect loop") << download << QString() << QString()
                                       << Response{.status = 302, .headers = {{"Location", "/repo/ggml-base.en.bin"}}}
                                       << failed + u"The server redirected the download in a loop."_s;
        QTest::newRow("a part for the whole") << download << QString() << QString() << Response{.status = 206, .body = m_modelBody}
                                              << failed + u"The server sent only a part of the file when asked for all of it."_s;
        QTest::newRow("models disk full") << download << QString() << u"mount -t tmpfs -o size=64k none \"$M\""_s << fine
                                          << failed + u"Could not write $M/ggml-base.en.bin.part: No space left on device"_s;
        QTest::newRow("read-only models") << download << QString() << u"mount --bind -o ro \"$M\" \"$M\""_s << fine
                                          << failed + u"The models folder $M cannot be written to."_s;
        // --model outranks the preferences; without the model nothing can be heard.
        QTest::newRow("transcription model missing")
            << QStringList{u"transcribe"_s, u"--model"_s, u"large-v3"_s, u"talk.wav"_s} << QString() << QString() << fine
            << u"No speech model is downloaded yet. Open Murmel and download a model first.\n"
               "Could not download Large v3 (most accurate). The server returned HTTP 404."_s;
        QTest::newRow("unknown transcript") << QStringList{u"history"_s, u"show"_s, u"0F9619FF-8B86-D011-B42D-00C04FC964FF"_s}
                                            << QString() << QString() << fine
                                            << u"No transcript has the id 0F9619FF-8B86-D011-B42D-00C04FC964FF."_s;
        QTest::newRow("read-only history") << deleteKept << QString() << u"mount --bind -o ro \"$H\" \"$H\""_s << fine
                                           << u"The history could not be saved: its folder cannot be written to."_s;
        // Room for the lock file and not a page more.
        QTest::newRow("history disk full")
            << deleteKept << QString()
            << u"kept=$(cat \"$H/history.json\"); mount -t tmpfs -o size=64k none \"$H\"; "
               "printf '%s' \"$kept\" > \"$H/history.json\"; head -c 57344 /dev/zero > \"$H/filler\""_s
            << fine << u"The history could not be saved: No space left on device."_s;
    }

    void failures()
    {
        QFETCH(QStringList, arguments);
        arguments.replaceInStrings(u"$I"_s, Uuids::canonical(m_history.at(0).id));
        QFETCH(QString, fault);
        QFETCH(QString, mounts);
        QFETCH(Response, model);
        QFETCH(QString, message);
        if (!mounts.isEmpty() && !MurmelProcess::canConfine())
            QSKIP("this machine gives no mount namespaces to mount in (unshare -rm)");
        serveModel(model);
        const QString preferencesFolder = QFileInfo(preferencesPath()).path();
        const QString historyFolder = QFileInfo(historyPath()).path();
        QVERIFY(QDir().mkpath(modelsFolder()) && QDir().mkpath(preferencesFolder));
        if (fault == u"damaged"_s)
            QVERIFY(TestFiles::write(preferencesPath(), "{\"language\": \"de\""));
        if (fault == u"folder"_s)
            QVERIFY(QDir().mkpath(preferencesPath()));
        const QMap<QString, QByteArray> before = homeFiles();

        const QString folders = u"C='%1'; M='%2'; H='%3'\n"_s.arg(preferencesFolder, modelsFolder(), historyFolder);
        Result result;
        if (fault == u"full"_s)
            result = MurmelProcess::murmelInto(u"/dev/full"_s, arguments);
        else if (!mounts.isEmpty())
            result = MurmelProcess::murmelConfined(folders + mounts, arguments);
        else
            result = murmel(arguments);
        QCOMPARE(result.exitCode, 1);
        const QStringList said = message.replace(u"$C"_s, preferencesFolder)
                                     .replace(u"$M"_s, modelsFolder())
                                     .split(u'\n');
        QCOMPARE(result.errLines().mid(result.errLines().size() - said.size()), said);
        QCOMPARE(homeFiles(), before);
    }

    // The refusal above, once the style exists.
    void cleanupModeTakesAnExistingCustomStyle()
    {
        const QString style = u"[{\"id\":\"6F9619FF-8B86-D011-B42D-00C04FC964FF\",\"name\":\"Pirate\",\"prompt\":\"Arr.\"}]"_s;
        const QString selection = u"\"custom:6F9619FF-8B86-D011-B42D-00C04FC964FF\""_s;
        QCOMPARE(murmel({u"config"_s, u"set"_s, u"customStyles"_s, style}).exitCode, 0);
        const Result set = murmel({u"config"_s, u"set"_s, u"cleanupMode"_s, selection});
        QVERIFY2(set.exitCode == 0, qPrintable(set.err));
        QCOMPARE(murmel({u"config"_s, u"get"_s, u"cleanupMode"_s}).out.trimmed(), selection);
    }

    // Commands run at once, each changing a preference or a transcript of its own, lose nothing.
    void concurrentWritersLoseNothing()
    {
        const QStringList keys = {u"holdToTalk"_s, u"clipboardSafeInsert"_s, u"soundsEnabled"_s, u"voiceEnabled"_s,
                                  u"coreMLEnabled"_s, u"hasOnboarded"_s};
        m_history << store()->add(TranscriptRecord::Kind::dictation, u"third"_s, u"third"_s);
        std::vector<std::unique_ptr<QProcess>> processes;
        const auto start = [&processes](const QStringList &arguments) {
            processes.push_back(std::make_unique<QProcess>());
            processes.back()->start(binary(), arguments);
        };
        for (const QString &key : keys)
            start({u"config"_s, u"set"_s, key, u"true"_s});
        for (const TranscriptRecord &record : std::as_const(m_history))
            start({u"history"_s, u"delete"_s, Uuids::canonical(record.id)});
        for (auto &process : processes)
            QCOMPARE(finish(*process).exitCode, 0);
        Preferences preferences(preferencesPath());
        for (const QString &key : keys)
            QCOMPARE(preferences.boolean(key), std::optional(true));
        QCOMPARE(store()->records().size(), 0);
    }

    // Listed with its state before and after; fetched once, verified, and fetched again on
    // request over a damaged copy of any size.
    void modelsDownloadFetchesVerifiesAndPlaces()
    {
        serveModel({.body = m_modelBody});
        const QString placed = modelsFolder() + u"/ggml-base.en.bin"_s;
        QVERIFY(TestFiles::write(modelsFolder() + u"/ggml-small.bin"_s, {}));
        const QString missing = u"base.en   Base (fast, English)        142 MB   missing\n"_s;
        const QString others = u"base      Base (fast, multilingual)   142 MB   missing\n"
                               "small     Small (balanced)            466 MB   ready\n"
                               "large-v3  Large v3 (most accurate)    2.9 GB   missing\n"_s;
        QCOMPARE(murmel({u"models"_s}).out, missing + others);

        const Result result = murmel({u"models"_s, u"download"_s, u"base.en"_s});
        QVERIFY2(result.exitCode == 0, qPrintable(result.err));
        QCOMPARE(result.out.trimmed(), u"Downloaded Base (fast, English) to "_s + placed);
        QVERIFY(!result.err.contains(u'#')); // no progress bar when not on a terminal
        QCOMPARE(TestFiles::read(placed), m_modelBody);
        QCOMPARE(murmel({u"models"_s}).out, u"base.en   Base (fast, English)        142 MB   ready\n"_s + others);
        const Result again = murmel({u"models"_s, u"download"_s, u"base.en"_s});
        QVERIFY(again.exitCode == 0 && again.out.contains(u"already downloaded"_s));
        QCOMPARE(m_server->requests().size(), 1);

        QVERIFY(TestFiles::write(placed, QByteArray(m_modelBody.size(), 'x')));
        QCOMPARE(murmel({u"models"_s, u"download"_s, u"base.en"_s, u"--force"_s}).exitCode, 0);
        QCOMPARE(TestFiles::read(placed), m_modelBody);
        QCOMPARE(m_server->requests().size(), 2);
    }

    void interruptCancelsCleanly()
    {
        serveModel({.body = m_modelBody, .chunkSize = 64 * 1024, .chunkDelayMs = 200});
        QProcess process;
        process.start(binary(), {u"models"_s, u"download"_s, u"base.en"_s});
        QSignalSpy requested(m_server.get(), &TestHttpServer::requestReceived);
        QVERIFY(requested.wait(10000));
        QTest::qWait(300); // some bytes are on disk by now
        QVERIFY(QFile::exists(modelsFolder() + u"/ggml-base.en.bin.part"_s));
        // Another process sees the download in progress.
        QVERIFY(murmel({u"models"_s}).out.startsWith(u"base.en   Base (fast, English)        142 MB   downloading\n"_s));
        ::kill(static_cast<pid_t>(process.processId()), SIGINT);
        const Result result = finish(process);
        QCOMPARE(result.exitCode, 130);
        QVERIFY2(result.err.contains(u"Download cancelled."_s), qPrintable(result.err));
        QCOMPARE(QDir(modelsFolder()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    // Each file under a header that shows, not obeys, escapes in its name; a failing file stops
    // nothing; one engine load, in the language asked for, for all. JSON names the file.
    void transcribeSeveralFiles()
    {
        const QString tone = toneForTheSmallModel();
        QVERIFY(!tone.isEmpty());
        const QString evil = m_environment->home() + u"/talk\x1b]0;owned\x07.mp3"_s;
        QVERIFY(QFile::copy(tone, evil));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"QT_LOGGING_RULES"_s, u"murmel.speech.debug=true"_s);
        const Result result = murmel({u"transcribe"_s, u"--format"_s, u"vtt"_s, u"--language"_s, u"de"_s, evil,
                                      m_environment->home() + u"/missing.wav"_s, tone}, environment);
        QCOMPARE(result.exitCode, 1);
        const QString vtt = u" <==\nWEBVTT\n\n1\n00:00:00.000 --> 00:00:00.100\n"_s + FixtureModels::phrase.trimmed() + u'\n';
        QCOMPARE(result.out, u"==> "_s + m_environment->home() + u"/talk\uFFFD]0;owned\uFFFD.mp3"_s + vtt + u"\n==> "_s + tone + vtt);
        QVERIFY2(result.err.contains(u"missing.wav: No such file or directory"_s), qPrintable(result.err));
        QCOMPARE(result.err.count(u"Loading \"ggml-small.bin\" for language \"de\""_s), 1);
        const Result json = murmel({u"transcribe"_s, tone, u"--format"_s, u"json"_s});
        QCOMPARE(QJsonDocument::fromJson(json.out.toUtf8()).object().value(u"file").toString(), tone);
        // Once the output cannot be written, the next file is not worked on.
        const Result full = MurmelProcess::murmelInto(u"/dev/full"_s, {u"transcribe"_s, tone, u"missing.wav"_s});
        QVERIFY2(full.exitCode == 1 && !full.err.contains(u"missing.wav"_s), qPrintable(full.err));

    }

    // The engine picks the best of its processor code, and a processor without AVX (an
    // emulated one) gets code it can run, to the same words.
    void engineRunsOnEveryProcessor()
    {
        const QString version = murmel({u"--version"_s}).out;
        const QRegularExpressionMatch engine
            = QRegularExpression(u"\nspeech engine: whisper.cpp [0-9.]+, processor code for ([a-z0-9]+) \\("_s).match(version);
        QVERIFY2(engine.hasMatch(), qPrintable(version));
        QVERIFY(QFile::exists(QFileInfo(binary()).path() + u"/modules/libggml-cpu-"_s + engine.captured(1) + u".so"_s));
#if defined(__SANITIZE_ADDRESS__) || !defined(Q_PROCESSOR_X86_64)
        QSKIP("an emulated processor without AVX needs an x86-64 build without the sanitizer, whose shadow "
              "memory does not fit in the emulator's address space");
#endif
        const QString tone = toneForTheSmallModel();
        QVERIFY(!tone.isEmpty());
        const auto nehalem = [](QStringList arguments) {
            return MurmelProcess::run(u"qemu-x86_64"_s, QStringList{u"-cpu"_s, u"Nehalem"_s, binary()} + arguments);
        };
        QVERIFY2(nehalem({u"--version"_s}).out.contains(u"processor code for sse42 (SSE3, SSSE3,"_s),
                 qPrintable(nehalem({u"--version"_s}).err));
        QCOMPARE(nehalem({u"transcribe"_s, tone}).out.trimmed(), FixtureModels::phrase.trimmed());
    }

    // The graphics card gives the processor's words; without a driver, or switched off, the
    // processor runs the model, and switched off the card's driver is never even started.
    // Mesa's software card stands in for one: ggml takes it only when named.
    void graphicsCardOrProcessor_data()
    {
        QTest::addColumn<QStringList>("variables");
        QTest::addColumn<bool>("wanted");
        QTest::addColumn<QStringList>("logged");
        QTest::addColumn<bool>("vulkanStarted");
        QTest::addColumn<QString>("versionLine");
        // whisper.cpp's own line shows the card really computes.
        QTest::newRow("software card") << QStringList() << true
                                       << QStringList{u"The graphics card llvmpipe"_s, u"using Vulkan0 backend"_s} << true
                                       << u"graphics card: llvmpipe"_s;
        QTest::newRow("no driver") << QStringList{u"VK_ICD_FILENAMES=/nonexistent.json"_s,
                                                  u"VK_DRIVER_FILES=/nonexistent.json"_s}
                                   << true << QStringList{u"No graphics card found"_s} << true
                                   << u"graphics card: none found"_s;
        QTest::newRow("switched off") << QStringList() << false << QStringList() << false
                                      << u"graphics card: turned off"_s;
        // Without a render node (a machine with no card, as here) Vulkan is not even asked.
        if (QDir(u"/dev/dri"_s).entryList({u"renderD*"_s}, QDir::System).isEmpty() && !QFile::exists(u"/dev/nvidia0"_s))
            QTest::newRow("no card to ask") << QStringList{u"GGML_VK_VISIBLE_DEVICES="_s} << true
                                            << QStringList{u"No graphics card found"_s} << false
                                            << u"graphics card: none found"_s;
    }

    void graphicsCardOrProcessor()
    {
        QFETCH(QStringList, variables);
        QFETCH(bool, wanted);
        QFETCH(QStringList, logged);
        QFETCH(bool, vulkanStarted);
        QFETCH(QString, versionLine);
#if defined(__SANITIZE_ADDRESS__)
        if (qstrcmp(QTest::currentDataTag(), "software card") == 0)
            QSKIP("Mesa's software card compiles its shaders through the sanitizer's allocator for over five minutes");
#endif
        const QString tone = toneForTheSmallModel();
        QVERIFY(!tone.isEmpty());
        QCOMPARE(murmel({u"config"_s, u"set"_s, u"coreMLEnabled"_s, wanted ? u"true"_s : u"false"_s}).exitCode, 0);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"QT_LOGGING_RULES"_s, u"murmel.speech.debug=true"_s);
        environment.insert(u"GGML_VK_VISIBLE_DEVICES"_s, u"0"_s);
        // The software card compiles its shaders on first use, kept for later runs: half a
        // minute on an idle machine, over a minute beside other tests.
        environment.insert(u"MESA_SHADER_CACHE_DIR"_s, QFileInfo(binary()).path() + u"/tests/shader-cache"_s);
        for (const QString &variable : variables)
            environment.insert(variable.section(u'=', 0, 0), variable.section(u'=', 1));
        const Result result = murmel({u"transcribe"_s, tone}, environment, 300000);
        QVERIFY2(result.out.trimmed() == FixtureModels::phrase.trimmed(), qPrintable(result.out + result.err));
        for (const QString &line : logged)
            QVERIFY2(result.err.contains(line), qPrintable(result.err));
        QVERIFY2(result.err.contains(u"Vulkan"_s) == vulkanStarted, qPrintable(result.err));
        const Result version = murmel({u"--version"_s}, environment);
        QVERIFY2(version.out.contains(u'\n' + versionLine), qPrintable(version.out));
        QCOMPARE(version.err.contains(u"Vulkan"_s), vulkanStarted);
    }

    // Newest first, one line each; a title or a text that carries escape sequences (a file
    // name can) must not retitle or clear the terminal it is listed on.
    void historyListsNewestFirstAndSafely()
    {
        const TranscriptRecord evil = store()->add(TranscriptRecord::Kind::file, u"talk\x1b]0;owned\x07\x1b[2J"_s,
                                                   u"line one\nline\ttwo\x1b[2J"_s, 3.0);
        const Result listed = murmel({u"history"_s});
        QCOMPARE(listed.exitCode, 0);
        const QStringList lines = listed.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines.at(0).startsWith(Uuids::canonical(evil.id) + u"  "_s));
        QVERIFY2(lines.at(0).endsWith(u"  file       talk\uFFFD]0;owned\uFFFD\uFFFD[2J"_s), qPrintable(listed.out));
        QVERIFY(lines.at(1).endsWith(u"  dictation  Send the report"_s));
        QVERIFY(lines.at(2).endsWith(u"  file       interview"_s));
        QCOMPARE(murmel({u"history"_s, u"show"_s, Uuids::canonical(evil.id)}).out, u"line one\nline\ttwo\uFFFD[2J\n"_s);
    }

    void historyJsonCarriesTheRecords()
    {
        const QJsonArray records = QJsonDocument::fromJson(murmel({u"history"_s, u"--json"_s}).out.toUtf8()).array();
        QCOMPARE(records.size(), 2);
        const QJsonObject file = records.at(1).toObject();
        QCOMPARE(file.value(u"id").toString(), Uuids::canonical(m_history.at(0).id));
        QCOMPARE(file.value(u"kind").toString(), u"file"_s);
        QCOMPARE(file.value(u"duration").toDouble(), 61.5);
        QCOMPARE(file.value(u"text").toString(), u"A long interview about Qt."_s);
        QCOMPARE(QDateTime::fromString(file.value(u"time").toString(), Qt::ISODateWithMs), m_history.at(0).dateTime());
        QVERIFY(!records.at(0).toObject().contains(u"duration"));
    }

    // Damage is said, and fails the script; what can be read is still listed, and a far date
    // shows as unknown.
    void damagedHistoryIsReported()
    {
        const QJsonArray records = QJsonDocument::fromJson(TestFiles::read(historyPath())).array();
        QJsonObject dictation = records.at(0).toObject(), interview = records.at(1).toObject();
        dictation[u"date"] = 1e15;
        interview[u"kind"] = u"memo"_s;
        QVERIFY(TestFiles::write(historyPath(), QJsonDocument(QJsonArray{dictation, interview}).toJson()));

        const Result listed = murmel({u"history"_s});
        QCOMPARE(listed.exitCode, 1);
        QCOMPARE(listed.out, Uuids::canonical(m_history.at(1).id) + u"  unknown date      dictation  Send the report\n"_s);
        QCOMPARE(listed.lastErrLine(), u"The history file is damaged: 1 of its 2 transcripts cannot be read. "
                                       "It will be kept under another name when the history next changes."_s);
        const Result json = murmel({u"history"_s, u"--json"_s});
        QCOMPARE(json.exitCode, 1);
        QVERIFY(QJsonDocument::fromJson(json.out.toUtf8()).array().at(0).toObject().value(u"time").isNull());
    }

};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
