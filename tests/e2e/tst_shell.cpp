// The application shell end to end: the real murmel binary on a private display with a
// window manager, a private session bus with a stand-in panel (a StatusNotifierWatcher), a
// PulseAudio virtual microphone and the parrot model. Everything is driven the way a user,
// a panel or a script would: over D-Bus, with keys, with a second launch.
#include "childprocess.h"
#include "desktopsession.h"
#include "fixturemodels.h"
#include "murmelprocess.h"
#include "secretservicesession.h"
#include "soundsession.h"
#include "statusnotifierwatcher.h"
#include "testhttpserver.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

const QString service = QStringLiteral("app.murmel.Murmel");
const QString path = QStringLiteral("/app/murmel/Murmel");
const QString interface = QStringLiteral("app.murmel.Murmel");
const QString phrase = QStringLiteral("Hello from the parrot model.");

// Whether every visible pixel is a grey: what the idle eye must be.
bool isMonochrome(const QImage &image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x) {
            const QRgb pixel = argb.pixel(x, y);
            if (qAlpha(pixel) > 16 && (qRed(pixel) != qGreen(pixel) || qGreen(pixel) != qBlue(pixel)))
                return false;
        }
    return true;
}

} // namespace

class TestShell : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void dictationMethodsAndStatus();
    void transcribeFile_data();
    void transcribeFile();
    void secondLaunchHandsOverTheFirstFile();
    void closedWindowKeepsMurmelRunning();
    void trayMenuDrivesMurmel();
    void keyboardShortcuts();
    void scriptsTakeTurnsOnOneEngine();
    void quitStopsATranscriptionForAScript();
    void dictationCommand();

private Q_SLOTS:
    void onStatusChanged(const QString &status) { m_statusSignals << status; }
    void onPropertiesChanged(const QString &changedInterface, const QVariantMap &changed, const QStringList &)
    {
        if (changedInterface == interface && changed.contains(QStringLiteral("Status")))
            m_propertySignals << changed.value(QStringLiteral("Status")).toString();
    }

private:
    QProcessEnvironment environment() const;
    bool launch(const QProcessEnvironment &extra = {});
    QDBusMessage call(const QString &method, const QVariantList &arguments = {}, int timeoutMs = 60000);
    QString status();
    bool windowVisible(const QString &name);
    QString visibleWindow(const QString &name);
    QJsonArray history() const;
    QString modelPath() const;

    SecretServiceSession m_bus{SecretServiceSession::Keyring::none};
    DesktopSession m_desktop;
    SoundSession m_sound;
    TestHttpServer m_server;
    std::unique_ptr<StatusNotifierWatcher> m_panel;
    QTemporaryDir m_folder;
    QString m_speech;
    QString m_parrot;
    QProcess *m_murmel = nullptr;
    QString m_window; // the main window's X id, once launched
    QStringList m_statusSignals;
    QStringList m_propertySignals;
};

void TestShell::initTestCase()
{
    QVERIFY2(m_bus.start(), qPrintable(m_bus.error()));
    QVERIFY2(m_desktop.start(), qPrintable(m_desktop.error()));
    QVERIFY2(m_sound.start(), qPrintable(m_sound.error()));
    QVERIFY(m_server.listen());
    m_bus.enter();
    m_panel = std::make_unique<StatusNotifierWatcher>(m_bus.busAddress());
    QVERIFY2(m_panel->start(), qPrintable(m_panel->error()));

    m_speech = m_folder.filePath(QStringLiteral("speech.wav"));
    QCOMPARE(QProcess::execute(QStringLiteral("espeak-ng"),
                               {QStringLiteral("-w"), m_speech, QStringLiteral("Please write this down for me.")}),
             0);
    m_parrot = m_folder.filePath(QStringLiteral("parrot.bin"));
    QVERIFY(FixtureModels::make(m_parrot));
    QJsonObject digests;
    for (const char *name : {"base.en", "base", "small", "large-v3"})
        digests.insert(QString::fromLatin1(name), FixtureModels::sha256Of(m_parrot));
    QFile catalog(m_folder.filePath(QStringLiteral("catalog.json")));
    QVERIFY(catalog.open(QIODevice::WriteOnly));
    catalog.write(QJsonDocument(digests).toJson());

    QDBusConnection bus = QDBusConnection::sessionBus();
    QVERIFY(bus.connect(service, path, interface, QStringLiteral("StatusChanged"), this, SLOT(onStatusChanged(QString))));
    QVERIFY(bus.connect(service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                        QStringLiteral("PropertiesChanged"), this,
                        SLOT(onPropertiesChanged(QString, QVariantMap, QStringList))));
}

