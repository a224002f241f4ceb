#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"
#include "murmelprocess.h"
#include "testenvironment.h"
#include "testhttpserver.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <csignal>

using namespace Qt::StringLiterals;

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

    QString preferencesPath() const { return m_environment->configHome() + u"/Murmel/preferences.json"_s; }
    QString modelsFolder() const { return m_environment->dataHome() + u"/Murmel/Models"_s; }

    void useServer(TestHttpServer &server, const QByteArray &body)
    {
        qputenv("MURMEL_MODEL_BASE_URL", server.url(u"/repo/"_s).toString().toLocal8Bit());
        const QString catalog = m_environment->home() + u"/catalog.json"_s;
        QFile file(catalog);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const QString digest = QString::fromLatin1(QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex());
        file.write(QJsonDocument(QJsonObject{{u"base.en"_s, digest}}).toJson());
        qputenv("MURMEL_MODEL_CATALOG", catalog.toLocal8Bit());
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(QFile::exists(binary()), "MURMEL_BINARY must name the built murmel"); }
    void init() { m_environment = std::make_unique<TestEnvironment>(); }
    void cleanup() { m_environment.reset(); }

    void configListShowsEveryKeyAndItsDefault()
    {
        const Result result = murmel({u"config"_s, u"list"_s});
        QCOMPARE(result.exitCode, 0);
        const QStringList lines = result.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), PreferenceKeys::all().size());
        QVERIFY(lines.contains(u"holdToTalk           false  (default)"_s));
        QVERIFY(lines.contains(u"retentionDays        0  (default)"_s));
        QVERIFY(lines.contains(u"whisperModel         \""_s + PreferenceKeys::defaultWhisperModel() + u"\"  (default)"_s));
        QVERIFY(lines.contains(u"dictateHotkey        (not set)"_s));
    }

    // A full disk or a closed file fails the command with the reason, rather than leaving a
    // cut file behind a success.
    void unwritableOutputFails_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("version") << QStringList{u"--version"_s};
        QTest::newRow("config list") << QStringList{u"config"_s, u"list"_s};
        QTest::newRow("history as JSON") << QStringList{u"history"_s, u"--json"_s};
    }

    void unwritableOutputFails()
    {
        QFETCH(QStringList, arguments);
        const Result result = MurmelProcess::murmelInto(u"/dev/full"_s, arguments);
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(result.lastErrLine().startsWith(u"The output could not be written: "_s), qPrintable(result.err));
        QVERIFY2(result.lastErrLine().size() > 40, qPrintable(result.err)); // the system's reason follows
    }

    // Transcripts, preferences and models are for the user alone: created so, and files an
    // older Murmel left readable by others are taken back.
    void filesAreForTheUserAlone()
    {
        const QString history = m_environment->dataHome() + u"/Murmel/History/history.json"_s;
        QVERIFY(QDir().mkpath(QFileInfo(history).path()));
        QFile old(history);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("[]");
        old.close();
        QVERIFY(old.setPermissions(old.permissions() | QFileDevice::ReadGroup | QFileDevice::ReadOther));

        QCOMPARE(murmel({u"config"_s, u"set"_s, u"language"_s, u"\"de\""_s}).exitCode, 0);
        QCOMPARE(murmel({u"history"_s}).exitCode, 0);
        QCOMPARE(murmel({u"models"_s}).exitCode, 0);

        const auto folder = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
        const auto file = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
        const auto mode = [](const QString &path) {
            // QFileDevice's permissions give the user's bits twice (owner and user).
            return QFile::permissions(path) & ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
        };
        QCOMPARE(mode(QFileInfo(preferencesPath()).path()), folder);
        QCOMPARE(mode(preferencesPath()), file);
        QCOMPARE(mode(QFileInfo(history).path()), folder);
        QCOMPARE(mode(history), file);
        QCOMPARE(mode(modelsFolder()), folder);
    }

    void setGetUnsetRoundTrip_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("defaultText");
        QTest::newRow("boolean") << u"holdToTalk"_s << u"true"_s << u"false"_s;
        QTest::newRow("string") << u"language"_s << u"\"de\""_s << u"\"auto\""_s;
        QTest::newRow("data") << u"vocabularyRules"_s << u"[{\"heard\":\"murmle\",\"wanted\":\"Murmel\"}]"_s << u"null"_s;
    }

    void setGetUnsetRoundTrip()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QString, defaultText);
        QCOMPARE(murmel({u"config"_s, u"get"_s, key}).out.trimmed(), defaultText);
        const Result set = murmel({u"config"_s, u"set"_s, key, value});
        QVERIFY2(set.exitCode == 0, qPrintable(set.err));
        QCOMPARE(murmel({u"config"_s, u"get"_s, key}).out.trimmed(), value);
        const QString listed = murmel({u"config"_s, u"list"_s}).out;
        QVERIFY(listed.contains(key.leftJustified(21) + value + u'\n'));
        QCOMPARE(murmel({u"config"_s, u"unset"_s, key}).exitCode, 0);
        QCOMPARE(murmel({u"config"_s, u"get"_s, key}).out.trimmed(), defaultText);
    }

    // Refused input changes nothing and says why, with the usage exit code.
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
        QTest::newRow("missing value") << config({u"set"_s, u"language"_s}) << u"Usage:"_s;
        QTest::newRow("unknown model") << QStringList{u"models"_s, u"download"_s, u"medium"_s}
                                       << u"Unknown model \"medium\". Choose one of: base.en, base, small, large-v3."_s;
    }

    void refusals()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        const Result result = murmel(arguments);
        QCOMPARE(result.exitCode, 2);
        QVERIFY2(result.err.contains(message), qPrintable(result.err));
        QVERIFY(!QFile::exists(preferencesPath()));
        QVERIFY(!QFile::exists(modelsFolder()) || QDir(modelsFolder()).isEmpty());
    }

    // A preferences file Murmel cannot use is said, never passed off as the defaults.
    void unusablePreferencesAreSaid_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("damaged") << u"damaged"_s << QStringList{u"list"_s} << u"is damaged ("_s;
        QTest::newRow("a folder") << u"folder"_s << QStringList{u"get"_s, u"language"_s} << u"cannot be read ("_s;
        QTest::newRow("read-only folder") << u"read-only"_s << QStringList{u"set"_s, u"holdToTalk"_s, u"true"_s}
                                          << u"its folder cannot be written to."_s;
    }

    void unusablePreferencesAreSaid()
    {
        QFETCH(QString, fault);
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        QVERIFY(QDir().mkpath(QFileInfo(preferencesPath()).path()));
        Result result;
        if (fault == u"damaged"_s) {
            QFile file(preferencesPath());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("{\"language\": \"de\"");
            file.close();
            result = murmel(QStringList{u"config"_s} + arguments);
        } else if (fault == u"folder"_s) {
            QVERIFY(QDir().mkpath(preferencesPath()));
            result = murmel(QStringList{u"config"_s} + arguments);
        } else {
            if (!MurmelProcess::canConfine())
                QSKIP("this machine gives no mount namespaces to mount in (unshare -rm)");
            const QString folder = QFileInfo(preferencesPath()).path();
            result = MurmelProcess::murmelConfined(u"mount --bind -o ro '%1' '%1'"_s.arg(folder),
                                                   QStringList{u"config"_s} + arguments);
        }
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(result.lastErrLine().contains(message), qPrintable(result.err));
    }

    void cleanupModeTakesAnExistingCustomStyle()
    {
        const QString selection = u"\"custom:6F9619FF-8B86-D011-B42D-00C04FC964FF\""_s;
        QCOMPARE(murmel({u"config"_s, u"set"_s, u"customStyles"_s,
                         u"[{\"id\":\"6F9619FF-8B86-D011-B42D-00C04FC964FF\",\"name\":\"Pirate\",\"prompt\":\"Arr.\"}]"_s})
                     .exitCode,
                 0);
        const Result set = murmel({u"config"_s, u"set"_s, u"cleanupMode"_s, selection});
        QVERIFY2(set.exitCode == 0, qPrintable(set.err));
        QCOMPARE(murmel({u"config"_s, u"get"_s, u"cleanupMode"_s}).out.trimmed(), selection);
    }

    void concurrentWritersLoseNothing()
    {
        const QStringList keys = {u"holdToTalk"_s, u"clipboardSafeInsert"_s, u"soundsEnabled"_s, u"voiceEnabled"_s,
                                  u"coreMLEnabled"_s, u"hasOnboarded"_s};
        std::vector<std::unique_ptr<QProcess>> processes;
        for (const QString &key : keys) {
            processes.push_back(std::make_unique<QProcess>());
            processes.back()->start(binary(), {u"config"_s, u"set"_s, key, u"true"_s});
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
        QFile present(modelsFolder() + u"/ggml-small.bin"_s);
        QVERIFY(present.open(QIODevice::WriteOnly));
        present.close();
        const Result result = murmel({u"models"_s});
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.out, u"base.en   Base (fast, English)        142 MB   missing\n"
                             "base      Base (fast, multilingual)   142 MB   missing\n"
                             "small     Small (balanced)            466 MB   ready\n"
                             "large-v3  Large v3 (most accurate)    2.9 GB   missing\n"_s);
    }

    void modelsDownloadFetchesVerifiesAndPlaces()
    {
        TestHttpServer server;
        QVERIFY(server.listen());
        const QByteArray body(1024 * 1024 + 5, 'm');
        server.setResponse(u"/repo/ggml-base.en.bin"_s, {.body = body});
        useServer(server, body);
        const Result result = murmel({u"models"_s, u"download"_s, u"base.en"_s});
        QVERIFY2(result.exitCode == 0, qPrintable(result.err));
        QCOMPARE(result.out.trimmed(), u"Downloaded Base (fast, English) to "_s + modelsFolder() + u"/ggml-base.en.bin"_s);
        QVERIFY(!result.err.contains(u'#')); // no progress bar when not on a terminal
        QFile file(modelsFolder() + u"/ggml-base.en.bin"_s);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), body);
        QVERIFY(murmel({u"models"_s}).out.startsWith(u"base.en   Base (fast, English)        142 MB   ready\n"_s));

        const Result again = murmel({u"models"_s, u"download"_s, u"base.en"_s});
        QCOMPARE(again.exitCode, 0);
        QVERIFY(again.out.contains(u"already downloaded"_s));
        QCOMPARE(server.requests().size(), 1);

        // A damaged file of any size is replaced on request, once the new one is verified.
        file.close();
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QByteArray(body.size(), 'x'));
        file.close();
        const Result forced = murmel({u"models"_s, u"download"_s, u"base.en"_s, u"--force"_s});
        QVERIFY2(forced.exitCode == 0, qPrintable(forced.err));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), body);
        QCOMPARE(server.requests().size(), 2);
    }

    void modelsDownloadFailures_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QByteArray>("catalogBody"); // what the catalog expects
        QTest::addColumn<QString>("message");
        const QString prefix = u"Could not download Base (fast, English). "_s;
        const QByteArray served(256 * 1024, 's');
        QTest::newRow("404") << u"404"_s << QByteArray("x") << prefix + u"The server returned HTTP 404."_s;
        QTest::newRow("checksum") << QString() << QByteArray("other") << u"Base (fast, English) failed verification after download. Please try again."_s;
        QTest::newRow("redirect loop") << u"loop"_s << served << prefix + u"The server redirected the download in a loop."_s;
        QTest::newRow("a part for the whole") << u"part"_s << served << prefix + u"The server sent only a part of the file when asked for all of it."_s;
        QTest::newRow("disk full") << u"full"_s << served << prefix + u"Could not write %1/ggml-base.en.bin.part: No space left on device"_s;
        QTest::newRow("read-only folder") << u"read-only"_s << served << prefix + u"The models folder %1 cannot be written to."_s;
    }

    void modelsDownloadFailures()
    {
        QFETCH(QString, fault);
        QFETCH(QByteArray, catalogBody);
        QFETCH(QString, message);
        TestHttpServer server;
        QVERIFY(server.listen());
        const QString served = u"/repo/ggml-base.en.bin"_s;
        if (fault == u"404"_s)
            server.setResponse(served, {.status = 404, .body = "the served bytes"});
        else if (fault == u"loop"_s)
            server.setResponse(served, {.status = 302, .headers = {{"Location", served.toLatin1()}}});
        else if (fault == u"part"_s)
            server.setResponse(served, {.status = 206, .body = catalogBody});
        else
            server.setResponse(served, {.body = fault.isEmpty() ? QByteArray("the served bytes") : catalogBody});
        useServer(server, catalogBody);
        QVERIFY(QDir().mkpath(modelsFolder()));
        Result result;
        if (fault == u"full"_s || fault == u"read-only"_s) {
            if (!MurmelProcess::canConfine())
                QSKIP("this machine gives no mount namespaces to mount in (unshare -rm)");
            const QString mount = fault == u"full"_s ? u"mount -t tmpfs -o size=64k none '%1'"_s : u"mount --bind -o ro '%1' '%1'"_s;
            result = MurmelProcess::murmelConfined(mount.arg(modelsFolder()), {u"models"_s, u"download"_s, u"base.en"_s});
        } else {
            result = murmel({u"models"_s, u"download"_s, u"base.en"_s});
        }
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.lastErrLine(), message.contains(u"%1"_s) ? message.arg(modelsFolder()) : message);
        QCOMPARE(QDir(modelsFolder()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    void progressBarOnATerminal()
    {
        TestHttpServer server;
        QVERIFY(server.listen());
        const QByteArray body(2 * 1024 * 1024, 't');
        server.setResponse(u"/repo/ggml-base.en.bin"_s, {.body = body, .chunkSize = 128 * 1024, .chunkDelayMs = 30});
        useServer(server, body);
        // script(1) gives the command a terminal and copies what it draws to its output.
        QProcess process;
        process.start(u"script"_s, {u"-qec"_s, binary() + u" models download base.en"_s, u"/dev/null"_s});
        const Result result = finish(process);
        QCOMPARE(result.exitCode, 0);
        QVERIFY2(result.out.contains(u"Base (fast, English) ["_s), qPrintable(result.out));
        QVERIFY(result.out.contains(u"[##############################] 100%"_s));
        QVERIFY(result.out.contains(u"\r"_s));
        QVERIFY(result.out.contains(u"Downloaded Base (fast, English) to "_s));
    }

    void interruptCancelsCleanly()
    {
        TestHttpServer server;
        QVERIFY(server.listen());
        const QByteArray body(4 * 1024 * 1024, 'i');
        server.setResponse(u"/repo/ggml-base.en.bin"_s, {.body = body, .chunkSize = 64 * 1024, .chunkDelayMs = 50});
        useServer(server, body);
        QProcess process;
        process.start(binary(), {u"models"_s, u"download"_s, u"base.en"_s});
        QSignalSpy requested(&server, &TestHttpServer::requestReceived);
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

    void withoutADisplayTheUsageIsShown()
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(u"DISPLAY"_s);
        environment.remove(u"WAYLAND_DISPLAY"_s);
        environment.remove(u"QT_QPA_PLATFORM"_s);
        process.setProcessEnvironment(environment);
        process.start(binary(), {});
        const Result result = finish(process);
        QCOMPARE(result.exitCode, 1);
        QVERIFY(result.err.contains(u"needs a graphical session"_s));
        QVERIFY(result.err.contains(u"murmel config set KEY VALUE"_s));
        QVERIFY(result.err.contains(u"murmel models download NAME"_s));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
