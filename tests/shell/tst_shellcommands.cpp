// The shell's commands and the launch request: where each command leads, which ones bring
// the window forward, the dictation item's title, files handed over from outside, and how a
// launch's arguments are read. The dictation controller is the genuine one over fakes.
#include "core/base/appinfo.h"
#include "dictationrig.h"
#include "fakes/fakemainwindowhost.h"
#include "fakes/fakeurlopener.h"
#include "gui/viewmodels/nav.h"
#include "shell/fileopenrouter.h"
#include "shell/launchrequest.h"
#include "shell/murcommands.h"
#include "shell/updatechecker.h"
#include "testenvironment.h"
#include "testhttpserver.h"

#include <QSignalSpy>
#include <QTest>
#include <QUrlQuery>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(Nav::MurScreen)
Q_DECLARE_METATYPE(Nav::SettingsTab)

class TestShellCommands final : public QObject
{
    Q_OBJECT

private:
    struct Shell
    {
        explicit Shell(const TestEnvironment &environment, const QUrl &manifest)
            : preferences(environment.configHome() + u"/Murmel/preferences.json"_s)
            , rig(preferences, environment.dataHome() + u"/Murmel/History/history.json"_s,
                  environment.dataHome() + u"/Murmel/Models"_s)
            , updates(manifest, u"0.1.0"_s)
            , commands({*rig.controller, nav, router, window, urls, updates})
        {}

        Preferences preferences;
        DictationRig rig;
        Nav nav;
        FileOpenRouter router;
        FakeMainWindowHost window;
        FakeUrlOpener urls;
        UpdateChecker updates;
        MurCommands commands;
    };

    TestEnvironment m_environment;
    TestHttpServer m_server;

