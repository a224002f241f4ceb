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

Q_DECLARE_METATYPE(TestHttpServer::Response)
using Response = TestHttpServer::Response;

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
        const QString digest = QString::fromLatin1(QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex());
        QVERIFY(TestFiles::write(catalog, QJsonDocument(QJsonObject{{u"base.en"_s, digest}}).toJson()));
        qputenv("MURMEL_MODEL_CATALOG", catalog.toLocal8Bit());
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(QFile::exists(binary()), "MURMEL_BINARY must name the built murmel"); }
    void init() { m_environment = std::make_unique<TestEnvironment>(); }
    void cleanup() { m_environment.reset(); }

    // A full disk or a closed file fails the command with the system's reason, rather than
    // leaving a cut file behind a success.
    void unwritableOutputFails()
    {
        const Result result = MurmelProcess::murmelInto(u"/dev/full"_s, {u"config"_s, u"list"_s});
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.lastErrLine(), u"The output could not be written: No space left on device."_s);
    }

    // Transcripts, preferences and models are for the user alone: created so, and files an
    // older Murmel left readable by others are taken back.
    void filesAreForTheUserAlone()
    {
        const QString history = m_environment->dataHome() + u"/Murmel/History/history.json"_s;
        QVERIFY(TestFiles::write(history, "[]"));
        QVERIFY(QFile::setPermissions(history, QFile::permissions(history) | QFileDevice::ReadOther));
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
        for (const QString &folder : {QFileInfo(preferencesPath()).path(), QFileInfo(history).path(), modelsFolder()})
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
        QTest::newRow("data") << u"vocabularyRules"_s << u"[{\"heard\":\"murmle\",\"wanted\":\"Murmel\"}]"_s << u"null"_s
                              << u"(not set)"_s;
    }

    void setGetUnsetRoundTrip()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QString, defaultText);
        QFETCH(QString, listedDefault);
        const auto listed = [] { return murmel({u"config"_s, u"list"_s}).out.split(u'\n', Qt::SkipEmptyParts); };
        QCOMPARE(listed().size(), PreferenceKeys::all().size());
        QVERIFY(listed().contains(key.leftJustified(21) + listedDefault));
        QCOMPARE(murmel({u"config"_s, u"get"_s, key}).out.trimmed(), defaultText);
        const Result set = murmel({u"config"_s, u"set"_s, key, value});
        QVERIFY2(set.exitCode == 0, qPrintable(set.err));
        QCOMPARE(murmel({u"config"_s, u"get"_s, key}).out.trimmed(), value);
        QVERIFY(listed().contains(key.leftJustified(21) + value));
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
        const QStringList command = QStringList{u"config"_s} + arguments;
        Result result;
        if (fault == u"read-only"_s) {
            if (!MurmelProcess::canConfine())
                QSKIP("this machine gives no mount namespaces to mount in (unshare -rm)");
            const QString folder = QFileInfo(preferencesPath()).path();
            QVERIFY(QDir().mkpath(folder));
            result = MurmelProcess::murmelConfined(u"mount --bind -o ro '%1' '%1'"_s.arg(folder), command);
        } else {
            QVERIFY(fault == u"folder"_s ? QDir().mkpath(preferencesPath())
                                         : TestFiles::write(preferencesPath(), "{\"language\": \"de\""));
            result = murmel(command);
        }
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(result.lastErrLine().contains(message), qPrintable(result.err));
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

    // Listed with its state before and after; fetched once, verified, and fetched again on
    // request over a damaged copy of any size.
    void modelsDownloadFetchesVerifiesAndPlaces()
    {
        TestHttpServer server;
        QVERIFY(server.listen());
        const QByteArray body(1024 * 1024 + 5, 'm');
        server.setResponse(u"/repo/ggml-base.en.bin"_s, {.body = body});
        useServer(server, body);
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
        QCOMPARE(TestFiles::read(placed), body);
        QCOMPARE(murmel({u"models"_s}).out, u"base.en   Base (fast, English)        142 MB   ready\n"_s + others);
        const Result again = murmel({u"models"_s, u"download"_s, u"base.en"_s});
        QVERIFY(again.exitCode == 0 && again.out.contains(u"already downloaded"_s));
        QCOMPARE(server.requests().size(), 1);

        QVERIFY(TestFiles::write(placed, QByteArray(body.size(), 'x')));
        const Result forced = murmel({u"models"_s, u"download"_s, u"base.en"_s, u"--force"_s});
        QVERIFY2(forced.exitCode == 0, qPrintable(forced.err));
        QCOMPARE(TestFiles::read(placed), body);
        QCOMPARE(server.requests().size(), 2);
    }

    // Every failure says why, in the download's own words, and leaves no file behind.
    void modelsDownloadFailures_data()
    {
        QTest::addColumn<TestHttpServer::Response>("response");
        QTest::addColumn<QByteArray>("expected"); // what the catalog's checksum is of
        QTest::addColumn<QString>("mounts");
        QTest::addColumn<QString>("message");
        const QString prefix = u"Could not download Base (fast, English). "_s;
        const QByteArray body(256 * 1024, 's');
        const QByteArray path = "/repo/ggml-base.en.bin";
        QTest::newRow("404") << Response{.status = 404, .body = body} << body << QString()
                             << prefix + u"The server returned HTTP 404."_s;
        QTest::newRow("checksum") << Response{.body = body} << QByteArray("other") << QString()
                                  << u"Base (fast, English) failed verification after download. Please try again."_s;
        QTest::newRow("redirect loop") << Response{.status = 302, .headers = {{"Location", path}}} << body << QString()
                                       << prefix + u"The server redirected the download in a loop."_s;
        QTest::newRow("a part for the whole") << Response{.status = 206, .body = body} << body << QString()
                                              << prefix + u"The server sent only a part of the file when asked for all of it."_s;
        QTest::newRow("disk full") << Response{.body = body} << body << u"mount -t tmpfs -o size=64k none '%1'"_s
                                   << prefix + u"Could not write %1/ggml-base.en.bin.part: No space left on device"_s;
        QTest::newRow("read-only folder") << Response{.body = body} << body << u"mount --bind -o ro '%1' '%1'"_s
                                          << prefix + u"The models folder %1 cannot be written to."_s;
    }

    void modelsDownloadFailures()
    {
        QFETCH(TestHttpServer::Response, response);
        QFETCH(QByteArray, expected);
        QFETCH(QString, mounts);
        QFETCH(QString, message);
        if (!mounts.isEmpty() && !MurmelProcess::canConfine())
            QSKIP("this machine gives no mount namespaces to mount in (unshare -rm)");
        TestHttpServer server;
        QVERIFY(server.listen());
        server.setResponse(u"/repo/ggml-base.en.bin"_s, response);
        useServer(server, expected);
        QVERIFY(QDir().mkpath(modelsFolder()));
        const QStringList download = {u"models"_s, u"download"_s, u"base.en"_s};
        const Result result = mounts.isEmpty() ? murmel(download)
                                               : MurmelProcess::murmelConfined(mounts.arg(modelsFolder()), download);
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
        QVERIFY2(result.out.contains(u"\rBase (fast, English) ["_s)
                     && result.out.contains(u"[##############################] 100%"_s)
                     && result.out.contains(u"Downloaded Base (fast, English) to "_s),
                 qPrintable(result.out));
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
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const QString &name : {u"DISPLAY"_s, u"WAYLAND_DISPLAY"_s, u"QT_QPA_PLATFORM"_s})
            environment.remove(name);
        const Result result = murmel({}, environment);
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(result.err.contains(u"needs a graphical session"_s) && result.err.contains(u"murmel config set KEY VALUE"_s)
                     && result.err.contains(u"murmel models download NAME"_s),
                 qPrintable(result.err));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
