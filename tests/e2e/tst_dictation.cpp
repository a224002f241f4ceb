// Dictation end to end: the real murmel binary on a private desktop with an unlocked Secret
// Service and the parrot model (which says "Hello from the parrot model." for any speech).
// xdotool presses the hotkey, espeak-ng speech is played into the microphone, the test
// window in front reports what lands in its text field, and a screen reader listens.
#include "murmeldesktop.h"
#include "textwindowprocess.h"

#include "core/text/keychainhelper.h"
#include "platform/session/qtkeychainstore.h"

#include <QCoroTask>
#include <QDBusReply>
#include <QDBusVariant>
#include <QScopeGuard>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString phrase = u"Hello from the parrot model."_s;

bool storeApiKey(const QString &key)
{
    QtKeychainStore store;
    auto save = KeychainHelper(store).save(key, KeychainHelper::apiKeyAccount());
    return !QCoro::waitFor(std::move(save)).has_value();
}

} // namespace

class TestDictation : public QObject
{
    Q_OBJECT

public Q_SLOTS:
    void announced(const QDBusMessage &event) // its text, and its politeness (1: polite)
    {
        const QList<QVariant> arguments = event.arguments();
        m_heard << arguments.value(3).value<QDBusVariant>().variant().toString() + u'/' + arguments.value(1).toString();
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(m.start(), qPrintable(m.error())); }
    void toggleThenHoldToTalk();

private:
    void pressHotkey() { m.desktop.xdotool({u"keydown"_s, u"ctrl+alt+space"_s}); }
    // People let go of the key before the modifiers; the release counts only that way round.
    void releaseHotkey() { m.desktop.xdotool({u"keyup"_s, u"space"_s, u"keyup"_s, u"alt"_s, u"ctrl"_s}); }
    bool dictate()
    {
        pressHotkey();
        releaseHotkey();
        const bool spoken = m.sound.play(m.speech);
        pressHotkey();
        releaseHotkey();
        return spoken;
    }
    QString clipboard() const { return m.desktop.run(u"xclip"_s, {u"-o"_s, u"-selection"_s, u"clipboard"_s}); }

    MurmelDesktop m{SecretServiceSession::Keyring::unlocked};
    std::unique_ptr<TextWindowProcess> m_window;
    QStringList m_heard; // what a screen reader heard announced
};