QProcessEnvironment TestShell::environment() const
{
    QProcessEnvironment variables = m_desktop.environment();
    variables.insert(m_bus.environment());
    variables.insert(m_sound.environment());
    return MurmelProcess::isolated(variables, m_folder.path(), m_server.url(QStringLiteral("/")));
}

QString TestShell::modelPath() const
{
    return m_folder.filePath(QStringLiteral("data/Murmel/Models/ggml-base.en.bin"));
}

void TestShell::init()
{
    for (const char *folder : {"config", "data"})
        QVERIFY(QDir(m_folder.filePath(QString::fromLatin1(folder))).removeRecursively());
    QVERIFY(QDir().mkpath(QFileInfo(modelPath()).absolutePath()));
    QVERIFY(QFile::copy(m_parrot, modelPath()));
    for (const auto &[key, value] : {std::pair{"language", "\"en\""}, std::pair{"hasOnboarded", "true"}}) {
        const MurmelProcess::Result result = MurmelProcess::murmel(
            {QStringLiteral("config"), QStringLiteral("set"), QString::fromLatin1(key), QString::fromLatin1(value)},
            environment());
        QVERIFY2(result.exitCode == 0, qPrintable(result.err));
    }
    m_server.setResponse(QStringLiteral("/models/ggml-base.en.bin"), {.status = 404});
    m_statusSignals.clear();
    m_propertySignals.clear();
}

void TestShell::cleanup()
{
    if (m_murmel) {
        ChildProcess::stop(*m_murmel);
        delete m_murmel;
        m_murmel = nullptr;
    }
    // Not QTRY: after a failed case it would not wait at all, and the next case's Murmel would
    // hand its launch to this one as it goes away.
    QVERIFY(QTest::qWaitFor([this] { return !m_bus.hasName(service); }, 10000));
}

// `extra` variables are added to the environment; with any, Murmel's output is kept for
// the test to read instead of passed through.
bool TestShell::launch(const QProcessEnvironment &extra)
{
    m_murmel = new QProcess;
    QProcessEnvironment variables = environment();
    variables.insert(extra);
    m_murmel->setProcessEnvironment(variables);
    m_murmel->setProcessChannelMode(extra.isEmpty() ? QProcess::ForwardedChannels : QProcess::MergedChannels);
    ChildProcess::dieWithParent(*m_murmel);
    m_murmel->start(MurmelProcess::binary(), {});
    m_window.clear();
    return QTest::qWaitFor([this] { return m_bus.hasName(service); }, 20000)
        && QTest::qWaitFor([this] { return !(m_window = visibleWindow(QStringLiteral("^Murmel$"))).isEmpty(); }, 20000);
}

QDBusMessage TestShell::call(const QString &method, const QVariantList &arguments, int timeoutMs)
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    return QDBusConnection::sessionBus().call(message, QDBus::BlockWithGui, timeoutMs);
}

