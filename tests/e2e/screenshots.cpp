// Pictures of every screen of the real application, for people to look at: the murmel binary
// on a private desktop with a stand-in panel, driven with keys and over D-Bus the way a user
// and a script would. Each picture goes to the folder named by MURMEL_SCREENSHOTS as a PNG.
#include "murmeldesktop.h"
#include "statusnotifierwatcher.h"

#include <QDBusInterface>
#include <QTest>

using namespace Qt::StringLiterals;

class Screenshots : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void tour();

private:
    // Saves a window, the main one unless named (the root one is the whole screen), as NAME.png.
    void shoot(const QString &name, const QString &window = {})
    {
        int code = -1;
        m.desktop.run(u"import"_s, {u"-window"_s, window.isEmpty() ? m.window : window, m_out.filePath(name + u".png"_s)},
                      &code);
        QVERIFY2(code == 0, qPrintable(name));
    }
    void keys(const QString &keys, int settle = 900)
    {
        m.desktop.xdotool({u"key"_s, u"--window"_s, m.window, keys});
        QTest::qWait(settle);
    }
    bool inHistory(const char *title)
    {
        return QTest::qWaitFor([&] { return QJsonDocument(m.history()).toJson().contains(title); }, 120000);
    }

    MurmelDesktop m;
    QDir m_out;
};

void Screenshots::tour()
{
    const QString out = qEnvironmentVariable("MURMEL_SCREENSHOTS");
    QVERIFY2(!out.isEmpty() && QDir().mkpath(out), "MURMEL_SCREENSHOTS names the folder for the pictures");
    m_out = QDir(out);
    QVERIFY2(m.start(), qPrintable(m.error()));
    // The tray icon exists only where a panel watches for it.
    StatusNotifierWatcher panel(m.bus.busAddress());
    QVERIFY2(panel.start(), qPrintable(panel.error()));
    const QString speech = m.file(u"Team Sync.final.wav"_s);
    QVERIFY(m.say(speech, u"Please write this down for me. The budget meeting moves to Thursday."_s));
    // Long enough to be seen reading and transcribing.
    QVERIFY(TestFiles::synthesize(m.file(u"Long Interview.mp3"_s), u"anoisesrc=d=1500:c=pink:a=0.2"_s,
                                  {u"-ac"_s, u"1"_s, u"-ar"_s, u"16000"_s}));
    // A first run, with the fast English model there; the others would download.
    QVERIFY2(m.reset(false), qPrintable(m.error()));
    m.server.setResponse(u"/models/ggml-small.bin"_s, {.status = 404});
    QVERIFY2(m.launch(), qPrintable(m.error()));
    QDBusInterface automation(MurmelDesktop::service, u"/app/murmel/Murmel"_s, MurmelDesktop::service);
    m.desktop.xdotool({u"windowactivate"_s, u"--sync"_s, m.window});
    QTest::qWait(1500);

    // The three onboarding steps, walked with Return.
    for (const char *step : {"onboarding-1-welcome", "onboarding-2-permissions", "onboarding-3-model"}) {
        shoot(QString::fromLatin1(step));
        keys(u"Return"_s);
    }
    QTest::qWait(600);
    shoot(u"home"_s);

    // The tray icon's window, as a click on the panel's icon opens it.
    QVERIFY(panel.waitForItem() && panel.activate());
    QString menu;
    QVERIFY(QTest::qWaitFor([&] { return !(menu = m.visibleWindow(u"^Murmel menu$"_s)).isEmpty(); }, 10000));
    QTest::qWait(600);
    shoot(u"menu-window"_s, menu);
    m.desktop.xdotool({u"key"_s, u"--window"_s, menu, u"Escape"_s, u"windowactivate"_s, u"--sync"_s, m.window});
    QTest::qWait(600);

    // The screens, reached with their shortcuts; the settings tabs with Ctrl+Page Down.
    keys(u"ctrl+o"_s);
    shoot(u"file-empty"_s);
    keys(u"ctrl+3"_s);
    shoot(u"history-empty"_s);
    keys(u"ctrl+comma"_s);
    for (const char *tab : {"general", "model", "cleanup", "dictionary", "support", "about"}) {
        shoot(u"settings-"_s + QString::fromLatin1(tab));
        keys(u"ctrl+Next"_s, 600);
    }

    // Files from outside: a long one while it is read and transcribed, then a short one done,
    // then one Murmel cannot read.
    keys(u"ctrl+1"_s);
    QCOMPARE(automation.call(u"Open"_s, QStringList{m.file(u"Long Interview.mp3"_s)}).type(), QDBusMessage::ReplyMessage);
    QTest::qWait(200);
    shoot(u"file-decoding"_s);
    QTest::qWait(10000);
    shoot(u"file-transcribing"_s);
    QVERIFY(inHistory("Long Interview"));
    QCOMPARE(automation.call(u"Open"_s, QStringList{speech}).type(), QDBusMessage::ReplyMessage);
    QVERIFY(inHistory("Team Sync.final"));
    QTest::qWait(900);
    shoot(u"file-done"_s);
    QVERIFY(TestFiles::write(m.file(u"notes.txt"_s), "not a sound"));
    QCOMPARE(automation.call(u"Open"_s, QStringList{m.file(u"notes.txt"_s)}).type(), QDBusMessage::ReplyMessage);
    QTest::qWait(2000);
    shoot(u"file-failed"_s);
    keys(u"ctrl+3"_s);
    shoot(u"history"_s);

    // The heads-up display while dictating, while working and when done.
    keys(u"ctrl+1"_s);
    QCOMPARE(automation.call(u"StartDictation"_s).type(), QDBusMessage::ReplyMessage);
    QTest::qWait(800);
    QVERIFY(m.sound.play(speech));
    shoot(u"hud-recording"_s, u"root"_s);
    shoot(u"home-recording"_s);
    QCOMPARE(automation.call(u"StopDictation"_s).type(), QDBusMessage::ReplyMessage);
    QTest::qWait(100);
    shoot(u"hud-working"_s, u"root"_s);
    QTest::qWait(2500);
    shoot(u"hud-done"_s, u"root"_s);
}

QTEST_GUILESS_MAIN(Screenshots)
#include "screenshots.moc"
