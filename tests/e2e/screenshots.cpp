// Pictures of every screen of the real application, for people to look at: the murmel
// binary on a private display with a window manager, a private session bus, a PulseAudio
// virtual microphone and the parrot model, driven with keys and over D-Bus the way a user
// and a script would. Each picture goes to the folder named by MURMEL_SCREENSHOTS as a PNG.
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
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString service = QStringLiteral("app.murmel.Murmel");
const QString objectPath = QStringLiteral("/app/murmel/Murmel");

} // namespace

class Screenshots : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void tour();

private:
    QProcessEnvironment environment() const;
    QDBusMessage call(const QString &method, const QVariantList &arguments = {});
    // Saves the main window (or, for the heads-up display, the whole screen) as NAME.png.
    void shoot(const QString &name, bool wholeScreen = false);
    // The id of the first visible window whose title matches, empty when there is none.
    QString visibleWindow(const QString &title) const;
    void keys(const QString &keys);
    bool settle(int milliseconds = 900) { QTest::qWait(milliseconds); return true; }

    SecretServiceSession m_bus{SecretServiceSession::Keyring::none};
    DesktopSession m_desktop;
    SoundSession m_sound;
    TestHttpServer m_server;
    // A stand-in panel, so the tray icon exists and its window can be opened.
    std::unique_ptr<StatusNotifierWatcher> m_panel;
    QTemporaryDir m_folder;
    QDir m_out;
    QString m_speech;
    QProcess m_murmel;
    QString m_window;
};

void Screenshots::initTestCase()
{
    const QString out = qEnvironmentVariable("MURMEL_SCREENSHOTS");
    QVERIFY2(!out.isEmpty(), "MURMEL_SCREENSHOTS names the folder for the pictures");
    QVERIFY(QDir().mkpath(out));
    m_out = QDir(out);
    QVERIFY2(m_bus.start(), qPrintable(m_bus.error()));
    QVERIFY2(m_desktop.start(), qPrintable(m_desktop.error()));
    QVERIFY2(m_sound.start(), qPrintable(m_sound.error()));
    QVERIFY(m_server.listen());
    m_bus.enter();
    m_panel = std::make_unique<StatusNotifierWatcher>(m_bus.busAddress());
    QVERIFY2(m_panel->start(), qPrintable(m_panel->error()));

    m_speech = m_folder.filePath(QStringLiteral("Team Sync.final.wav"));
    QCOMPARE(QProcess::execute(QStringLiteral("espeak-ng"),
                               {QStringLiteral("-w"), m_speech,
                                QStringLiteral("Please write this down for me. The budget meeting moves to Thursday.")}),
             0);
    // Long enough to be seen reading and transcribing.
    QCOMPARE(QProcess::execute(QStringLiteral("ffmpeg"),
                               {QStringLiteral("-loglevel"), QStringLiteral("error"), QStringLiteral("-f"),
                                QStringLiteral("lavfi"), QStringLiteral("-i"),
                                QStringLiteral("anoisesrc=d=1500:c=pink:a=0.2"), QStringLiteral("-ac"),
                                QStringLiteral("1"), QStringLiteral("-ar"), QStringLiteral("16000"),
                                m_folder.filePath(QStringLiteral("Long Interview.mp3"))}),
             0);
    const QString parrot = m_folder.filePath(QStringLiteral("parrot.bin"));
    QVERIFY(FixtureModels::make(parrot));
    QJsonObject digests;
    for (const char *name : {"base.en", "base", "small", "large-v3"})
        digests.insert(QString::fromLatin1(name), FixtureModels::sha256Of(parrot));
    QFile catalog(m_folder.filePath(QStringLiteral("catalog.json")));
    QVERIFY(catalog.open(QIODevice::WriteOnly));
    catalog.write(QJsonDocument(digests).toJson());
    catalog.close();
    // The fast English model is there; the others would download.
    const QString model = m_folder.filePath(QStringLiteral("data/Murmel/Models/ggml-base.en.bin"));
    QVERIFY(QDir().mkpath(QFileInfo(model).absolutePath()));
    QVERIFY(QFile::copy(parrot, model));
    m_server.setResponse(QStringLiteral("/models/ggml-small.bin"), {.status = 404});
}

void Screenshots::cleanupTestCase()
{
    ChildProcess::stop(m_murmel);
}

QProcessEnvironment Screenshots::environment() const
{
    QProcessEnvironment variables = m_desktop.environment();
    variables.insert(m_bus.environment());
    variables.insert(m_sound.environment());
    return MurmelProcess::isolated(variables, m_folder.path(), m_server.url(QStringLiteral("/")));
}

QDBusMessage Screenshots::call(const QString &method, const QVariantList &arguments)
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, objectPath, service, method);
    message.setArguments(arguments);
    return QDBusConnection::sessionBus().call(message, QDBus::BlockWithGui, 120000);
}

void Screenshots::shoot(const QString &name, bool wholeScreen)
{
    int code = -1;
    m_desktop.run(QStringLiteral("import"),
                  {QStringLiteral("-window"), wholeScreen ? QStringLiteral("root") : m_window,
                   m_out.filePath(name + QStringLiteral(".png"))},
                  &code);
    QVERIFY2(code == 0, qPrintable(name));
}