void TestDictation::toggleThenHoldToTalk()
{
    // Not onboarded: no warm-up, so the first dictation is what fetches the model.
    QVERIFY2(m.reset(false), qPrintable(m.error()));
    QVERIFY(QFile::remove(m.modelPath()));
    m.serveModel();
    // A screen reader runs, so Murmel's accessibility is on and its announcements reach it.
    QProcess accessibilityBus;
    const auto stopReader = qScopeGuard([&] {
        QDBusConnection::disconnectFromBus(u"screen-reader"_s);
        ChildProcess::stop(accessibilityBus);
    });
    QVERIFY(m.bus.startAccessibilityBus(accessibilityBus));
    const QDBusReply<QString> address = m.bus.connection().call(
        QDBusMessage::createMethodCall(u"org.a11y.Bus"_s, u"/org/a11y/bus"_s, u"org.a11y.Bus"_s, u"GetAddress"_s));
    QVERIFY(QDBusConnection::connectToBus(address.value(), u"screen-reader"_s)
                .connect({}, {}, u"org.a11y.atspi.Event.Object"_s, u"Announcement"_s, this, SLOT(announced(QDBusMessage))));
    QProcessEnvironment accessible;
    accessible.insert(u"QT_LINUX_ACCESSIBILITY_ALWAYS_ON"_s, u"1"_s);
    QVERIFY2(m.launch(accessible), qPrintable(m.error()));
    // The test window opens after Murmel's own window is on screen, so it is the one in front.
    m_window = std::make_unique<TextWindowProcess>(m.desktop.environment());
    QVERIFY(m_window->start());
    QVERIFY(!QFile::exists(m.modelPath()));

    QVERIFY(dictate());
    QVERIFY2(m_window->waitForText(phrase, 60000), qPrintable(m_window->text()));
    QVERIFY(QFile::exists(m.modelPath()));
    QCOMPARE(clipboard(), phrase);
    QTRY_COMPARE_WITH_TIMEOUT(m.history().size(), 1, 5000);
    const QJsonObject record = m.history().first().toObject();
    QCOMPARE(record.value(u"kind").toString(), u"dictation"_s);
    QCOMPARE(record.value(u"text").toString(), phrase);
    QVERIFY(!record.contains(u"duration"));
    QTRY_COMPARE(m_heard, (QStringList{u"Listening/1"_s, u"Transcribing/1"_s, u"Inserted/1"_s}));

    // A second dictation lands after the first.
    QTest::qWait(1500);
    QVERIFY(dictate());
    QVERIFY2(m_window->waitForText(phrase + phrase, 30000), qPrintable(m_window->text()));
    QTRY_COMPARE_WITH_TIMEOUT(m.history().size(), 2, 5000);

    // Held to talk, changed while Murmel runs: cleanup asks the server with the key from the
    // keychain, and the dictionary runs again on the cleaned text; with clipboard-safe insertion
    // nothing is pasted until `murmel insert-last`.
    QVERIFY(storeApiKey(u"sk-test"_s));
    using Setting = std::pair<QString, QString>;
    for (const auto &[key, json] :
         {Setting{u"holdToTalk"_s, u"true"_s}, Setting{u"clipboardSafeInsert"_s, u"true"_s},
          Setting{u"cleanupMode"_s, u"\"clean\""_s},
          Setting{u"vocabularyRules"_s, uR"([{"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","heard":"tidy","wanted":"Tidy™"}])"_s}})
        QVERIFY2(m.config(key, json), qPrintable(m.error()));
    const QJsonObject answer{{u"type"_s, u"message"_s}, {u"role"_s, u"assistant"_s},
                             {u"content"_s, QJsonArray{QJsonObject{{u"type"_s, u"text"_s},
                                                                   {u"text"_s, u"A tidy greeting from the parrot."_s}}}}};
    m.server.setResponse(u"/anthropic/v1/messages"_s,
                         {.body = QJsonDocument(answer).toJson(), .contentType = "application/json"});
    int code = -1;
    m.desktop.run(u"xclip"_s, {u"-selection"_s, u"clipboard"_s}, &code, "what I copied before");
    QCOMPARE(code, 0);

    pressHotkey();
    QVERIFY(m.sound.play(m.speech));
    releaseHotkey();
    const QString cleaned = u"A Tidy™ greeting from the parrot."_s;
    QTRY_COMPARE_WITH_TIMEOUT(m.history().size(), 3, 30000);
    QCOMPARE(m.history().first().toObject().value(u"text").toString(), cleaned);
    QTest::qWait(500);
    QCOMPARE(m_window->text(), phrase + phrase);
    // The hotkey itself typed nothing.
    for (const TextWindowProcess::Key &key : m_window->keys())
        QVERIFY2(key.key != u"Space"_s, "the hotkey reached the window");
    const QList<TestHttpServer::Request> requests = m.server.requests();
    const auto asked = std::find_if(requests.begin(), requests.end(),
                                    [](const auto &request) { return request.target.endsWith("/v1/messages"); });
    QVERIFY(asked != requests.end());
    QCOMPARE(asked->headers.value("x-api-key"), QByteArray("sk-test"));
    QVERIFY(asked->body.contains(phrase.toUtf8()));

    const MurmelProcess::Result insert = MurmelProcess::murmel({u"insert-last"_s}, m.environment());
    QVERIFY2(insert.exitCode == 0 && insert.err.isEmpty(), qPrintable(insert.err));
    QVERIFY2(m_window->waitForText(phrase + phrase + cleaned), qPrintable(m_window->text()));
    QCOMPARE(clipboard(), u"what I copied before"_s);
}

QTEST_GUILESS_MAIN(TestDictation)
#include "tst_dictation.moc"
