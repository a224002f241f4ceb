#include "app/preferencekeys.h"
#include "app/preferences.h"
#include "testenvironment.h"
#include "murmelprocess.h"
#include "testhttpserver.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <csignal>

using MurmelProcess::Result;
using MurmelProcess::binary;
using MurmelProcess::finish;
using MurmelProcess::murmel;

// Drives the real `murmel` binary, as a user or a script would.
class TestCommandLine final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestEnvironment> m_environment;

    QString preferencesPath() const { return m_environment->configHome() + u"/Murmel/preferences.json"_qs; }
    QString modelsFolder() const { return m_environment->dataHome() + u"/Murmel/Models"_qs; }

    void useServer(TestHttpServer &server, const QByteArray &body)
    {
        qputenv("MURMEL_MODEL_BASE_URL", server.url(u"/repo/"_qs).toString().toLocal8Bit());
        const QString catalog = m_environment->home() + u"/catalog.json"_qs;
        QFile file(catalog);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const QString digest = QString::fromLatin1(QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex());
        file.write(QJsonDocument(QJsonObject{{u"base.en"_qs, digest}}).toJson());
        qputenv("MURMEL_MODEL_CATALOG", catalog.toLocal8Bit());
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(QFile::exists(binary()), "MURMEL_BINARY must name the built murmel"); }
    void init() { m_environment = std::make_unique<TestEnvironment>(); }
    void cleanup() { m_environment.reset(); }

    void configListShowsEveryKeyAndItsDefault()
    {
        const Result result = murmel({u"config"_qs, u"list"_qs});
        QCOMPARE(result.exitCode, 0);
        const QStringList lines = result.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), PreferenceKeys::all().size());
        QVERIFY(lines.contains(u"holdToTalk           false  (default)"_qs));
        QVERIFY(lines.contains(u"retentionDays        0  (default)"_qs));
        QVERIFY(lines.contains(u"whisperModel         \""_qs + PreferenceKeys::defaultWhisperModel() + u"\"  (default)"_qs));
        QVERIFY(lines.contains(u"dictateHotkey        (not set)"_qs));
    }

    void setGetUnsetRoundTrip_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("defaultText");
        QTest::newRow("boolean") << u"holdToTalk"_qs << u"true"_qs << u"false"_qs;
        QTest::newRow("integer") << u"retentionDays"_qs << u"30"_qs << u"0"_qs;
        QTest::newRow("string") << u"language"_qs << u"\"de\""_qs << u"\"auto\""_qs;
        QTest::newRow("choice") << u"dictationSpeed"_qs << u"\"accurate\""_qs << u"\"fast\""_qs;
        QTest::newRow("dictionary") << u"dictateHotkey"_qs << u"{\"display\":\"Ctrl+Alt+Space\",\"keyCode\":57,\"modifiers\":786432}"_qs << u"null"_qs;
        QTest::newRow("data") << u"vocabularyRules"_qs << u"[{\"heard\":\"murmle\",\"wanted\":\"Murmel\"}]"_qs << u"null"_qs;
    }

    void setGetUnsetRoundTrip()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QString, defaultText);
        QCOMPARE(murmel({u"config"_qs, u"get"_qs, key}).out.trimmed(), defaultText);
        const Result set = murmel({u"config"_qs, u"set"_qs, key, value});
        QVERIFY2(set.exitCode == 0, qPrintable(set.err));
        QCOMPARE(murmel({u"config"_qs, u"get"_qs, key}).out.trimmed(), value);
        const QString listed = murmel({u"config"_qs, u"list"_qs}).out;
        QVERIFY(listed.contains(key.leftJustified(21) + value + u'\n'));
        QCOMPARE(murmel({u"config"_qs, u"unset"_qs, key}).exitCode, 0);
        QCOMPARE(murmel({u"config"_qs, u"get"_qs, key}).out.trimmed(), defaultText);
    }

    void refusals_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown key") << QStringList{u"set"_qs, u"holdtotalk"_qs, u"true"_qs} << u"Unknown preference \"holdtotalk\""_qs;
        QTest::newRow("get unknown key") << QStringList{u"get"_qs, u"theme"_qs} << u"Unknown preference \"theme\""_qs;
        QTest::newRow("string for a boolean") << QStringList{u"set"_qs, u"holdToTalk"_qs, u"\"true\""_qs} << u"\"holdToTalk\" takes a boolean"_qs;
        QTest::newRow("fraction for an integer") << QStringList{u"set"_qs, u"retentionDays"_qs, u"1.5"_qs} << u"\"retentionDays\" takes an integer"_qs;
        QTest::newRow("negative days") << QStringList{u"set"_qs, u"retentionDays"_qs, u"-3"_qs} << u"0 or more"_qs;
        QTest::newRow("not JSON") << QStringList{u"set"_qs, u"language"_qs, u"de"_qs} << u"de is not a JSON value"_qs;
        QTest::newRow("two values") << QStringList{u"set"_qs, u"language"_qs, u"\"de\", \"fr\""_qs} << u"is not a JSON value"_qs;
        QTest::newRow("unknown model") << QStringList{u"set"_qs, u"whisperModel"_qs, u"\"medium\""_qs} << u"base.en, base, small, large-v3"_qs;
        QTest::newRow("hotkey shape") << QStringList{u"set"_qs, u"dictateHotkey"_qs, u"{\"keyCode\":57}"_qs} << u"\"dictateHotkey\" takes"_qs;
        QTest::newRow("object for data") << QStringList{u"set"_qs, u"customStyles"_qs, u"{}"_qs} << u"takes a JSON array"_qs;
        QTest::newRow("missing value") << QStringList{u"set"_qs, u"language"_qs} << u"Usage:"_qs;
        QTest::newRow("unknown verb") << QStringList{u"reset"_qs} << u"Usage:"_qs;
    }

    void refusals()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        const Result result = murmel(QStringList{u"config"_qs} + arguments);
        QCOMPARE(result.exitCode, 2);
        QVERIFY2(result.err.contains(message), qPrintable(result.err));
        QVERIFY(!QFile::exists(preferencesPath()));
    }

    void runningApplicationSeesTheChangeAtItsNextRead()
    {
        Preferences preferences(preferencesPath());
        QCOMPARE(preferences.stringOrDefault(PreferenceKeys::language), u"auto");
        QCOMPARE(murmel({u"config"_qs, u"set"_qs, u"language"_qs, u"\"ja\""_qs}).exitCode, 0);
        QCOMPARE(preferences.stringOrDefault(PreferenceKeys::language), u"ja");
    }

    void concurrentWritersLoseNothing()
    {
        const QStringList keys = {u"holdToTalk"_qs, u"clipboardSafeInsert"_qs, u"soundsEnabled"_qs, u"voiceEnabled"_qs,
                                  u"coreMLEnabled"_qs, u"hasOnboarded"_qs};
        std::vector<std::unique_ptr<QProcess>> processes;
        for (const QString &key : keys) {
            processes.push_back(std::make_unique<QProcess>());
            processes.back()->start(binary(), {u"config"_qs, u"set"_qs, key, u"true"_qs});
        }
        for (auto &process : processes)
            QCOMPARE(finish(*process).exitCode, 0);
        Preferences preferences(preferencesPath());
        for (const QString &key : keys)
            QCOMPARE(preferences.boolean(key), std::optional(true));
    }

    void modelsListsEveryModelWithItsState()
    {
        QDir().mkpath(modelsFolder());
        QFile present(modelsFolder() + u"/ggml-small.bin"_qs);
        QVERIFY(present.open(QIODevice::WriteOnly));
        present.close();
        const Result result = murmel({u"models"_qs});
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.out, u"base.en   Base (fast, English)        142 MB   missing\n"
                             "base      Base (fast, multilingual)   142 MB   missing\n"
                             "small     Small (balanced)            466 MB   ready\n"
                             "large-v3  Large v3 (most accurate)    2.9 GB   missing\n"_qs);
    }

    void modelsDownloadFetchesVerifiesAndPlaces()
    {
        TestHttpServer server;
        QVERIFY(server.listen());
        const QByteArray body(1024 * 1024 + 5, 'm');
        server.setResponse(u"/repo/ggml-base.en.bin"_qs, {.body = body});
        useServer(server, body);
        const Result result = murmel({u"models"_qs, u"download"_qs, u"base.en"_qs});
        QVERIFY2(result.exitCode == 0, qPrintable(result.err));
        QCOMPARE(result.out.trimmed(), u"Downloaded Base (fast, English) to "_qs + modelsFolder() + u"/ggml-base.en.bin"_qs);
        QVERIFY(!result.err.contains(u'#')); // no progress bar when not on a terminal
        QFile file(modelsFolder() + u"/ggml-base.en.bin"_qs);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), body);
        QVERIFY(murmel({u"models"_qs}).out.startsWith(u"base.en   Base (fast, English)        142 MB   ready\n"_qs));

        const Result again = murmel({u"models"_qs, u"download"_qs, u"base.en"_qs});
        QCOMPARE(again.exitCode, 0);
        QVERIFY(again.out.contains(u"already downloaded"_qs));
        QCOMPARE(server.requests().size(), 1);
    }

    void modelsDownloadFailures_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("catalogBody"); // what the catalog expects
        QTest::addColumn<QString>("message");
        QTest::newRow("404") << 404 << QByteArray("x") << u"Could not download Base (fast, English). The server returned HTTP 404."_qs;
        QTest::newRow("checksum") << 200 << QByteArray("other") << u"Base (fast, English) failed verification after download. Please try again."_qs;
    }

    void modelsDownloadFailures()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, catalogBody);
        QFETCH(QString, message);
        TestHttpServer server;
        QVERIFY(server.listen());
        server.setResponse(u"/repo/ggml-base.en.bin"_qs, {.status = status, .body = "the served bytes"});
        useServer(server, catalogBody);
        const Result result = murmel({u"models"_qs, u"download"_qs, u"base.en"_qs});
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.err.trimmed(), message);
        QCOMPARE(QDir(modelsFolder()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    void progressBarOnATerminal()
    {
        TestHttpServer server;
        QVERIFY(server.listen());
        const QByteArray body(2 * 1024 * 1024, 't');
        server.setResponse(u"/repo/ggml-base.en.bin"_qs, {.body = body, .chunkSize = 128 * 1024, .chunkDelayMs = 30});
        useServer(server, body);
        // script(1) gives the command a terminal and copies what it draws to its output.
        QProcess process;
        process.start(u"script"_qs, {u"-qec"_qs, binary() + u" models download base.en"_qs, u"/dev/null"_qs});
        const Result result = finish(process);
        QCOMPARE(result.exitCode, 0);
        QVERIFY2(result.out.contains(u"Base (fast, English) ["_qs), qPrintable(result.out));
        QVERIFY(result.out.contains(u"[##############################] 100%"_qs));
        QVERIFY(result.out.contains(u"\r"_qs));
        QVERIFY(result.out.contains(u"Downloaded Base (fast, English) to "_qs));
    }

    void unknownModelName()
    {
        const Result result = murmel({u"models"_qs, u"download"_qs, u"medium"_qs});
        QCOMPARE(result.exitCode, 2);
        QVERIFY(result.err.contains(u"Unknown model \"medium\". Choose one of: base.en, base, small, large-v3."_qs));
    }

    void interruptCancelsCleanly()
    {
        TestHttpServer server;
        QVERIFY(server.listen());
        const QByteArray body(4 * 1024 * 1024, 'i');
        server.setResponse(u"/repo/ggml-base.en.bin"_qs, {.body = body, .chunkSize = 64 * 1024, .chunkDelayMs = 50});
        useServer(server, body);
        QProcess process;
        process.start(binary(), {u"models"_qs, u"download"_qs, u"base.en"_qs});
        QSignalSpy requested(&server, &TestHttpServer::requestReceived);
        QVERIFY(requested.wait(10000));
        QTest::qWait(300); // some bytes are on disk by now
        QVERIFY(QFile::exists(modelsFolder() + u"/ggml-base.en.bin.part"_qs));
        // Another process sees the download in progress.
        QVERIFY(murmel({u"models"_qs}).out.startsWith(u"base.en   Base (fast, English)        142 MB   downloading\n"_qs));
        ::kill(static_cast<pid_t>(process.processId()), SIGINT);
        const Result result = finish(process);
        QCOMPARE(result.exitCode, 130);
        QVERIFY2(result.err.contains(u"Download cancelled."_qs), qPrintable(result.err));
        QCOMPARE(QDir(modelsFolder()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    void withoutADisplayTheUsageIsShown()
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(u"DISPLAY"_qs);
        environment.remove(u"WAYLAND_DISPLAY"_qs);
        environment.remove(u"QT_QPA_PLATFORM"_qs);
        process.setProcessEnvironment(environment);
        process.start(binary(), {});
        const Result result = finish(process);
        QCOMPARE(result.exitCode, 1);
        QVERIFY(result.err.contains(u"needs a graphical session"_qs));
        QVERIFY(result.err.contains(u"murmel config set KEY VALUE"_qs));
        QVERIFY(result.err.contains(u"murmel models download NAME"_qs));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
