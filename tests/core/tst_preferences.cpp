#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"
#include "core/base/settings.h"
#include "testenvironment.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace Qt::StringLiterals;

class TestPreferences final : public QObject
{
    Q_OBJECT

private:
    QString path() const { return m_dir->path() + QStringLiteral("/Murmel/preferences.json"); }

    void writeRaw(const QByteArray &content)
    {
        QDir().mkpath(m_dir->path() + QStringLiteral("/Murmel"));
        QFile file(path());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }

    QByteArray readRaw() const
    {
        QFile file(path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    std::unique_ptr<QTemporaryDir> m_dir;

private Q_SLOTS:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    void defaultsWithNothingStored()
    {
        Preferences preferences(path());
        QCOMPARE(Settings::retentionDays(preferences), 0);
        QCOMPARE(Settings::soundsEnabled(preferences), true);
        QCOMPARE(Settings::voiceEnabled(preferences), true);
        QCOMPARE(Settings::clipboardSafeInsert(preferences), false);
        QCOMPARE(Settings::holdToTalk(preferences), false);
        QCOMPARE(preferences.stringOrDefault(PreferenceKeys::dictationSpeed), u"fast");
        QCOMPARE(preferences.stringOrDefault(PreferenceKeys::language), u"auto");
        QCOMPARE(preferences.stringOrDefault(PreferenceKeys::cleanupMode), u"off");
        QCOMPARE(preferences.stringOrDefault(PreferenceKeys::cleanupModel), u"claude-opus-4-8");
        QCOMPARE(preferences.booleanOrDefault(PreferenceKeys::hasOnboarded), false);
        QCOMPARE(preferences.booleanOrDefault(PreferenceKeys::coreMLEnabled), true);
        QVERIFY(preferences.effective(PreferenceKeys::dictateHotkey).isUndefined());
        QVERIFY(preferences.effective(PreferenceKeys::vocabularyRules).isUndefined());
        QVERIFY(preferences.effective(PreferenceKeys::vocabulary).isUndefined());
        QVERIFY(preferences.effective(PreferenceKeys::customStyles).isUndefined());
        QVERIFY(!QFile::exists(path())); // reading never creates the file
    }

    void whisperModelDefaultFollowsTheProcessor()
    {
        Preferences preferences(path());
#if defined(Q_PROCESSOR_ARM_64)
        QCOMPARE(preferences.stringOrDefault(PreferenceKeys::whisperModel), u"small");
#elif defined(Q_PROCESSOR_X86_64)
        QCOMPARE(preferences.stringOrDefault(PreferenceKeys::whisperModel), u"base.en");
#endif
        QCOMPARE(preferences.stringOrDefault(PreferenceKeys::whisperModel), PreferenceKeys::defaultWhisperModel());
    }

    void everyKeyIsDeclaredOnce()
    {
        const QStringList expected = {u"whisperModel"_s, u"dictationSpeed"_s, u"language"_s,
                                      u"holdToTalk"_s, u"clipboardSafeInsert"_s, u"cleanupMode"_s,
                                      u"cleanupModel"_s, u"soundsEnabled"_s, u"voiceEnabled"_s,
                                      u"retentionDays"_s, u"coreMLEnabled"_s, u"hasOnboarded"_s,
                                      u"dictateHotkey"_s, u"vocabularyRules"_s, u"vocabulary"_s,
                                      u"customStyles"_s, u"remoteDesktopToken"_s};
        QStringList names;
        for (const PreferenceKey &key : PreferenceKeys::all())
            names << key.name;
        QCOMPARE(names, expected);
        QVERIFY(!PreferenceKeys::find(u"HoldToTalk"));
    }

    void typeStrictness_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QByteArray>("stored");   // the JSON text under the key
        QTest::addColumn<QByteArray>("effective"); // what readers get, as JSON; "undefined" for absent

        QTest::newRow("bool true") << u"holdToTalk"_s << QByteArray("true") << QByteArray("true");
        QTest::newRow("string \"true\" under a bool") << u"holdToTalk"_s << QByteArray("\"true\"") << QByteArray("false");
        QTest::newRow("number 1 under a bool") << u"holdToTalk"_s << QByteArray("1") << QByteArray("false");
        QTest::newRow("string \"false\" under a true default") << u"soundsEnabled"_s << QByteArray("\"false\"") << QByteArray("true");
        QTest::newRow("null under a true default") << u"voiceEnabled"_s << QByteArray("null") << QByteArray("true");
        QTest::newRow("bool false under a true default") << u"voiceEnabled"_s << QByteArray("false") << QByteArray("false");
        QTest::newRow("integer 30") << u"retentionDays"_s << QByteArray("30") << QByteArray("30");
        QTest::newRow("string under an integer") << u"retentionDays"_s << QByteArray("\"30\"") << QByteArray("0");
        QTest::newRow("fraction under an integer") << u"retentionDays"_s << QByteArray("7.5") << QByteArray("0");
        QTest::newRow("bool under an integer") << u"retentionDays"_s << QByteArray("true") << QByteArray("0");
        QTest::newRow("number under a string") << u"language"_s << QByteArray("5") << QByteArray("\"auto\"");
        QTest::newRow("string kept as stored") << u"dictationSpeed"_s << QByteArray("\"turbo\"") << QByteArray("\"turbo\"");
        QTest::newRow("array under a dictionary") << u"dictateHotkey"_s << QByteArray("[1]") << QByteArray("undefined");
        QTest::newRow("data is not a dictionary") << u"dictateHotkey"_s << QByteArray("{\"$data\":\"AA==\"}") << QByteArray("undefined");
        QTest::newRow("plain string under data") << u"customStyles"_s << QByteArray("\"W10=\"") << QByteArray("undefined");
        QTest::newRow("bad base64 under data") << u"customStyles"_s << QByteArray("{\"$data\":\"***\"}") << QByteArray("undefined");
        QTest::newRow("data") << u"customStyles"_s << QByteArray("{\"$data\":\"W10=\"}") << QByteArray("{\"$data\":\"W10=\"}");
    }

    void typeStrictness()
    {
        QFETCH(QString, key);
        QFETCH(QByteArray, stored);
        QFETCH(QByteArray, effective);
        writeRaw("{\"" + key.toUtf8() + "\": " + stored + "}");
        Preferences preferences(path());
        const QJsonValue actual = preferences.effective(key);
        if (effective == "undefined") {
            QVERIFY(actual.isUndefined());
        } else {
            const QJsonValue wanted = QJsonDocument::fromJson("[" + effective + "]").array().first();
            QCOMPARE(actual, wanted);
        }
    }

    void settingsAccessorsApplyTheRules()
    {
        writeRaw(R"({"holdToTalk": "true", "retentionDays": "30", "soundsEnabled": false,
                     "voiceEnabled": 0, "clipboardSafeInsert": true})");
        Preferences preferences(path());
        QCOMPARE(Settings::holdToTalk(preferences), false);
        QCOMPARE(Settings::retentionDays(preferences), 0);
        QCOMPARE(Settings::soundsEnabled(preferences), false);
        QCOMPARE(Settings::voiceEnabled(preferences), true);
        QCOMPARE(Settings::clipboardSafeInsert(preferences), true);
        QVERIFY(preferences.setInteger(PreferenceKeys::retentionDays, 30));
        QCOMPARE(Settings::retentionDays(preferences), 30);
    }