QString TestShell::status()
{
    QDBusMessage get = QDBusMessage::createMethodCall(service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << interface << QStringLiteral("Status");
    const QDBusMessage reply = QDBusConnection::sessionBus().call(get, QDBus::BlockWithGui, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return QStringLiteral("error: ") + reply.errorMessage();
    return reply.arguments().value(0).value<QDBusVariant>().variant().toString();
}

bool TestShell::windowVisible(const QString &name)
{
    return !visibleWindow(name).isEmpty();
}

// The id of the first visible window whose title matches, empty when there is none.
QString TestShell::visibleWindow(const QString &name)
{
    int code = -1;
    const QString found = m_desktop.run(
        QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"), name},
        &code);
    return code == 0 ? found.split(u'\n', Qt::SkipEmptyParts).value(0) : QString();
}

QJsonArray TestShell::history() const
{
    QFile file(m_folder.filePath(QStringLiteral("data/Murmel/History/history.json")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).array();
}

void TestShell::dictationMethodsAndStatus()
{
    QVERIFY(launch());
    QVERIFY(m_panel->waitForItem());
    StatusNotifierWatcher::Item item = m_panel->readItem();
    QVERIFY2(item.isValid(), qPrintable(item.error));
    QCOMPARE(item.toolTipTitle, QStringLiteral("Murmel"));
    QVERIFY(!item.icon.isNull());
    QVERIFY(isMonochrome(item.icon));
    QCOMPARE(item.menuLabels(), (QStringList{QStringLiteral("Start Dictation"), QStringLiteral("Transcribe a File…"),
                                             QStringLiteral("Settings…"), QStringLiteral("-"),
                                             QStringLiteral("Quit Murmel")}));
    QCOMPARE(status(), QStringLiteral("idle"));

    QCOMPARE(call(QStringLiteral("StartDictation")).type(), QDBusMessage::ReplyMessage);
    QTRY_COMPARE(status(), QStringLiteral("recording"));
    // A second start while recording changes nothing and still succeeds.
    QCOMPARE(call(QStringLiteral("StartDictation")).type(), QDBusMessage::ReplyMessage);
    QTRY_COMPARE(m_statusSignals, QStringList{QStringLiteral("recording")});
    QTRY_COMPARE(m_propertySignals, QStringList{QStringLiteral("recording")});

    // The panel shows the recording eye in colour.
    QTRY_COMPARE_WITH_TIMEOUT(m_panel->readItem().toolTipTitle, QStringLiteral("Murmel, recording"), 5000);
    item = m_panel->readItem();
    QVERIFY(!isMonochrome(item.icon));
    QCOMPARE(item.menu.value(0).label, QStringLiteral("Stop Dictation"));

    QVERIFY(m_sound.play(m_speech));
    QCOMPARE(call(QStringLiteral("ToggleDictation")).type(), QDBusMessage::ReplyMessage);
    QTRY_COMPARE_WITH_TIMEOUT(m_statusSignals.size(), 3, 30000);
    QCOMPARE(m_statusSignals, (QStringList{QStringLiteral("recording"), QStringLiteral("working"), QStringLiteral("idle")}));
    QTRY_COMPARE(m_propertySignals, m_statusSignals);
    QTRY_COMPARE_WITH_TIMEOUT(history().size(), 1, 5000);
    QCOMPARE(history().first().toObject().value(u"text").toString(), phrase);
    QTRY_COMPARE_WITH_TIMEOUT(m_panel->readItem().toolTipTitle, QStringLiteral("Murmel"), 5000);
    QVERIFY(isMonochrome(m_panel->readItem().icon));

    // Stopping with nothing recorded succeeds and does nothing.
    QCOMPARE(call(QStringLiteral("StopDictation")).type(), QDBusMessage::ReplyMessage);
    QTest::qWait(300);
    QCOMPARE(m_statusSignals.size(), 3);
    QCOMPARE(status(), QStringLiteral("idle"));
}

void TestShell::transcribeFile_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("modelPresent");
    QTest::addColumn<QString>("errorName");
    QTest::addColumn<QString>("answer");

    QTest::newRow("speech") << "speech.wav" << true << QString() << phrase;
    QTest::newRow("not audio") << "notes.txt" << true << "app.murmel.Murmel.Error.TranscriptionFailed"
                               << "Could not read the audio from that file.";
    QTest::newRow("named pipe") << "pipe" << true << "app.murmel.Murmel.Error.TranscriptionFailed"
                                << "That is not a regular file (a pipe or a device, perhaps), so Murmel does not read it.";
    QTest::newRow("relative path") << "./speech.wav" << true << "app.murmel.Murmel.Error.NotAFile"
                                   << "Give the file as an absolute path or a file URL: ./speech.wav";
    QTest::newRow("no model, none to be had") << "speech.wav" << false << "app.murmel.Murmel.Error.ModelNotReady"
                              << "No speech model is downloaded yet. Open Murmel and download a model first.";
    QTest::newRow("no model, downloaded first") << "speech.wav" << false << QString() << phrase;
}

void TestShell::transcribeFile()
{
    QFETCH(QString, file);
    QFETCH(bool, modelPresent);
    QFETCH(QString, errorName);
    QFETCH(QString, answer);

    QFile notes(m_folder.filePath(QStringLiteral("notes.txt")));
    QVERIFY(notes.open(QIODevice::WriteOnly));
    notes.write("not audio at all\n");
    notes.close();
    // Nobody ever writes to the pipe: reading it would wait for good.
    QVERIFY(QFile::exists(m_folder.filePath(QStringLiteral("pipe")))
            || ::mkfifo(QFile::encodeName(m_folder.filePath(QStringLiteral("pipe"))).constData(), 0600) == 0);
    if (!modelPresent)
        QVERIFY(QFile::remove(modelPath()));
    if (errorName.isEmpty()) {
        QFile model(m_parrot);
        QVERIFY(model.open(QIODevice::ReadOnly));
        m_server.setResponse(QStringLiteral("/models/ggml-base.en.bin"), {.body = model.readAll()});
    }
    QVERIFY(launch());

    const QString argument = file.startsWith(u'.') ? file : m_folder.filePath(file);
    const QDBusMessage reply = call(QStringLiteral("TranscribeFile"), {argument}, 120000);
    if (errorName.isEmpty()) {
        QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
        QCOMPARE(reply.arguments().value(0).toString(), answer);
    } else {
        QCOMPARE(reply.type(), QDBusMessage::ErrorMessage);
        QCOMPARE(reply.errorName(), errorName);
        QCOMPARE(reply.errorMessage(), answer);
    }
    // Scripts' transcripts stay out of the history, and nothing was said or shown.
    QTest::qWait(300);
    QCOMPARE(history().size(), 0);
    QCOMPARE(status(), QStringLiteral("idle"));
}

void TestShell::secondLaunchHandsOverTheFirstFile()
{
    QVERIFY(launch());
    for (const char *name : {"first.wav", "second.wav"})
        QVERIFY(QFile::copy(m_speech, m_folder.filePath(QString::fromLatin1(name))));

    // A second launch from the folder of the files, as a file manager's "Open with" does.
    QProcess second;
    second.setProcessEnvironment(environment());
    second.setWorkingDirectory(m_folder.path());
    ChildProcess::dieWithParent(second);
    second.start(MurmelProcess::binary(), {QStringLiteral("first.wav"), QStringLiteral("second.wav")});
    const MurmelProcess::Result handed = MurmelProcess::finish(second, 20000);
    QVERIFY2(handed.exitCode == 0, qPrintable(handed.err));
    QCOMPARE(handed.err, QString());

    // The first Murmel transcribes the first file on its file screen and keeps it.
    QTRY_COMPARE_WITH_TIMEOUT(history().size(), 1, 60000);
    const QJsonObject record = history().first().toObject();
    QCOMPARE(record.value(u"kind").toString(), QStringLiteral("file"));
    QCOMPARE(record.value(u"text").toString(), phrase);
    QVERIFY2(record.value(u"title").toString().contains(QStringLiteral("first")),
             qPrintable(record.value(u"title").toString()));
    QTest::qWait(2000);
    QCOMPARE(history().size(), 1);
    QCOMPARE(m_murmel->state(), QProcess::Running);

    // A launch without a file only brings the window forward, handing on the launcher's leave
    // to take the focus: the window manager reads it from the window.
    QProcessEnvironment launcher = environment();
    launcher.insert(QStringLiteral("DESKTOP_STARTUP_ID"), QStringLiteral("launcher-7_TIME4242"));
    const MurmelProcess::Result again = MurmelProcess::murmel({}, launcher);
    QCOMPARE(again.exitCode, 0);
    QCOMPARE(m_murmel->state(), QProcess::Running);
    QTRY_VERIFY(m_desktop.run(QStringLiteral("xprop"), {QStringLiteral("-id"), m_window, QStringLiteral("_NET_STARTUP_ID")})
                    .contains(QStringLiteral("\"launcher-7_TIME4242\"")));

    // A launch with an option Murmel does not know is refused without disturbing anyone.
    const MurmelProcess::Result wrong = MurmelProcess::murmel({QStringLiteral("--frobnicate")}, environment());
    QCOMPARE(wrong.exitCode, 2);
    QVERIFY(wrong.err.contains(QStringLiteral("Unknown option --frobnicate.")));
}

void TestShell::closedWindowKeepsMurmelRunning()
{
    QVERIFY(launch());
    const QString window = m_window;
    m_desktop.run(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"), window});
    m_desktop.run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("alt+F4")});
    QTRY_VERIFY_WITH_TIMEOUT(!windowVisible(QStringLiteral("^Murmel$")), 20000);
    QTest::qWait(500);
    QCOMPARE(m_murmel->state(), QProcess::Running);
    QVERIFY(m_bus.hasName(service));

    // The automation interface and the launcher bring it back.
    QCOMPARE(call(QStringLiteral("Activate")).type(), QDBusMessage::ReplyMessage);
    QTRY_VERIFY_WITH_TIMEOUT(windowVisible(QStringLiteral("^Murmel$")), 20000);
}

void TestShell::trayMenuDrivesMurmel()
{
    QVERIFY(launch());
    QVERIFY(m_panel->waitForItem());
    // A click on the icon opens the small menu window.
    QVERIFY(m_panel->activate());
    // Generous: under a sanitizer and a loaded machine the first window takes a while.
    QTRY_VERIFY_WITH_TIMEOUT(windowVisible(QStringLiteral("^Murmel menu$")), 60000);

    QString error;
    QVERIFY2(m_panel->clickMenuItem(QStringLiteral("Start Dictation"), &error), qPrintable(error));
    QTRY_COMPARE(status(), QStringLiteral("recording"));
    QTRY_COMPARE_WITH_TIMEOUT(m_panel->readItem().menu.value(0).label, QStringLiteral("Stop Dictation"), 5000);
    QVERIFY2(m_panel->clickMenuItem(QStringLiteral("Stop Dictation"), &error), qPrintable(error));
    QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("idle"), 30000);

    // Murmel may be gone before the menu's answer to the click arrives.
    m_panel->clickMenuItem(QStringLiteral("Quit Murmel"));
    const MurmelProcess::Result quit = MurmelProcess::finish(*m_murmel, 10000);
    QCOMPARE(quit.exitCode, 0);
}

