#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"
#include "core/base/uuids.h"
#include "core/text/customization.h"
#include "core/text/customizationstore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString styleId = u"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0"_s;

} // namespace

class TestCustomization final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Preferences> m_preferences;

    void storeStyles(const QByteArray &json) { QVERIFY(m_preferences->setData(PreferenceKeys::customStyles, json)); }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_preferences = std::make_unique<Preferences>(m_dir->path() + u"/preferences.json"_s);
    }

    void modes()
    {
        const QList<CleanupMode> all = CleanupMode::allCases();
        QStringList raw;
        QStringList labels;
        for (CleanupMode mode : all) {
            raw << mode.rawValue();
            labels << mode.label();
            QCOMPARE(CleanupMode::fromRawValue(mode.rawValue()), std::optional(mode));
            QCOMPARE(mode.isActive(), mode != CleanupMode::off);
            QCOMPARE(mode.systemPrompt().isEmpty(), !mode.isActive());
        }
        QCOMPARE(raw, (QStringList{u"off"_s, u"clean"_s, u"slack"_s, u"email"_s, u"xpost"_s, u"bullets"_s, u"prompt"_s}));
        QCOMPARE(labels, (QStringList{u"Off (raw transcript)"_s, u"Clean up"_s, u"Slack message"_s, u"Email"_s,
                                      u"X post"_s, u"Bullet points"_s, u"Agent prompt"_s}));
        QCOMPARE(CleanupMode::fromRawValue(u"Email"), std::nullopt);
    }

    void resolution_data()
    {
        QTest::addColumn<QString>("selection"); // empty: absent
        QTest::addColumn<QByteArray>("styles");  // stored "customStyles" JSON; empty: absent
        QTest::addColumn<bool>("active");
        QTest::addColumn<QString>("prompt");
        const QByteArray styles = "[{\"id\":\"" + styleId.toLatin1() + "\",\"name\":\"Pirate\",\"prompt\":\"  Talk like a pirate. \"},"
                                  "{\"id\":\"11111111-2222-3333-4444-555555555555\",\"name\":\"\",\"prompt\":\" \\n\\t \"}]";
        QTest::newRow("nothing stored") << QString() << QByteArray() << false << QString();
        QTest::newRow("off") << u"off"_s << QByteArray() << false << QString();
        QTest::newRow("email") << u"email"_s << QByteArray() << true
                               << u"You turn dictation into a clear, warm, professional email body. First person, concise, plain American English, no filler. Keep any greeting or sign-off the speaker dictated, and do not invent recipients or a subject. Never use dashes."_s;
        QTest::newRow("clean") << u"clean"_s << QByteArray() << true
                               << u"You clean up dictated speech into polished written text. Fix punctuation, capitalization, and obvious speech errors, and remove filler words such as um, uh, and like. Keep the speaker's own wording, meaning, and tone."_s;
        QTest::newRow("prompt") << u"prompt"_s << QByteArray() << true
                                << u"You turn dictation into a clear prompt for an AI coding agent. Lead with the goal in one imperative sentence, then list the requirements as short bullets. Keep every technical detail, file name, path, and constraint the speaker said, exactly as said. Plain text, no headings, no filler, and add nothing the speaker did not ask for."_s;
        QTest::newRow("unknown mode") << u"poetry"_s << QByteArray() << false << QString();
        QTest::newRow("custom, untrimmed prompt") << u"custom:"_s + styleId << styles << true << u"  Talk like a pirate. "_s;
        QTest::newRow("custom, lower-case id") << u"custom:"_s + styleId.toLower() << styles << true << u"  Talk like a pirate. "_s;
        QTest::newRow("custom, blank prompt") << u"custom:11111111-2222-3333-4444-555555555555"_s << styles << false << QString();
        QTest::newRow("custom, no such style") << u"custom:99999999-2222-3333-4444-555555555555"_s << styles << false << QString();
        QTest::newRow("custom, not a UUID") << u"custom:pirate"_s << styles << false << QString();
        QTest::newRow("custom, braces") << u"custom:{"_s + styleId + u'}' << styles << false << QString();
        QTest::newRow("custom, styles undecodable") << u"custom:"_s + styleId << QByteArray("[{\"id\":1}]") << false << QString();
    }

    void resolution()
    {
        QFETCH(QString, selection);
        QFETCH(QByteArray, styles);
        QFETCH(bool, active);
        QFETCH(QString, prompt);
        if (!selection.isEmpty())
            QVERIFY(m_preferences->setString(PreferenceKeys::cleanupMode, selection));
        if (!styles.isEmpty())
            storeStyles(styles);
        QCOMPARE(Settings::resolvedCleanup(*m_preferences), (CleanupResolution{active, prompt}));
    }

    void selectionOfAnotherTypeIsOff()
    {
        QVERIFY(m_preferences->setBoolean(PreferenceKeys::cleanupMode, true));
        QCOMPARE(Settings::resolvedCleanup(*m_preferences), CleanupResolution());
    }

    void legacyVocabulary_data()
    {
        QTest::addColumn<QByteArray>("rulesData"); // empty: absent
        QTest::addColumn<QString>("legacy");       // empty: absent
        QTest::addColumn<QStringList>("wanted");
        QTest::addColumn<bool>("fromLegacy");
        QTest::newRow("nothing") << QByteArray() << QString() << QStringList() << true;
        QTest::newRow("comma list with an empty item")
            << QByteArray() << u" Kubernetes ,, gRPC,  ,Acme "_s << QStringList{u"Kubernetes"_s, u"gRPC"_s, u"Acme"_s} << true;
        QTest::newRow("undecodable rules fall back") << QByteArray("{not json") << u"Acme"_s << QStringList{u"Acme"_s} << true;
        QTest::newRow("a rule without wanted is undecodable")
            << QByteArray("[{\"id\":\"" + styleId.toLatin1() + "\",\"heard\":\"a\"}]") << u"Acme"_s
            << QStringList{u"Acme"_s} << true;
        QTest::newRow("decodable rules win, ids in any case")
            << QByteArray("[{\"id\":\"" + styleId.toLower().toLatin1() + "\",\"heard\":\"k8s\",\"wanted\":\"Kubernetes\"}]")
            << u"Acme"_s << QStringList{u"Kubernetes"_s} << false;
        QTest::newRow("empty array wins") << QByteArray("[]") << u"Acme"_s << QStringList() << false;
    }

    void legacyVocabulary()
    {
        QFETCH(QByteArray, rulesData);
        QFETCH(QString, legacy);
        QFETCH(QStringList, wanted);
        QFETCH(bool, fromLegacy);
        if (!rulesData.isEmpty())
            QVERIFY(m_preferences->setData(PreferenceKeys::vocabularyRules, rulesData));
        if (!legacy.isEmpty())
            QVERIFY(m_preferences->setString(PreferenceKeys::vocabulary, legacy));
        const QList<VocabularyRule> rules = Settings::vocabularyRules(*m_preferences);
        QStringList actual;
        for (const VocabularyRule &rule : rules)
            actual << rule.wanted;
        QCOMPARE(actual, wanted);
        for (const VocabularyRule &rule : rules) {
            QVERIFY(!rule.id.isNull());
            QCOMPARE(rule.heard.isEmpty(), fromLegacy);
        }
        if (!fromLegacy && !rules.isEmpty())
            QCOMPARE(Uuids::canonical(rules.first().id), styleId);
        // Reading never writes the fallback back.
        QCOMPARE(m_preferences->data(PreferenceKeys::vocabularyRules).has_value(), !rulesData.isEmpty());
    }

    void storeWritesThroughOnEveryChange()
    {
        QVERIFY(m_preferences->setString(PreferenceKeys::vocabulary, u"Acme"_s));
        CustomizationStore store(*m_preferences);
        QCOMPARE(store.rules().size(), 1); // the legacy list, loaded
        QSignalSpy rulesChanged(&store, &CustomizationStore::rulesChanged);

        const QUuid id = store.addRule();
        QCOMPARE(Settings::vocabularyRules(*m_preferences).size(), 2);
        store.setHeard(id, u"brindle wick"_s);
        store.setWanted(id, u"BrindleWick"_s);
        QCOMPARE(Settings::vocabularyRules(*m_preferences).last(), (VocabularyRule{id, u"brindle wick"_s, u"BrindleWick"_s}));
        QCOMPARE(rulesChanged.size(), 3);

        // Stored as a JSON array with upper-case ids.
        const QJsonArray stored = QJsonDocument::fromJson(*m_preferences->data(PreferenceKeys::vocabularyRules)).array();
        QCOMPARE(stored.last().toObject().value(u"id").toString(), Uuids::canonical(id));
        QCOMPARE(stored.last().toObject().value(u"id").toString(), stored.last().toObject().value(u"id").toString().toUpper());
        QCOMPARE(stored.last().toObject().keys(), (QStringList{u"heard"_s, u"id"_s, u"wanted"_s}));

        store.setHeard(id, u"brindle wick"_s); // unchanged: no signal, no write
        QCOMPARE(rulesChanged.size(), 3);
        store.removeRule(id);
        QCOMPARE(Settings::vocabularyRules(*m_preferences).size(), 1);
        // The legacy key is never touched.
        QCOMPARE(m_preferences->string(PreferenceKeys::vocabulary), std::optional(u"Acme"_s));

        CustomizationStore reloaded(*m_preferences);
        QCOMPARE(reloaded.rules(), store.rules());
    }

    void deletingTheSelectedStyleTurnsCleanupOff_data()
    {
        QTest::addColumn<bool>("deleteSelected");
        QTest::addColumn<bool>("lowerCaseSelection");
        QTest::newRow("selected") << true << false;
        QTest::newRow("selected, written in lower case") << true << true;
        QTest::newRow("another style") << false << false;
    }

    void deletingTheSelectedStyleTurnsCleanupOff()
    {
        QFETCH(bool, deleteSelected);
        QFETCH(bool, lowerCaseSelection);
        CustomizationStore store(*m_preferences);
        const QUuid chosen = store.addStyle();
        const QUuid other = store.addStyle();
        QCOMPARE(store.styles().first().name, u"My style"_s);
        QCOMPARE(store.styles().first().prompt, QString());
        store.setStylePrompt(chosen, u"Rhyme."_s);
        store.setStyleName(chosen, u"Poet"_s);
        const QString selection = Settings::customSelection(chosen);
        QVERIFY(m_preferences->setString(PreferenceKeys::cleanupMode, lowerCaseSelection ? selection.toLower() : selection));
        QCOMPARE(Settings::resolvedCleanup(*m_preferences), (CleanupResolution{true, u"Rhyme."_s}));

        store.deleteStyle(deleteSelected ? chosen : other);
        QCOMPARE(Settings::customStyles(*m_preferences).size(), 1);
        const QString mode = m_preferences->stringOrDefault(PreferenceKeys::cleanupMode);
        if (deleteSelected) {
            QCOMPARE(mode, u"off"_s);
            QCOMPARE(Settings::resolvedCleanup(*m_preferences), CleanupResolution());
        } else {
            QCOMPARE(Settings::resolvedCleanup(*m_preferences), (CleanupResolution{true, u"Rhyme."_s}));
        }
    }

    void codingRoundTrips()
    {
        const QList<CustomStyle> styles = {{QUuid::createUuid(), QString(), u"Line one\nline \"two\" — ünïcode"_s},
                                           {QUuid::createUuid(), u"Name"_s, QString()}};
        QCOMPARE(CustomizationCoding::decodeStyles(CustomizationCoding::encodeStyles(styles)), std::optional(styles));
        const QList<VocabularyRule> rules = {{QUuid::createUuid(), u" a "_s, u"B\\1$0"_s}};
        QCOMPARE(CustomizationCoding::decodeRules(CustomizationCoding::encodeRules(rules)), std::optional(rules));
        // All or nothing: one bad element spoils the list.
        QCOMPARE(CustomizationCoding::decodeStyles("[{\"id\":\"" + styleId.toLatin1() + "\",\"name\":\"a\",\"prompt\":\"b\"},"
                                                   "{\"id\":\"" + styleId.toLatin1() + "\",\"name\":\"a\"}]"),
                 std::nullopt);
        QCOMPARE(CustomizationCoding::decodeStyles("{}"), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestCustomization)
#include "tst_customization.moc"