    std::unique_ptr<Shell> shell() { return std::make_unique<Shell>(m_environment, m_server.url(u"/latest.json"_s)); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_server.listen());
        // A missing model is looked for here, and not found.
        qputenv("MURMEL_MODEL_BASE_URL", m_server.url(u"/models/"_s).toString().toUtf8());
    }

    void commandsLeadWhereTheySay_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<Nav::MurScreen>("screen");
        QTest::addColumn<Nav::SettingsTab>("tab");
        QTest::addColumn<int>("presented");

        // Every command starts from the history screen on the cleanup tab.
        QTest::newRow("Settings…") << "openSettings" << Nav::MurScreen::settings << Nav::SettingsTab::cleanup << 1;
        QTest::newRow("Transcribe a File…") << "transcribeFile" << Nav::MurScreen::file << Nav::SettingsTab::cleanup << 1;
        QTest::newRow("Set Hotkey…") << "setHotkey" << Nav::MurScreen::settings << Nav::SettingsTab::general << 1;
        QTest::newRow("Home") << "showHome" << Nav::MurScreen::home << Nav::SettingsTab::cleanup << 1;
        QTest::newRow("History") << "showHistory" << Nav::MurScreen::history << Nav::SettingsTab::cleanup << 1;
        QTest::newRow("Back") << "back" << Nav::MurScreen::home << Nav::SettingsTab::cleanup << 0;
        // The tray's item opens the file screen in the window without stealing it first.
        QTest::newRow("tray Transcribe a File…") << "dockTranscribeFile" << Nav::MurScreen::file << Nav::SettingsTab::cleanup << 1;
        QTest::newRow("tray Start Dictation") << "dockToggleDictation" << Nav::MurScreen::history << Nav::SettingsTab::cleanup << 0;
        QTest::newRow("Start Dictation") << "toggleDictation" << Nav::MurScreen::history << Nav::SettingsTab::cleanup << 1;
    }

    void commandsLeadWhereTheySay()
    {
        QFETCH(QString, command);
        QFETCH(Nav::MurScreen, screen);
        QFETCH(Nav::SettingsTab, tab);
        QFETCH(int, presented);

        auto s = shell();
        s->nav.setScreen(Nav::MurScreen::history);
        s->nav.setSettingsTab(Nav::SettingsTab::cleanup);
        QVERIFY(QMetaObject::invokeMethod(&s->commands, command.toLatin1().constData()));
        QCOMPARE(s->nav.screen(), screen);
        QCOMPARE(s->nav.settingsTab(), tab);
        QCOMPARE(s->window.presented, presented);
        QCOMPARE(s->router.pendingUrl(), QUrl());
    }

    void backOnHomeStaysHome()
    {
        auto s = shell();
        QSignalSpy changed(&s->nav, &Nav::screenChanged);
        s->commands.back();
        QCOMPARE(s->nav.screen(), Nav::MurScreen::home);
        QCOMPARE(changed.count(), 0);
    }

    void dictationItemFollowsTheController()
    {
        auto s = shell();
        QSignalSpy changed(&s->commands, &MurCommands::dictationStateChanged);
        QCOMPARE(s->commands.dictationTitle(), u"Start Dictation"_s);
        QVERIFY(s->commands.dictationEnabled());

        s->commands.dockToggleDictation();
        QCOMPARE(s->rig.controller->status(), DictationController::Status::recording);
        QCOMPARE(s->commands.dictationTitle(), u"Stop Dictation"_s);
        QCOMPARE(changed.count(), 1);

        // Stopping moves on to processing, where the item is disabled and a toggle does
        // nothing; without a model the processing ends at once.
        QList<bool> enabledWhileChanging;
        connect(&s->commands, &MurCommands::dictationStateChanged, this,
                [&] { enabledWhileChanging << s->commands.dictationEnabled(); });
        s->rig.microphone.deliver(QList<float>(16000, 0.1f));
        s->commands.dockToggleDictation();
        QCOMPARE(s->rig.controller->status(), DictationController::Status::working);
        QVERIFY(!s->commands.dictationEnabled());
        QCOMPARE(s->commands.dictationTitle(), u"Start Dictation"_s);
        s->commands.dockToggleDictation();
        QCOMPARE(s->rig.controller->status(), DictationController::Status::working);
        QTRY_COMPARE_WITH_TIMEOUT(s->rig.controller->status(), DictationController::Status::idle, 10000);
        QCOMPARE(enabledWhileChanging, (QList<bool>{false, true}));
    }

    void openedFiles_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QUrl>("pending");

        QTest::newRow("one path") << QStringList{u"/home/ada/talk.m4a"_s} << true
                                  << QUrl::fromLocalFile(u"/home/ada/talk.m4a"_s);
        QTest::newRow("only the first of three")
            << QStringList{u"/a/one.wav"_s, u"/a/two.wav"_s, u"/a/three.wav"_s} << true << QUrl::fromLocalFile(u"/a/one.wav"_s);
        QTest::newRow("file URL with an escaped space")
            << QStringList{u"file:///tmp/Team%20Sync.MOV"_s} << true << QUrl::fromLocalFile(u"/tmp/Team Sync.MOV"_s);
        QTest::newRow("dots resolved") << QStringList{u"/a/b/../c.wav"_s} << true << QUrl::fromLocalFile(u"/a/c.wav"_s);
        QTest::newRow("none") << QStringList{} << false << QUrl();
        QTest::newRow("relative path") << QStringList{u"talk.m4a"_s} << false << QUrl();
        QTest::newRow("web address") << QStringList{u"https://example.com/talk.m4a"_s} << false << QUrl();
    }

    void openedFiles()
    {
        QFETCH(QStringList, files);
        QFETCH(bool, accepted);
        QFETCH(QUrl, pending);

        auto s = shell();
        QCOMPARE(s->commands.openFiles(files), accepted);
        QCOMPARE(s->router.pendingUrl(), pending);
        QCOMPARE(s->nav.screen(), accepted ? Nav::MurScreen::file : Nav::MurScreen::home);
        QCOMPARE(s->window.presented, accepted ? 1 : 0);
        if (accepted) {
            QCOMPARE(s->router.take(), pending);
            QCOMPARE(s->router.pendingUrl(), QUrl());
        }
    }

    void helpSupportAndUpdates()
    {
        auto s = shell();
        s->commands.openHelp();
        s->commands.contactSupport();
        QCOMPARE(s->urls.opened.size(), 2);
        QCOMPARE(s->urls.opened.at(0), AppInfo::website());
        QCOMPARE(s->urls.opened.at(1).scheme(), u"mailto"_s);
        QVERIFY(QUrlQuery(s->urls.opened.at(1)).queryItemValue(u"subject"_s, QUrl::FullyDecoded).startsWith(u"Murmel "_s));

        m_server.setResponse(u"/latest.json"_s, {.body = R"({"version": "0.1.0"})", .contentType = "application/json"});
        QSignalSpy finished(&s->updates, &UpdateChecker::finished);
        s->commands.checkForUpdates();
        QVERIFY(finished.wait(10000));
        QCOMPARE(s->updates.state(), UpdateChecker::State::upToDate);
        QCOMPARE(s->window.presented, 1);
    }

    void launchArguments_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<bool>("startDictation");
        QTest::addColumn<bool>("fileScreen");
        QTest::addColumn<QString>("problem");

        QTest::newRow("nothing") << QStringList{} << QStringList{} << false << false << QString();
        QTest::newRow("relative and absolute")
            << QStringList{u"talk.m4a"_s, u"../b/c.wav"_s, u"/x/y.mp3"_s}
            << QStringList{u"/home/ada/talk.m4a"_s, u"/home/b/c.wav"_s, u"/x/y.mp3"_s} << false << false << QString();
        QTest::newRow("file URL") << QStringList{u"file:///srv/a%20b.wav"_s} << QStringList{u"/srv/a b.wav"_s}
                                  << false << false << QString();
        QTest::newRow("launcher actions") << QStringList{u"--start-dictation"_s, u"--transcribe-file"_s} << QStringList{}
                                          << true << true << QString();
        QTest::newRow("a file that looks like an option")
            << QStringList{u"--"_s, u"-x.wav"_s} << QStringList{u"/home/ada/-x.wav"_s} << false << false << QString();
        QTest::newRow("unknown option") << QStringList{u"--verbose"_s} << QStringList{} << false << false
                                        << u"Unknown option --verbose."_s;
        QTest::newRow("web address") << QStringList{u"https://example.com/a.mp3"_s} << QStringList{} << false << false
                                     << u"Murmel opens files on this computer only, not https://example.com/a.mp3."_s;
    }

    void launchArguments()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, files);
        QFETCH(bool, startDictation);
        QFETCH(bool, fileScreen);
        QFETCH(QString, problem);

        const auto parsed = LaunchRequest::parse(arguments, u"/home/ada"_s);
        if (!problem.isEmpty()) {
            QCOMPARE(std::get<QString>(parsed), problem);
            return;
        }
        const LaunchRequest &request = std::get<LaunchRequest>(parsed);
        QCOMPARE(request.files, files);
        QCOMPARE(request.startDictation, startDictation);
        QCOMPARE(request.fileScreen, fileScreen);
    }

    void launchRequestPerformedHere()
    {
        auto s = shell();
        LaunchRequest{.files = {u"/a/one.wav"_s, u"/a/two.wav"_s}, .startDictation = true, .fileScreen = false, .activationToken = {}}.perform(s->commands);
        QCOMPARE(s->router.pendingUrl(), QUrl::fromLocalFile(u"/a/one.wav"_s));
        QCOMPARE(s->nav.screen(), Nav::MurScreen::file);
        QCOMPARE(s->rig.controller->status(), DictationController::Status::recording);

        auto t = shell();
        LaunchRequest{.files = {}, .startDictation = false, .fileScreen = true, .activationToken = {}}.perform(t->commands);
        QCOMPARE(t->nav.screen(), Nav::MurScreen::file);
        QCOMPARE(t->router.pendingUrl(), QUrl());
        QCOMPARE(t->window.presented, 1);
    }
};

QTEST_GUILESS_MAIN(TestShellCommands)
#include "tst_shellcommands.moc"