void TestShell::keyboardShortcuts()
{
    QVERIFY(launch());
    const QString window = m_window;
    m_desktop.run(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"), window});
    m_desktop.run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+shift+d")});
    QTRY_COMPARE(status(), QStringLiteral("recording"));
    m_desktop.run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+shift+d")});
    QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("idle"), 30000);
    m_desktop.run(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"), window});
    m_desktop.run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+q")});
    const MurmelProcess::Result quit = MurmelProcess::finish(*m_murmel, 10000);
    QCOMPARE(quit.exitCode, 0);
}

void TestShell::scriptsTakeTurnsOnOneEngine()
{
    QProcessEnvironment logging;
    logging.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("murmel.speech.debug=true"));
    QVERIFY(launch(logging));
    QList<QDBusPendingCall> calls;
    for (int i = 0; i < 4; ++i) {
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("TranscribeFile"));
        message << m_speech;
        calls << QDBusConnection::sessionBus().asyncCall(message, 120000);
    }
    for (QDBusPendingCall &call : calls) {
        call.waitForFinished();
        QVERIFY2(!call.isError(), qPrintable(call.error().message()));
        QCOMPARE(call.reply().arguments().value(0).toString(), phrase);
    }
    // The dictation engine's load, and one for all four calls.
    QString log;
    while (m_murmel->waitForReadyRead(500))
        log += QString::fromUtf8(m_murmel->readAll());
    QCOMPARE(log.count(QStringLiteral("Loading \"ggml-base.en.bin\"")), 2);
}

