// Dictation end to end: the real murmel binary on a private display with a window manager,
// a PulseAudio virtual microphone, a private session bus with an unlocked Secret Service,
// and the parrot model (which says "Hello from the parrot model." for any speech). xdotool
// presses the hotkey, espeak-ng speech is played into the microphone, and the test window
// in front reports what lands in its text field.
#include "childprocess.h"
#include "desktopsession.h"
#include "fixturemodels.h"
#include "murmelprocess.h"
#include "secretservicesession.h"
#include "soundsession.h"
#include "testhttpserver.h"
#include "textwindowprocess.h"

#include "core/text/keychainhelper.h"
#include "platform/session/qtkeychainstore.h"

#include <QCoroTask>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(TestHttpServer::Response)

namespace {

const QString phrase = QStringLiteral("Hello from the parrot model.");

} // namespace

class TestDictation : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void togglePastesIntoTheFocusedWindow();
    void holdToTalk();
    void cleanupRewritesTheText();
    void clipboardSafeInsertLeavesTheClipboardAlone();
    void missingModelIsDownloadedOnFirstDictation();

private:
    QProcessEnvironment environment() const;
    void config(const QString &key, const QString &json);
    bool launch(bool onboarded = true);
    void pressHotkey();
    void holdHotkey();
    void releaseHotkey();
    bool speak();
    bool dictate();
    QJsonArray history() const;
    QString clipboard() const;
    QString modelPath() const;
    bool waitForIdle();

    SecretServiceSession m_bus{SecretServiceSession::Keyring::unlocked};
    DesktopSession m_desktop;
    SoundSession m_sound;
    TestHttpServer m_server;
    QTemporaryDir m_folder;
    QString m_speech;
    QString m_parrot;
    QString m_catalog;
    QProcess *m_murmel = nullptr;
    TextWindowProcess *m_window = nullptr;
};

void TestDictation::initTestCase()
{
    QVERIFY2(m_bus.start(), qPrintable(m_bus.error()));
    QVERIFY2(m_desktop.start(), qPrintable(m_desktop.error()));
    QVERIFY2(m_sound.start(), qPrintable(m_sound.error()));
    QVERIFY(m_server.listen());
    // The test's own keychain calls go to the private Secret Service.
    m_bus.enter();

    m_speech = m_folder.filePath(QStringLiteral("speech.wav"));
    QCOMPARE(QProcess::execute(QStringLiteral("espeak-ng"),
                               {QStringLiteral("-w"), m_speech, QStringLiteral("Please write this down for me.")}),
             0);
    m_parrot = m_folder.filePath(QStringLiteral("parrot.bin"));
    QVERIFY(FixtureModels::make(m_parrot));
    m_catalog = m_folder.filePath(QStringLiteral("catalog.json"));
    const QString digest = FixtureModels::sha256Of(m_parrot);
    QJsonObject digests;
    for (const char *name : {"base.en", "base", "small", "large-v3"})
        digests.insert(QString::fromLatin1(name), digest);
    QFile catalog(m_catalog);
    QVERIFY(catalog.open(QIODevice::WriteOnly));
    catalog.write(QJsonDocument(digests).toJson());
}

QProcessEnvironment TestDictation::environment() const
{
    QProcessEnvironment variables = m_desktop.environment();
    variables.insert(m_bus.environment());
    variables.insert(m_sound.environment());
    return MurmelProcess::isolated(variables, m_folder.path(), m_server.url(QStringLiteral("/")));
}

void TestDictation::init()
{
    // Every case starts from a fresh home with the dictation model (base.en, since the
    // language is English and the speed fast) in place and nothing else stored.
    for (const char *folder : {"config", "data"})
        QVERIFY(QDir(m_folder.filePath(QString::fromLatin1(folder))).removeRecursively());
    QVERIFY(QDir().mkpath(QFileInfo(modelPath()).absolutePath()));
    QVERIFY(QFile::copy(m_parrot, modelPath()));
    config(QStringLiteral("language"), QStringLiteral("\"en\""));
    config(QStringLiteral("hasOnboarded"), QStringLiteral("true"));
    m_server.setResponse(QStringLiteral("/models/ggml-base.en.bin"), {.status = 404});
}