QString Screenshots::visibleWindow(const QString &title) const
{
    return m_desktop
        .run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                         QStringLiteral("--name"), title})
        .split(u'\n', Qt::SkipEmptyParts)
        .value(0);
}

void Screenshots::keys(const QString &keys)
{
    m_desktop.run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("--window"), m_window, keys});
}

void Screenshots::tour()
{
    // English, so dictation uses the model that is there.
    const MurmelProcess::Result language = MurmelProcess::murmel(
        {QStringLiteral("config"), QStringLiteral("set"), QStringLiteral("language"), QStringLiteral("\"en\"")},
        environment());
    QVERIFY2(language.exitCode == 0, qPrintable(language.err));

    m_murmel.setProcessEnvironment(environment());
    m_murmel.setProcessChannelMode(QProcess::ForwardedChannels);
    ChildProcess::dieWithParent(m_murmel);
    m_murmel.start(MurmelProcess::binary(), {});
    QVERIFY(QTest::qWaitFor([this] { return m_bus.hasName(service); }, 30000));
    QVERIFY(QTest::qWaitFor([this] { return !(m_window = visibleWindow(QStringLiteral("^Murmel$"))).isEmpty(); },
                            30000));
    m_desktop.run(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"), m_window});
    settle(1500);

    // First run: the three onboarding steps, walked with Return.
    for (const char *step : {"onboarding-1-welcome", "onboarding-2-permissions", "onboarding-3-model"}) {
        shoot(QString::fromLatin1(step));
        keys(QStringLiteral("Return"));
        settle();
    }
    settle(600);
    shoot(QStringLiteral("home"));

    // The tray icon's window, as a click on the panel's icon opens it.
    QVERIFY(m_panel->waitForItem());
    QVERIFY(m_panel->activate());
    QString menu;
    QVERIFY(QTest::qWaitFor([&] { return !(menu = visibleWindow(QStringLiteral("^Murmel menu$"))).isEmpty(); },
                            10000));
    settle(600);
    int code = -1;
    m_desktop.run(QStringLiteral("import"), {QStringLiteral("-window"), menu, m_out.filePath(u"menu-window.png"_s)},
                  &code);
    QCOMPARE(code, 0);
    m_desktop.run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("--window"), menu,
                                              QStringLiteral("Escape")});
    m_desktop.run(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"), m_window});
    settle(600);

    // The screens, reached with their shortcuts; the settings tabs with Ctrl+Page Down.
    keys(QStringLiteral("ctrl+o"));
    settle();
    shoot(QStringLiteral("file-empty"));
    keys(QStringLiteral("ctrl+3"));
    settle();
    shoot(QStringLiteral("history-empty"));
    keys(QStringLiteral("ctrl+comma"));
    settle();
    for (const char *tab : {"general", "model", "cleanup", "dictionary", "support", "about"}) {
        shoot(QStringLiteral("settings-") + QString::fromLatin1(tab));
        keys(QStringLiteral("ctrl+Next"));
        settle(600);
    }

    // Files from outside: a long one while it is read and transcribed, then a short one done.
    const auto inHistory = [this](const char *title) {
        return QTest::qWaitFor([this, title] {
            QFile history(m_folder.filePath(QStringLiteral("data/Murmel/History/history.json")));
            return history.open(QIODevice::ReadOnly) && history.readAll().contains(title);
        }, 120000);
    };
    keys(QStringLiteral("ctrl+1"));
    settle();
    QCOMPARE(call(QStringLiteral("Open"), {QStringList{m_folder.filePath(QStringLiteral("Long Interview.mp3"))}}).type(),
             QDBusMessage::ReplyMessage);
    QTest::qWait(200);
    shoot(QStringLiteral("file-decoding"));
    QTest::qWait(10000);
    shoot(QStringLiteral("file-transcribing"));
    QVERIFY(inHistory("Long Interview"));
    QCOMPARE(call(QStringLiteral("Open"), {QStringList{m_speech}}).type(), QDBusMessage::ReplyMessage);
    QVERIFY(inHistory("Team Sync.final"));
    settle();
    shoot(QStringLiteral("file-done"));

    // A file Murmel cannot read.
    const QString notes = m_folder.filePath(QStringLiteral("notes.txt"));
    QFile text(notes);
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("not a sound");
    text.close();
    QCOMPARE(call(QStringLiteral("Open"), {QStringList{notes}}).type(), QDBusMessage::ReplyMessage);
    settle(2000);
    shoot(QStringLiteral("file-failed"));

    keys(QStringLiteral("ctrl+3"));
    settle();
    shoot(QStringLiteral("history"));

    // The heads-up display while dictating, while working and when done.
    keys(QStringLiteral("ctrl+1"));
    settle();
    QCOMPARE(call(QStringLiteral("StartDictation")).type(), QDBusMessage::ReplyMessage);
    settle(800);
    QVERIFY(m_sound.play(m_speech));
    shoot(QStringLiteral("hud-recording"), true);
    shoot(QStringLiteral("home-recording"));
    QCOMPARE(call(QStringLiteral("StopDictation")).type(), QDBusMessage::ReplyMessage);
    QTest::qWait(100);
    shoot(QStringLiteral("hud-working"), true);
    settle(2500);
    shoot(QStringLiteral("hud-done"), true);
}

QTEST_GUILESS_MAIN(Screenshots)
#include "screenshots.moc"