void TestShell::quitStopsATranscriptionForAScript()
{
    // A slow model and ten minutes of audio: about a minute of engine work on two cores.
    const QString slowModel = m_folder.filePath(QStringLiteral("data/Murmel/Models/ggml-large-v3.bin"));
    QVERIFY(FixtureModels::make(slowModel, QStringLiteral("base")));
    QJsonObject digests;
    digests.insert(u"base.en", FixtureModels::sha256Of(m_parrot));
    digests.insert(u"large-v3", FixtureModels::sha256Of(slowModel));
    QTemporaryDir other;
    const QString catalog = other.filePath(QStringLiteral("catalog.json"));
    QFile file(catalog);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(digests).toJson());
    file.close();
    const QString audio = other.filePath(QStringLiteral("long.flac"));
    QCOMPARE(QProcess::execute(QStringLiteral("ffmpeg"),
                               {QStringLiteral("-loglevel"), QStringLiteral("error"), QStringLiteral("-f"),
                                QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("anoisesrc=r=16000:a=0.1"),
                                QStringLiteral("-t"), QStringLiteral("600"), audio}),
             0);
    QProcessEnvironment variables = environment();
    variables.insert(QStringLiteral("MURMEL_MODEL_CATALOG"), catalog);
    QCOMPARE(MurmelProcess::murmel({QStringLiteral("config"), QStringLiteral("set"), QStringLiteral("whisperModel"),
                                    QStringLiteral("\"large-v3\"")},
                                   variables)
                 .exitCode,
             0);

    m_murmel = new QProcess;
    m_murmel->setProcessEnvironment(variables);
    m_murmel->setProcessChannelMode(QProcess::ForwardedChannels);
    ChildProcess::dieWithParent(*m_murmel);
    m_murmel->start(MurmelProcess::binary(), {});
    QTRY_VERIFY_WITH_TIMEOUT(m_bus.hasName(service), 20000);
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("TranscribeFile"));
    message << audio;
    const QDBusPendingCall pending = QDBusConnection::sessionBus().asyncCall(message, 600000);
    QTest::qWait(5000); // decoded, loaded, and deep in the engine
    QVERIFY(!pending.isFinished());

    QVERIFY(m_panel->waitForItem());
    m_panel->clickMenuItem(QStringLiteral("Quit Murmel"));
    const MurmelProcess::Result quit = MurmelProcess::finish(*m_murmel, 20000);
    QCOMPARE(quit.exitCode, 0);
    QVERIFY(!m_bus.hasName(service));
}