void TestDictation::cleanup()
{
    delete m_window;
    m_window = nullptr;
    if (m_murmel) {
        m_murmel->terminate();
        if (!m_murmel->waitForFinished(10000))
            m_murmel->kill();
        m_murmel->waitForFinished();
        delete m_murmel;
        m_murmel = nullptr;
    }
    // The keys of a failed case must not stay held for the next one.
    m_desktop.run(QStringLiteral("xdotool"), {QStringLiteral("keyup"), QStringLiteral("space"), QStringLiteral("ctrl"),
                                              QStringLiteral("alt")});
}

QString TestDictation::modelPath() const
{
    return m_folder.filePath(QStringLiteral("data/Murmel/Models/ggml-base.en.bin"));
}

void TestDictation::config(const QString &key, const QString &json)
{
    const MurmelProcess::Result result =
        MurmelProcess::murmel({QStringLiteral("config"), QStringLiteral("set"), key, json}, environment());
    QVERIFY2(result.exitCode == 0, qPrintable(result.err));
}

bool TestDictation::launch(bool onboarded)
{
    if (!onboarded)
        config(QStringLiteral("hasOnboarded"), QStringLiteral("false"));
    m_murmel = new QProcess;
    m_murmel->setProcessEnvironment(environment());
    m_murmel->setProcessChannelMode(QProcess::ForwardedChannels);
    ChildProcess::dieWithParent(*m_murmel);
    m_murmel->start(MurmelProcess::binary(), {});
    // The bus name is taken last at start-up: once it is there, the hotkey is watched.
    if (!QTest::qWaitFor([this] { return m_bus.hasName(QStringLiteral("app.murmel.Murmel")); }, 20000))
        return false;
    // The test window opens after Murmel's own window is on screen, so it is the one in front.
    const bool shown = QTest::qWaitFor(
        [this] {
            int code = -1;
            m_desktop.run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                      QStringLiteral("--name"), QStringLiteral("^Murmel$")},
                          &code);
            return code == 0;
        },
        20000);
    if (!shown)
        return false;
    m_window = new TextWindowProcess(m_desktop.environment());
    return m_window->start();
}

void TestDictation::holdHotkey()
{
    m_desktop.run(QStringLiteral("xdotool"), {QStringLiteral("keydown"), QStringLiteral("ctrl+alt+space")});
}

// People let go of the key before the modifiers; the release counts only that way round.
void TestDictation::releaseHotkey()
{
    m_desktop.run(QStringLiteral("xdotool"), {QStringLiteral("keyup"), QStringLiteral("space")});
    m_desktop.run(QStringLiteral("xdotool"), {QStringLiteral("keyup"), QStringLiteral("alt"), QStringLiteral("ctrl")});
}

void TestDictation::pressHotkey()
{
    holdHotkey();
    releaseHotkey();
}

bool TestDictation::speak()
{
    return m_sound.play(m_speech);
}

bool TestDictation::dictate()
{
    pressHotkey();
    const bool spoken = speak();
    pressHotkey();
    return spoken;
}

QJsonArray TestDictation::history() const
{
    QFile file(m_folder.filePath(QStringLiteral("data/Murmel/History/history.json")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).array();
}

QString TestDictation::clipboard() const
{
    return m_desktop.run(QStringLiteral("xclip"), {QStringLiteral("-o"), QStringLiteral("-selection"),
                                                   QStringLiteral("clipboard")});
}

void TestDictation::togglePastesIntoTheFocusedWindow()
{
    QVERIFY(launch());
    QVERIFY(dictate());
    QVERIFY2(m_window->waitForText(phrase, 30000), qPrintable(m_window->text()));
    QCOMPARE(clipboard(), phrase);
    QTRY_COMPARE_WITH_TIMEOUT(history().size(), 1, 5000);
    const QJsonObject record = history().first().toObject();
    QCOMPARE(record.value(u"kind").toString(), QStringLiteral("dictation"));
    QCOMPARE(record.value(u"text").toString(), phrase);
    QVERIFY(!record.contains(u"duration"));

    // A second dictation lands after the first.
    QTest::qWait(1500);
    QVERIFY(dictate());
    QVERIFY2(m_window->waitForText(phrase + phrase, 30000), qPrintable(m_window->text()));
    QTRY_COMPARE_WITH_TIMEOUT(history().size(), 2, 5000);
}

void TestDictation::holdToTalk()
{
    config(QStringLiteral("holdToTalk"), QStringLiteral("true"));
    QVERIFY(launch());
    holdHotkey();
    QVERIFY(speak());
    releaseHotkey();
    QVERIFY2(m_window->waitForText(phrase, 30000), qPrintable(m_window->text()));
    // The hotkey itself typed nothing.
    for (const TextWindowProcess::Key &key : m_window->keys())
        QVERIFY2(key.key != QStringLiteral("Space"), "the hotkey reached the window");
}

static QByteArray messagesAnswer(const QString &text)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("type"), QStringLiteral("message")},
                                     {QStringLiteral("role"), QStringLiteral("assistant")},
                                     {QStringLiteral("content"),
                                      QJsonArray{QJsonObject{{QStringLiteral("type"), QStringLiteral("text")},
                                                             {QStringLiteral("text"), text}}}}})
        .toJson();
}

