// The shell's actions (where they lead, the dictation one following the genuine controller),
// a launch's arguments, and what "Check for Updates…" says of each answer of a local HTTP
// server, failing ones included.
#include "dictationrig.h"
#include "fakes/fakemainwindowhost.h"
#include "fakes/fakeurlopener.h"
#include "shell/fileopenrouter.h"
#include "shell/launchrequest.h"
#include "shell/murcommands.h"
#include "shell/updatechecker.h"
#include "testenvironment.h"
#include "testhttpserver.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

using State = UpdateChecker::State;

const QString manifestPath = u"/releases/latest.json"_s;
const QString upToDate = u"You're up to date. Murmel 0.1.0 is the newest version."_s;
const QString unreachable = u"Murmel could not check for updates. The update server could not be reached."_s;
const QString unreadable = u"Murmel could not check for updates. The update information could not be read."_s;

TestHttpServer::Response manifest(std::initializer_list<std::pair<const char *, const char *>> fields)
{
    QJsonObject object;
    for (const auto &[key, value] : fields)
        object.insert(QString::fromUtf8(key), QString::fromUtf8(value));
    return {.body = QJsonDocument(object).toJson(QJsonDocument::Compact), .contentType = "application/json"};
}

bool finish(UpdateChecker &checker)
{
    QSignalSpy finished(&checker, &UpdateChecker::finished);
    checker.check();
    return finished.wait(20000) && finished.size() == 1;
}

} // namespace