void TestShell::dictationCommand()
{
    const QString notRunning = QStringLiteral("Murmel is not running.");
    for (const char *verb : {"start", "stop", "toggle"}) {
        const MurmelProcess::Result result =
            MurmelProcess::murmel({QStringLiteral("dictation"), QString::fromLatin1(verb)}, environment());
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.lastErrLine(), notRunning);
    }
    const MurmelProcess::Result usage =
        MurmelProcess::murmel({QStringLiteral("dictation"), QStringLiteral("begin")}, environment());
    QCOMPARE(usage.exitCode, 2);

    QVERIFY(launch());
    QCOMPARE(MurmelProcess::murmel({QStringLiteral("dictation"), QStringLiteral("toggle")}, environment()).exitCode, 0);
    QTRY_COMPARE(status(), QStringLiteral("recording"));
    QCOMPARE(MurmelProcess::murmel({QStringLiteral("dictation"), QStringLiteral("start")}, environment()).exitCode, 0);
    QCOMPARE(MurmelProcess::murmel({QStringLiteral("dictation"), QStringLiteral("stop")}, environment()).exitCode, 0);
    QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("idle"), 30000);
    QCOMPARE(m_statusSignals, (QStringList{QStringLiteral("recording"), QStringLiteral("working"), QStringLiteral("idle")}));
}

QTEST_GUILESS_MAIN(TestShell)
#include "tst_shell.moc"