    void writesRoundTripEveryType()
    {
        Preferences preferences(path());
        const QJsonObject hotkey{{u"keyCode"_s, 57}, {u"modifiers"_s, 0xC0000}, {u"display"_s, u"Ctrl+Alt+Space"_s}};
        const QByteArray rules = R"([{"heard":"murmle","wanted":"Murmel"}])";
        QVERIFY(preferences.setBoolean(PreferenceKeys::holdToTalk, true));
        QVERIFY(preferences.setInteger(PreferenceKeys::retentionDays, 7));
        QVERIFY(preferences.setString(PreferenceKeys::language, u"de"_s));
        QVERIFY(preferences.setDictionary(PreferenceKeys::dictateHotkey, hotkey));
        QVERIFY(preferences.setData(PreferenceKeys::vocabularyRules, rules));

        Preferences other(path());
        QCOMPARE(other.boolean(PreferenceKeys::holdToTalk), std::optional(true));
        QCOMPARE(other.integer(PreferenceKeys::retentionDays), std::optional<qint64>(7));
        QCOMPARE(other.string(PreferenceKeys::language), std::optional(u"de"_s));
        QCOMPARE(other.dictionary(PreferenceKeys::dictateHotkey), std::optional(hotkey));
        QCOMPARE(other.data(PreferenceKeys::vocabularyRules), std::optional(rules));
        // Each value keeps its own type: none reads as another.
        QCOMPARE(other.string(PreferenceKeys::holdToTalk), std::nullopt);
        QCOMPARE(other.dictionary(PreferenceKeys::vocabularyRules), std::nullopt);
        QCOMPARE(other.boolean(PreferenceKeys::retentionDays), std::nullopt);
    }