class TestShellCommands final : public QObject
{
    Q_OBJECT

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
        Nav nav{nullptr};
        FileOpenRouter router;
        FakeMainWindowHost window;
        FakeUrlOpener urls;
        UpdateChecker updates;
        MurCommands commands;
    };

    TestEnvironment m_environment;
    TestHttpServer m_server;

    std::unique_ptr<Shell> shell(const QUrl &manifest = {}) { return std::make_unique<Shell>(m_environment, manifest); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_server.listen());
        qputenv("MURMEL_MODEL_BASE_URL", m_server.url(u"/models/"_s).toString().toUtf8());
    }

    // Each leads to its screen and brings the window forward; Back only goes home, and
    // dictation from the tray or a script leaves the window where it is.
    void actionsLeadWhereTheySay()
    {
        auto s = shell();
        s->nav.setScreen(Nav::MurScreen::history);
        s->nav.setSettingsTab(Nav::SettingsTab::cleanup);
        s->commands.toggleDictation()->trigger();
        QCOMPARE(s->nav.screen(), Nav::MurScreen::history);
        QCOMPARE(s->window.presented, 0);
        s->commands.openSettings()->trigger();
        QCOMPARE(s->nav.screen(), Nav::MurScreen::settings);
        QCOMPARE(s->nav.settingsTab(), Nav::SettingsTab::cleanup);
        s->commands.transcribeFile()->trigger();
        QCOMPARE(s->nav.screen(), Nav::MurScreen::file);
        s->commands.setHotkey()->trigger();
        QCOMPARE(s->nav.screen(), Nav::MurScreen::settings);
        QCOMPARE(s->nav.settingsTab(), Nav::SettingsTab::general);
        s->commands.back()->trigger();
        QCOMPARE(s->nav.screen(), Nav::MurScreen::home);
        QCOMPARE(s->window.presented, 3);
    }

    // Start, Stop while recording; off while processing, when a trigger does nothing.
    void dictationActionFollowsTheController()
    {
        auto s = shell();
        MurAction &toggle = *s->commands.toggleDictation();
        QCOMPARE(toggle.text(), u"Start Dictation"_s);
        toggle.trigger();
        QCOMPARE(s->rig.controller->status(), DictationController::Status::recording);
        QCOMPARE(toggle.text(), u"Stop Dictation"_s);

        s->rig.microphone.deliver(QList<float>(16000, 0.1f));
        toggle.trigger();
        QCOMPARE(s->rig.controller->status(), DictationController::Status::working);
        QVERIFY(!toggle.isEnabled());
        QSignalSpy triggered(&toggle, &MurAction::triggered);
        toggle.trigger();
        QCOMPARE(triggered.count(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(s->rig.controller->status(), DictationController::Status::idle, 10000);
        QVERIFY(toggle.isEnabled());
        QCOMPARE(toggle.text(), u"Start Dictation"_s);
    }

    // Parsed, then performed here: a file wins over --transcribe-file.
    void launchRequests()
    {
        const auto parse = [](const QStringList &arguments) { return LaunchRequest::parse(arguments, u"/home/ada"_s); };
        const auto request = std::get<LaunchRequest>(parse({u"talk.m4a"_s, u"../b/c.wav"_s, u"--"_s, u"-x.mp3"_s}));
        QCOMPARE(request.files, (QStringList{u"/home/ada/talk.m4a"_s, u"/home/b/c.wav"_s, u"/home/ada/-x.mp3"_s}));
        QCOMPARE(std::get<QString>(parse({u"--verbose"_s})), u"Unknown option --verbose."_s);
        QCOMPARE(std::get<QString>(parse({u"https://example.com/a.mp3"_s})),
                 u"Murmel opens files on this computer only, not https://example.com/a.mp3."_s);
        const auto actions =
            std::get<LaunchRequest>(parse({u"--start-dictation"_s, u"--transcribe-file"_s, u"/a/one.wav"_s}));
        QVERIFY(actions.startDictation && actions.fileScreen);
        auto s = shell();
        actions.perform(s->commands);
        QCOMPARE(s->router.pendingUrl(), QUrl::fromLocalFile(u"/a/one.wav"_s));
        QCOMPARE(s->window.presented, 1);
        QCOMPARE(s->rig.controller->status(), DictationController::Status::recording);
    }

    void manifestAnswers_data()
    {
        QTest::addColumn<TestHttpServer::Response>("response");
        QTest::addColumn<State>("state");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QUrl>("download");
        const QString newer = u"Murmel 0.2.0 is available. You have 0.1.0."_s;
        QTest::newRow("newer") << manifest({{"version", "0.2.0"}, {"notes", "Faster."}, {"url", "https://murmel.app/dl"}})
                               << State::available << newer << QUrl(u"https://murmel.app/dl"_s);
        QTest::newRow("newer with v, numerically") << manifest({{"version", "v0.10"}}) << State::available
                                                   << u"Murmel 0.10 is available. You have 0.1.0."_s << QUrl();
        QTest::newRow("older") << manifest({{"version", "0.0.9"}}) << State::upToDate << upToDate << QUrl();
        QTest::newRow("same, trailing zeros") << manifest({{"version", "0.1.0.0"}}) << State::upToDate << upToDate
                                              << QUrl();
        QTest::newRow("not found") << TestHttpServer::Response{.status = 404} << State::failed << unreachable << QUrl();
        QTest::newRow("silent") << TestHttpServer::Response{.neverAnswer = true} << State::failed << unreachable << QUrl();
        QTest::newRow("pre-release suffix") << manifest({{"version", "9.0-beta"}}) << State::failed << unreadable
                                            << QUrl();
        const QByteArray hugeNotes(200 * 1024, 'x');
        QTest::newRow("far too large") << manifest({{"version", "9.0"}, {"notes", hugeNotes.constData()}})
                                       << State::failed << unreadable << QUrl();
        // Only a web address may reach the user's browser.
        QTest::newRow("javascript url") << manifest({{"version", "0.2.0"}, {"url", "javascript:alert(1)"}})
                                        << State::available << newer << QUrl();
    }

    void manifestAnswers()
    {
        QFETCH(TestHttpServer::Response, response);
        QFETCH(State, state);
        QFETCH(QString, message);
        QFETCH(QUrl, download);
        m_server.setResponse(manifestPath, response);
        UpdateChecker checker(m_server.url(manifestPath), u"0.1.0"_s);
        checker.setTimeout(std::chrono::seconds(3));
        QVERIFY(finish(checker));
        QCOMPARE(checker.state(), state);
        QCOMPARE(checker.message(), message);
        QCOMPARE(checker.downloadUrl(), download);
    }

};

QTEST_GUILESS_MAIN(TestShellCommands)
#include "tst_shellcommands.moc"
