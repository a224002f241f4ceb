// The application shell end to end: the real murmel binary on a private desktop with a
// stand-in panel (a StatusNotifierWatcher), driven the way a user, a panel or a script would:
// over D-Bus, with `murmel dictation`, from the tray, with keys, with a second launch.
#include "murmeldesktop.h"
#include "statusnotifierwatcher.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QTest>

#include <algorithm>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

const QString path = u"/app/murmel/Murmel"_s;
const QString interface = MurmelDesktop::service;
const QString phrase = u"Hello from the parrot model."_s;

// Whether every visible pixel is a grey: what the idle eye must be.
bool isMonochrome(const QImage &image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    const auto *pixels = reinterpret_cast<const QRgb *>(argb.constBits());
    return std::all_of(pixels, pixels + argb.width() * argb.height(), [](QRgb pixel) {
        return qAlpha(pixel) <= 16 || (qRed(pixel) == qGreen(pixel) && qGreen(pixel) == qBlue(pixel));
    });
}

QDBusMessage message(const QString &method, const QVariantList &arguments = {})
{
    QDBusMessage message = QDBusMessage::createMethodCall(MurmelDesktop::service, path, interface, method);
    message.setArguments(arguments);
    return message;
}

// The event loop turns while Murmel answers, for the test's own server; long enough for a
// transcription that waits for its turn on the engine.
QDBusMessage call(const QString &method, const QVariantList &arguments = {})
{
    return QDBusConnection::sessionBus().call(message(method, arguments), QDBus::BlockWithGui, 120000);
}

QString status()
{
    return QDBusInterface(MurmelDesktop::service, path, interface).property("Status").toString();
}

} // namespace

class TestShell : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init()
    {
        QVERIFY2(m.reset(), qPrintable(m.error()));
        m_statusSignals.clear();
        m_propertySignals.clear();
    }
    void cleanup() { QVERIFY2(m.stop(), qPrintable(m.error())); }
    void dictationFromEverySide();
    void scriptsTranscribeFiles();
    void oneInstance();

    void onStatusChanged(const QString &status) { m_statusSignals << status; }
    void onPropertiesChanged(const QString &changedInterface, const QVariantMap &changed, const QStringList &)
    {
        if (changedInterface == interface && changed.contains(u"Status"_s))
            m_propertySignals << changed.value(u"Status"_s).toString();
    }

private:
    int dictation(const QString &verb) const
    {
        return MurmelProcess::murmel({u"dictation"_s, verb}, m.environment()).exitCode;
    }

    MurmelDesktop m;
    std::unique_ptr<StatusNotifierWatcher> m_panel;
    QStringList m_statusSignals;
    QStringList m_propertySignals;
};

void TestShell::initTestCase()
{
    QVERIFY2(m.start(), qPrintable(m.error()));
    m_panel = std::make_unique<StatusNotifierWatcher>(m.bus.busAddress());
    QVERIFY2(m_panel->start(), qPrintable(m_panel->error()));
    QDBusConnection bus = QDBusConnection::sessionBus();
    QVERIFY(bus.connect(MurmelDesktop::service, path, interface, u"StatusChanged"_s, this, SLOT(onStatusChanged(QString))));
    QVERIFY(bus.connect(MurmelDesktop::service, path, u"org.freedesktop.DBus.Properties"_s, u"PropertiesChanged"_s, this,
                        SLOT(onPropertiesChanged(QString, QVariantMap, QStringList))));
}