    void readsAreNeverCached()
    {
        Preferences preferences(path());
        QCOMPARE(Settings::holdToTalk(preferences), false);
        // Another process replaces the file.
        writeRaw(R"({"holdToTalk": true})");
        QCOMPARE(Settings::holdToTalk(preferences), true);
        writeRaw(R"({"language": "fr"})");
        QCOMPARE(Settings::holdToTalk(preferences), false);
        QCOMPARE(preferences.stringOrDefault(PreferenceKeys::language), u"fr");
    }

    void writesKeepOtherKeys()
    {
        writeRaw(R"({"language": "ja", "somethingNewer": {"kept": true}})");
        Preferences preferences(path());
        QVERIFY(preferences.setBoolean(PreferenceKeys::holdToTalk, true));
        const QJsonObject stored = QJsonDocument::fromJson(readRaw()).object();
        QCOMPARE(stored.value(u"language"), QJsonValue(u"ja"_s));
        QCOMPARE(stored.value(u"somethingNewer"), QJsonValue(QJsonObject{{u"kept"_s, true}}));
        QCOMPARE(stored.value(u"holdToTalk"), QJsonValue(true));
        // Nothing but the file itself (and its lock) is left in the folder.
        const QStringList files = QDir(m_dir->path() + u"/Murmel"_s).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(files, QStringList{u"preferences.json"_s});
    }

    void removeBringsBackTheDefault()
    {
        Preferences preferences(path());
        QVERIFY(preferences.remove(PreferenceKeys::dictateHotkey)); // absent: nothing to do
        QVERIFY(!QFile::exists(path()));
        QVERIFY(preferences.setBoolean(PreferenceKeys::soundsEnabled, false));
        QCOMPARE(Settings::soundsEnabled(preferences), false);
        QVERIFY(preferences.remove(PreferenceKeys::soundsEnabled));
        QCOMPARE(Settings::soundsEnabled(preferences), true);
        QVERIFY(!preferences.stored().contains(PreferenceKeys::soundsEnabled));
    }

    void corruptFileReadsAsDefaultsAndIsKeptBeforeTheFirstWrite()
    {
        const QByteArray damaged = "{\"holdToTalk\": true, \"language\": \"de\"";
        writeRaw(damaged);
        Preferences preferences(path());
        QCOMPARE(Settings::holdToTalk(preferences), false);
        QCOMPARE(preferences.stringOrDefault(PreferenceKeys::language), u"auto");
        QCOMPARE(readRaw(), damaged); // reading changes nothing

        QVERIFY(preferences.setBoolean(PreferenceKeys::soundsEnabled, false));
        const QStringList copies = QDir(m_dir->path() + u"/Murmel"_s).entryList({u"preferences.json.corrupt-*"_s});
        QCOMPARE(copies.size(), 1);
        QFile copy(m_dir->path() + u"/Murmel/"_s + copies.first());
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), damaged);
        QCOMPARE(Settings::soundsEnabled(preferences), false);
    }

    void unreadableFileIsNeverOverwritten()
    {
        // A folder where the file should be cannot be read as a file, even by root.
        QVERIFY(QDir().mkpath(path()));
        QFile marker(path() + u"/keep"_s);
        QVERIFY(marker.open(QIODevice::WriteOnly));
        marker.close();
        Preferences preferences(path());
        QCOMPARE(Settings::holdToTalk(preferences), false);
        QString error;
        QVERIFY(!preferences.setBoolean(PreferenceKeys::holdToTalk, true, &error));
        QVERIFY2(error.contains(path()), qPrintable(error));
        QVERIFY(QFile::exists(path() + u"/keep"_s));
    }

    void sharedStoreLivesUnderTheConfigHome()
    {
        TestEnvironment environment;
        QCOMPARE(Preferences::shared().filePath(), environment.configHome() + u"/Murmel/preferences.json"_s);
    }
};

QTEST_GUILESS_MAIN(TestPreferences)
#include "tst_preferences.moc"