static bool storeApiKey(const QString &key)
{
    QtKeychainStore store;
    auto save = KeychainHelper(store).save(key, KeychainHelper::apiKeyAccount());
    return !QCoro::waitFor(std::move(save)).has_value();
}

void TestDictation::cleanupRewritesTheText()
{
    QVERIFY(storeApiKey(QStringLiteral("sk-test")));
    config(QStringLiteral("cleanupMode"), QStringLiteral("\"clean\""));
    // The dictionary runs again on the cleaned text.
    config(QStringLiteral("vocabularyRules"),
           QStringLiteral(R"([{"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","heard":"tidy","wanted":"Tidy™"}])"));
    m_server.setResponse(QStringLiteral("/anthropic/v1/messages"),
                         {.body = messagesAnswer(QStringLiteral("A tidy greeting from the parrot.")),
                          .contentType = "application/json"});
    QVERIFY(launch());
    QVERIFY(dictate());
    QVERIFY2(m_window->waitForText(QStringLiteral("A Tidy™ greeting from the parrot."), 30000),
             qPrintable(m_window->text()));
    bool asked = false;
    for (const TestHttpServer::Request &request : m_server.requests()) {
        if (request.target.endsWith("/v1/messages")) {
            asked = true;
            QCOMPARE(request.headers.value("x-api-key"), QByteArray("sk-test"));
            QVERIFY(request.body.contains(phrase.toUtf8()));
        }
    }
    QVERIFY(asked);
    QVERIFY(storeApiKey(QString()));
}

void TestDictation::clipboardSafeInsertLeavesTheClipboardAlone()
{
    config(QStringLiteral("clipboardSafeInsert"), QStringLiteral("true"));
    QVERIFY(launch());
    int code = -1;
    m_desktop.run(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard")}, &code,
                  QByteArrayLiteral("what I copied before"));
    QCOMPARE(code, 0);
    QVERIFY(dictate());
    QTRY_COMPARE_WITH_TIMEOUT(history().size(), 1, 30000);
    QTest::qWait(500);
    QCOMPARE(m_window->text(), QString());

    const MurmelProcess::Result insert = MurmelProcess::murmel({QStringLiteral("insert-last")}, environment());
    QCOMPARE(insert.err, QString());
    QCOMPARE(insert.exitCode, 0);
    QVERIFY2(m_window->waitForText(phrase), qPrintable(m_window->text()));
    QCOMPARE(clipboard(), QStringLiteral("what I copied before"));

    const MurmelProcess::Result again = MurmelProcess::murmel({QStringLiteral("insert-last")}, environment());
    QCOMPARE(again.exitCode, 1);
    QCOMPARE(again.lastErrLine(), QStringLiteral("No Murmel dictation is ready yet."));
}

void TestDictation::missingModelIsDownloadedOnFirstDictation()
{
    QVERIFY(QFile::remove(modelPath()));
    QFile model(m_parrot);
    QVERIFY(model.open(QIODevice::ReadOnly));
    m_server.setResponse(QStringLiteral("/models/ggml-base.en.bin"), {.body = model.readAll()});
    // Not onboarded: no warm-up, so the first dictation is what fetches the model.
    QVERIFY(launch(false));
    QVERIFY(!QFile::exists(modelPath()));
    QVERIFY(dictate());
    QVERIFY2(m_window->waitForText(phrase, 60000), qPrintable(m_window->text()));
    QVERIFY(QFile::exists(modelPath()));
}

QTEST_GUILESS_MAIN(TestDictation)
#include "tst_dictation.moc"