void TestShell::dictationFromEverySide()
{
    QVERIFY2(m.launch(), qPrintable(m.error()));
    QVERIFY(m_panel->waitForItem());
    StatusNotifierWatcher::Item item = m_panel->readItem();
    QVERIFY2(item.isValid(), qPrintable(item.error));
    QCOMPARE(item.toolTipTitle, u"Murmel"_s);
    QVERIFY(!item.icon.isNull() && isMonochrome(item.icon));
    // One image per scale, so a panel on a high-density screen draws a sharp one.
    QCOMPARE(item.iconSizes, (QList<QSize>{QSize(18, 18), QSize(36, 36), QSize(54, 54)}));
    QCOMPARE(item.menuLabels(), (QStringList{u"Start Dictation"_s, u"Transcribe a File…"_s, u"Settings…"_s, u"-"_s,
                                             u"Quit Murmel"_s}));
    QCOMPARE(status(), u"idle"_s);

    // Started from the tray's menu; a second start, by a script or the command, changes nothing.
    QString error;
    QVERIFY2(m_panel->clickMenuItem(u"Start Dictation"_s, &error), qPrintable(error));
    QTRY_COMPARE(status(), u"recording"_s);
    QCOMPARE(call(u"StartDictation"_s).type(), QDBusMessage::ReplyMessage);
    QCOMPARE(dictation(u"start"_s), 0);
    // The panel shows the recording eye in colour.
    QTRY_COMPARE_WITH_TIMEOUT(m_panel->readItem().toolTipTitle, u"Murmel, recording"_s, 5000);
    item = m_panel->readItem();
    QVERIFY(!isMonochrome(item.icon));
    QCOMPARE(item.menu.value(0).label, u"Stop Dictation"_s);

    QVERIFY(m.sound.play(m.speech));
    QCOMPARE(dictation(u"stop"_s), 0);
    const QStringList once{u"recording"_s, u"working"_s, u"idle"_s};
    QTRY_COMPARE_WITH_TIMEOUT(m_statusSignals.size(), 3, 30000);
    QCOMPARE(m_statusSignals, once);
    QTRY_COMPARE(m_propertySignals, once);
    QTRY_COMPARE_WITH_TIMEOUT(m_panel->readItem().toolTipTitle, u"Murmel"_s, 5000);
    QVERIFY(isMonochrome(m_panel->readItem().icon));

    // Toggled on by a script and off by the command; a stop with nothing recorded does nothing.
    QCOMPARE(call(u"ToggleDictation"_s).type(), QDBusMessage::ReplyMessage);
    QTRY_COMPARE(status(), u"recording"_s);
    QCOMPARE(dictation(u"toggle"_s), 0);
    QTRY_COMPARE_WITH_TIMEOUT(m_statusSignals.size(), 6, 30000);
    QCOMPARE(call(u"StopDictation"_s).type(), QDBusMessage::ReplyMessage);
    QTest::qWait(300);
    QCOMPARE(m_statusSignals, once + once);
    // A middle click on the icon toggles as well.
    QVERIFY(m_panel->activate(StatusNotifierWatcher::Click::middle));
    QTRY_COMPARE(status(), u"recording"_s);
    QVERIFY(m_panel->activate(StatusNotifierWatcher::Click::middle));
    QTRY_COMPARE_WITH_TIMEOUT(m_statusSignals, once + once + once, 30000);

    // A click on the icon opens the small menu window. Generous: under a sanitizer and a
    // loaded machine the first window takes a while.
    QVERIFY(m_panel->activate());
    QVERIFY(QTest::qWaitFor([&] { return !m.visibleWindow(u"^Murmel menu$"_s).isEmpty(); }, 60000));
    QCOMPARE(status(), u"idle"_s); // and starts nothing
    // Murmel may be gone before the menu's answer to the click arrives.
    m_panel->clickMenuItem(u"Quit Murmel"_s);
    QCOMPARE(MurmelProcess::finish(*m.murmel, 10000).exitCode, 0);
}

