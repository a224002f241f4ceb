// The API key in the keychain: through QtKeychain to a real Secret Service (an unlocked
// gnome-keyring on a private bus), seen by other clients through secret-tool; without any
// Secret Service; and the helper's handling of a store that fails.
#include "childprocess.h"
#include "core/text/keychainhelper.h"
#include "fakesecretstore.h"
#include "platform/session/qtkeychainstore.h"
#include "secretservicesession.h"
#include "testenvironment.h"

#include <QCoroTask>
#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Set in the child process that runs the checks without any Secret Service.
constexpr char withoutServiceVariable[] = "MURMEL_TEST_KEYCHAIN_WITHOUT_SERVICE";
const QString apiKey = KeychainHelper::apiKeyAccount();
const QStringList apiKeyAttributes{u"server"_s, KeychainHelper::defaultService(), u"user"_s, apiKey};

std::optional<QString> read(const KeychainHelper &helper, const QString &account = apiKey)
{
    return QCoro::waitFor(helper.read(account));
}

// The text the user would see, or "no error".
QString outcome(QCoro::Task<std::optional<KeychainHelper::Error>> task)
{
    const auto error = QCoro::waitFor(std::move(task));
    return error ? error->description() : u"no error"_s;
}

// How many items every other program finds under the key's attributes: secret-tool starts
// each item of a listing with its object path in brackets.
qsizetype storedItemCount()
{
    const QByteArray listing = ChildProcess::run(u"secret-tool"_s, QStringList{u"search"_s, u"--all"_s} + apiKeyAttributes);
    return listing.startsWith('[') + listing.count("\n[");
}

} // namespace

// Found by QCOMPARE through argument-dependent lookup, so it lives in QString's namespace.
char *toString(const std::optional<QString> &value)
{
    return value ? QTest::toString(u'"' + *value + u'"') : qstrdup("nothing");
}

// Runs in a child process whose session has no Secret Service, or no session bus at all.
class TestKeychainWithoutService final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everythingFailsAndSaysSo()
    {
        QtKeychainStore store;
        const KeychainHelper helper(store);
        // Unlike a key never set, a keychain out of reach is worth a warning.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"Could not read .* from the keychain: .+"_s));
        QCOMPARE(read(helper), std::nullopt);
        QVERIFY(!QCoro::waitFor(helper.hasAPIKey()));
        const QString saved = outcome(helper.save(u"sk-ant-api03-never-stored"_s, apiKey));
        QVERIFY2(saved.startsWith(u"The key was not saved to the keychain: "_s) && saved.size() > 40, qPrintable(saved));
        for (const QString &removed : {outcome(helper.remove(apiKey)), outcome(helper.save({}, apiKey))})
            QVERIFY2(removed.startsWith(u"The key could not be removed from the keychain: "_s), qPrintable(removed));
    }
};

class TestKeychain final : public QObject
{
    Q_OBJECT

private:
    TestEnvironment m_environment;
    SecretServiceSession m_session{SecretServiceSession::Keyring::unlocked};
    QtKeychainStore m_store;
    KeychainHelper m_helper{m_store};

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_session.start(), qPrintable(m_session.error()));
        // Before the first client: libsecret connects to the session bus once per process.
        m_session.enter();
    }

    void init()
    {
        for (const QString &account : {apiKey, u"other-account"_s})
            QCOMPARE(outcome(m_helper.remove(account)), u"no error"_s);
        QCOMPARE(storedItemCount(), 0);
    }

    // Items that are no key: bytes that are not UTF-8 (here cut inside a character), and an
    // empty one. Saving over the first deletes it first, which leaves one item whatever form
    // the older one had.
    void savesOverItemsThatAreNoKey()
    {
        const auto write = [this](const QByteArray &bytes) {
            const auto written = QCoro::waitFor(m_store.write(KeychainHelper::defaultService(), apiKey, bytes));
            return written ? written->message : u"written"_s;
        };
        // Text with a NUL byte would be cut short there, so such bytes are stored as they are.
        const QByteArray withNul("sk-\0-ant", 8);
        QCOMPARE(write(withNul), u"written"_s);
        QCOMPARE(read(m_helper), QString::fromUtf8(withNul));
        QCOMPARE(write("sk-\xe2\x82"), u"written"_s);
        QCOMPARE(read(m_helper), std::nullopt);
        QVERIFY(!QCoro::waitFor(m_helper.hasAPIKey()));

        const QString value = u"  schlüssel-🔑-ключ-鍵 sk-ant \n"_s;
        QCOMPARE(outcome(m_helper.save(value, apiKey)), u"no error"_s);
        QCOMPARE(read(m_helper), value);
        QVERIFY(QCoro::waitFor(m_helper.hasAPIKey()));
        // Other clients find the key under the service and account as plain UTF-8.
        QCOMPARE(ChildProcess::run(u"secret-tool"_s, QStringList{u"lookup"_s} + apiKeyAttributes), value.toUtf8());
        QCOMPARE(storedItemCount(), 1);

        QCOMPARE(write(""), u"written"_s);
        QCOMPARE(read(m_helper), QString());
        QVERIFY(!QCoro::waitFor(m_helper.hasAPIKey()));
    }

    void withoutSecretService_data()
    {
        QTest::addColumn<bool>("withBus");
        QTest::newRow("bus without a secrets provider") << true;
        QTest::newRow("no session bus") << false;
    }

    // libsecret keeps its first bus connection for the life of the process, so another
    // session needs another process.
    void withoutSecretService()
    {
        QFETCH(bool, withBus);
        SecretServiceSession bare(SecretServiceSession::Keyring::none);
        QVERIFY2(bare.start(), qPrintable(bare.error()));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(bare.environment());
        if (!withBus)
            environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, u"unix:path="_s + environment.value(u"HOME"_s) + u"/no-bus"_s);
        environment.insert(QString::fromLatin1(withoutServiceVariable), u"1"_s);
        int code = -1;
        const QByteArray output = ChildProcess::run(QCoreApplication::applicationFilePath(), {}, &code, environment);
        QVERIFY2(code == 0 && output.contains("Totals: 3 passed, 0 failed"), output.constData());
    }

    // Some keychains answer for a missing item with "not found": no failure, and nothing to warn
    // about, whether it is read or removed.
    void missingItemsAreNoFailure()
    {
        FakeSecretStore store;
        const KeychainHelper helper(store);
        QTest::failOnWarning(QRegularExpression(u".*"_s));
        QCOMPARE(read(helper), std::nullopt);
        QCOMPARE(outcome(helper.save({}, apiKey)), u"no error"_s);
        QCOMPARE(outcome(helper.remove(apiKey)), u"no error"_s);
    }

    void saveAgainstAFailingStore_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("failing");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QString>("error");
        const QStringList both{u"remove"_s, u"write"_s};
        QTest::newRow("write fails") << u"sk"_s << u"write"_s << both
                                     << u"The key was not saved to the keychain: The collection is locked."_s;
        QTest::newRow("removal fails, value written anyway") << u"sk"_s << u"remove"_s << both << u"no error"_s;
        QTest::newRow("removal fails, empty value")
            << QString() << u"remove"_s << QStringList{u"remove"_s}
            << u"The key could not be removed from the keychain: The collection is locked."_s;
    }

    void saveAgainstAFailingStore()
    {
        QFETCH(QString, value);
        QFETCH(QString, failing);
        QFETCH(QStringList, calls);
        QFETCH(QString, error);
        FakeSecretStore store;
        store.items.insert({KeychainHelper::defaultService(), apiKey}, "old");
        const SecretStore::Error locked{SecretStore::Error::failed, u"The collection is locked."_s};
        (failing == u"write" ? store.writeFailure : store.removeFailure) = locked;
        QCOMPARE(outcome(KeychainHelper(store).save(value, apiKey)), error);
        QCOMPARE(store.calls, calls);
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    // QtKeychain picks its backend by desktop; outside KDE that is libsecret, the one tested here.
    for (const char *name : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION", "KDE_SESSION_VERSION",
                             "GNOME_DESKTOP_SESSION_ID", "DISPLAY", "WAYLAND_DISPLAY"})
        qunsetenv(name);
    if (qEnvironmentVariableIsSet(withoutServiceVariable)) {
        TestKeychainWithoutService test;
        return QTest::qExec(&test, argc, argv);
    }
    TestKeychain test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_keychain.moc"