void TestShell::scriptsTranscribeFiles()
{
    QProcessEnvironment logging;
    logging.insert(u"QT_LOGGING_RULES"_s, u"murmel.speech.debug=true"_s);
    QVERIFY2(m.launch(logging, true), qPrintable(m.error()));
    // Four at once take turns on one engine, loaded once besides the dictation's.
    QList<QDBusPendingCall> calls;
    for (int i = 0; i < 4; ++i)
        calls << QDBusConnection::sessionBus().asyncCall(message(u"TranscribeFile"_s, {m.speech}), 120000);
    for (QDBusPendingCall &pending : calls) {
        pending.waitForFinished();
        QVERIFY2(!pending.isError(), qPrintable(pending.error().message()));
        QCOMPARE(pending.reply().arguments().value(0).toString(), phrase);
    }
    QString log;
    while (m.murmel->waitForReadyRead(500))
        log += QString::fromUtf8(m.murmel->readAll());
    QCOMPARE(log.count(u"Loading \"ggml-base.en.bin\""_s), 2);

    using Answer = std::pair<QString, QString>; // the error's name (none for a transcript) and text
    const auto transcribe = [](const QString &file) {
        const QDBusMessage reply = call(u"TranscribeFile"_s, {file});
        return reply.type() == QDBusMessage::ReplyMessage ? Answer{QString(), reply.arguments().value(0).toString()}
                                                          : Answer{reply.errorName(), reply.errorMessage()};
    };
    const QString failed = u"app.murmel.Murmel.Error.TranscriptionFailed"_s;
    QCOMPARE(transcribe(u"./speech.wav"_s), Answer(u"app.murmel.Murmel.Error.NotAFile"_s,
                                                   u"Give the file as an absolute path or a file URL: ./speech.wav"_s));
    // Nobody ever writes to the pipe: reading it would wait for good.
    const QString pipe = m.file(u"pipe"_s);
    QVERIFY(QFile::exists(pipe) || ::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
    QCOMPARE(transcribe(pipe),
             Answer(failed, u"That is not a regular file (a pipe or a device, perhaps), so Murmel does not read it."_s));
    // A missing model is fetched first; when there is none to be had, that is said.
    QVERIFY(QFile::remove(m.modelPath()));
    QCOMPARE(transcribe(m.speech), Answer(u"app.murmel.Murmel.Error.ModelNotReady"_s,
                                          u"No speech model is downloaded yet. Open Murmel and download a model first."_s));
    m.serveModel();
    QCOMPARE(transcribe(m.speech), Answer(QString(), phrase));
    // Scripts' transcripts stay out of the history, and nothing was said or shown.
    QCOMPARE(m.history().size(), 0);
    QCOMPARE(m_statusSignals, QStringList());
}

void TestShell::oneInstance()
{
    QVERIFY2(m.launch(), qPrintable(m.error()));
    for (const char *name : {"first.wav", "second.wav"})
        QVERIFY(QFile::copy(m.speech, m.file(QString::fromLatin1(name))));
    // A second launch from the folder of the files, as a file manager's "Open with" does: the
    // first Murmel transcribes the first file on its file screen and keeps it.
    QProcess second;
    second.setWorkingDirectory(m.folder.path());
    m.desktop.launch(second, MurmelProcess::binary(), {u"first.wav"_s, u"second.wav"_s}, m.environment());
    const MurmelProcess::Result handed = MurmelProcess::finish(second, 20000);
    QVERIFY2(handed.exitCode == 0 && handed.err.isEmpty(), qPrintable(handed.err));
    QTRY_COMPARE_WITH_TIMEOUT(m.history().size(), 1, 60000);
    const QJsonObject record = m.history().first().toObject();
    QCOMPARE(record.value(u"kind").toString(), u"file"_s);
    QCOMPARE(record.value(u"text").toString(), phrase);
    QVERIFY2(record.value(u"title").toString().contains(u"first"_s), qPrintable(record.value(u"title").toString()));
    QTest::qWait(2000);
    QCOMPARE(m.history().size(), 1);

    // A launch without a file only brings the window forward, handing on the launcher's leave
    // to take the focus: the window manager reads it from the window.
    QProcessEnvironment launcher = m.environment();
    launcher.insert(u"DESKTOP_STARTUP_ID"_s, u"launcher-7_TIME4242"_s);
    QCOMPARE(MurmelProcess::murmel({}, launcher).exitCode, 0);
    QTRY_VERIFY(m.desktop.run(u"xprop"_s, {u"-id"_s, m.window, u"_NET_STARTUP_ID"_s}).contains(u"\"launcher-7_TIME4242\""_s));
    // Closing the window leaves Murmel running; the automation interface brings it back.
    QVERIFY(m.desktop.xdotool({u"windowactivate"_s, u"--sync"_s, m.window, u"key"_s, u"alt+F4"_s}));
    QVERIFY(QTest::qWaitFor([&] { return m.visibleWindow(u"^Murmel$"_s).isEmpty(); }, 20000));
    QTest::qWait(500);
    QCOMPARE(m.murmel->state(), QProcess::Running);
    QCOMPARE(call(u"Activate"_s).type(), QDBusMessage::ReplyMessage);
    QString window;
    QVERIFY(QTest::qWaitFor([&] { return !(window = m.visibleWindow(u"^Murmel$"_s)).isEmpty(); }, 20000));

    // The window's own shortcuts: dictation on and off, and quit.
    QVERIFY(m.desktop.xdotool({u"windowactivate"_s, u"--sync"_s, window, u"key"_s, u"ctrl+shift+d"_s}));
    QTRY_COMPARE(status(), u"recording"_s);
    QVERIFY(m.desktop.xdotool({u"key"_s, u"ctrl+shift+d"_s}));
    QTRY_COMPARE_WITH_TIMEOUT(status(), u"idle"_s, 30000);

    // The quit stops a script's transcription on its way. A slow model and half an hour of audio,
    // heard ten minutes at a time: each part is about a minute of engine work on two cores.
    // Quitting waits only for the engine's current step, a few seconds, and up to a quarter of a
    // minute on a loaded machine.
    const QString slowModel = m.file(u"data/Murmel/Models/ggml-large-v3.bin"_s);
    QVERIFY(FixtureModels::make(slowModel, u"base"_s));
    QVERIFY(FixtureModels::useCatalog(m.file(u"catalog.json"_s), {{u"base.en"_s, FixtureModels::sha256Of(m.parrot)},
                                                                 {u"large-v3"_s, FixtureModels::sha256Of(slowModel)}}));
    QVERIFY2(m.config(u"whisperModel"_s, u"\"large-v3\""_s), qPrintable(m.error()));
    const QString audio = m.file(u"long.flac"_s);
    QVERIFY(TestFiles::synthesize(audio, u"anoisesrc=r=16000:a=0.1"_s, {u"-t"_s, u"1800"_s}));
    const QDBusPendingCall pending =
        QDBusConnection::sessionBus().asyncCall(message(u"TranscribeFile"_s, {audio}), 600000);
    QTest::qWait(5000); // decoded, loaded, and deep in the engine
    QVERIFY(!pending.isFinished());
    QVERIFY(m.desktop.xdotool({u"windowactivate"_s, u"--sync"_s, window, u"key"_s, u"ctrl+q"_s}));
    QCOMPARE(MurmelProcess::finish(*m.murmel, 30000).exitCode, 0);
}

QTEST_GUILESS_MAIN(TestShell)
#include "tst_shell.moc"
