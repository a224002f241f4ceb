// The settings screen's model: each property reads its preference with the table's default
// and type rules, writes it back, signals only real changes (its own and other processes'),
// and carries the two side effects: retention prunes at once, clipboard-safe insert
// switched off drops the held dictation.
#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"
#include "core/insert/clipboardsafeinsertservice.h"
#include "core/transcripts/historystore.h"
#include "fakes/fakekeyboardinjector.h"
#include "gui/viewmodels/nav.h"
#include "gui/viewmodels/settingsmodel.h"
#include "testenvironment.h"

#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

class TestSettingsModel final : public QObject
{
    Q_OBJECT

private:
    TestEnvironment m_environment;
    std::unique_ptr<Preferences> m_preferences;
    std::unique_ptr<SettingsModel> m_model;

    QString preferencesPath() const { return m_environment.configHome() + u"/Murmel/preferences.json"_s; }

    static QByteArray signalOf(const QString &property)
    {
        const QMetaObject &meta = SettingsModel::staticMetaObject;
        const QMetaProperty p = meta.property(meta.indexOfProperty(property.toUtf8().constData()));
        return QByteArray("2") + p.notifySignal().methodSignature();
    }

private Q_SLOTS:
    void init()
    {
        QFile::remove(preferencesPath());
        m_preferences = std::make_unique<Preferences>(preferencesPath());
        m_model = std::make_unique<SettingsModel>(SettingsModel::Collaborators{*m_preferences});
    }

    void cleanup()
    {
        m_model.reset();
        m_preferences.reset();
    }

    void readsDefaultsAndIgnoresWrongTypes_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("expected");
        QTest::addColumn<QJsonValue>("wrongType");

        QTest::newRow("whisperModel") << PreferenceKeys::whisperModel << QVariant(PreferenceKeys::defaultWhisperModel())
                                      << QJsonValue(true);
        QTest::newRow("dictationSpeed") << PreferenceKeys::dictationSpeed << QVariant(u"fast"_s) << QJsonValue(3);
        QTest::newRow("language") << PreferenceKeys::language << QVariant(u"auto"_s) << QJsonValue(false);
        QTest::newRow("holdToTalk") << PreferenceKeys::holdToTalk << QVariant(false) << QJsonValue(u"true"_s);
        QTest::newRow("clipboardSafeInsert") << PreferenceKeys::clipboardSafeInsert << QVariant(false)
                                             << QJsonValue(1);
        QTest::newRow("cleanupMode") << PreferenceKeys::cleanupMode << QVariant(u"off"_s) << QJsonValue(7);
        QTest::newRow("cleanupModel") << PreferenceKeys::cleanupModel << QVariant(u"claude-opus-4-8"_s)
                                      << QJsonValue(true);
        QTest::newRow("soundsEnabled") << PreferenceKeys::soundsEnabled << QVariant(true) << QJsonValue(u"no"_s);
        QTest::newRow("voiceEnabled") << PreferenceKeys::voiceEnabled << QVariant(true) << QJsonValue(0);
        QTest::newRow("retentionDays") << PreferenceKeys::retentionDays << QVariant(0) << QJsonValue(u"30"_s);
        QTest::newRow("coreMLEnabled") << PreferenceKeys::coreMLEnabled << QVariant(true) << QJsonValue(u"x"_s);
    }

    void readsDefaultsAndIgnoresWrongTypes()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, expected);
        QFETCH(QJsonValue, wrongType);

        const QByteArray name = key.toUtf8();
        QCOMPARE(m_model->property(name.constData()), expected);

        // Another writer puts a value of the wrong type under the key: still the default,
        // and no signal, since nothing the screen shows changed.
        QSignalSpy changed(m_model.get(), signalOf(key).constData());
        Preferences other(preferencesPath());
        if (wrongType.isBool())
            QVERIFY(other.setBoolean(key, wrongType.toBool()));
        else if (wrongType.isDouble())
            QVERIFY(other.setInteger(key, wrongType.toInteger()));
        else
            QVERIFY(other.setString(key, wrongType.toString()));
        m_model->reload();
        QCOMPARE(m_model->property(name.constData()), expected);
        QCOMPARE(changed.count(), 0);
    }

    void writesAndSignalsOnlyRealChanges_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("value");

        QTest::newRow("whisperModel") << PreferenceKeys::whisperModel << QVariant(u"large-v3"_s);
        QTest::newRow("dictationSpeed") << PreferenceKeys::dictationSpeed << QVariant(u"accurate"_s);
        QTest::newRow("language") << PreferenceKeys::language << QVariant(u"ja"_s);
        QTest::newRow("holdToTalk") << PreferenceKeys::holdToTalk << QVariant(true);
        QTest::newRow("clipboardSafeInsert") << PreferenceKeys::clipboardSafeInsert << QVariant(true);
        QTest::newRow("cleanupMode") << PreferenceKeys::cleanupMode << QVariant(u"email"_s);
        QTest::newRow("cleanupModel") << PreferenceKeys::cleanupModel << QVariant(u"claude-haiku-4-5"_s);
        QTest::newRow("soundsEnabled") << PreferenceKeys::soundsEnabled << QVariant(false);
        QTest::newRow("voiceEnabled") << PreferenceKeys::voiceEnabled << QVariant(false);
        QTest::newRow("retentionDays") << PreferenceKeys::retentionDays << QVariant(30);
        QTest::newRow("coreMLEnabled") << PreferenceKeys::coreMLEnabled << QVariant(false);
    }

    void writesAndSignalsOnlyRealChanges()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, value);
        const QByteArray name = key.toUtf8();
        QSignalSpy changed(m_model.get(), signalOf(key).constData());

        // Writing the value already shown (the default) is no change and writes nothing.
        QVERIFY(m_model->setProperty(name.constData(), m_model->property(name.constData())));
        QCOMPARE(changed.count(), 0);
        QVERIFY(!QFile::exists(preferencesPath()));

        QVERIFY(m_model->setProperty(name.constData(), value));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(m_model->property(name.constData()), value);
        // What a fresh reader of the file sees, with the file's own type.
        QCOMPARE(Preferences(preferencesPath()).effective(key).toVariant(), value);

        QVERIFY(m_model->setProperty(name.constData(), value));
        QCOMPARE(changed.count(), 1);
    }

    void followsChangesMadeByAnotherProcess()
    {
        QSignalSpy language(m_model.get(), &SettingsModel::languageChanged);
        QSignalSpy sounds(m_model.get(), &SettingsModel::soundsEnabledChanged);
        m_model->setLanguage(u"de"_s); // the file now exists, and is watched
        QCOMPARE(language.count(), 1);

        Preferences other(preferencesPath());
        QVERIFY(other.setString(PreferenceKeys::language, u"fr"_s));
        // The watcher notices without anyone calling reload().
        QVERIFY(language.wait(5000));
        QCOMPARE(m_model->language(), u"fr"_s);
        QCOMPARE(sounds.count(), 0);

        // Removing a key brings back the default, and that is a change too.
        QVERIFY(other.remove(PreferenceKeys::language));
        m_model->reload();
        QCOMPARE(m_model->language(), u"auto"_s);
        QCOMPARE(language.count(), 3);
    }

    void seesAFileCreatedLaterByAnotherProcess()
    {
        // Nothing exists yet, not even the folder: the first write comes from elsewhere.
        const QString path = m_environment.home() + u"/later/Murmel/preferences.json"_s;
        Preferences mine(path);
        SettingsModel model(SettingsModel::Collaborators{mine});
        QSignalSpy changed(&model, &SettingsModel::holdToTalkChanged);
        Preferences other(path);
        QVERIFY(other.setBoolean(PreferenceKeys::holdToTalk, true));
        QTRY_VERIFY_WITH_TIMEOUT(model.holdToTalk(), 5000);
        QCOMPARE(changed.count(), 1);
        // From then on the file itself is watched.
        QVERIFY(other.setBoolean(PreferenceKeys::holdToTalk, false));
        QTRY_VERIFY_WITH_TIMEOUT(!model.holdToTalk(), 5000);
        QCOMPARE(changed.count(), 2);
    }

    void aFailedWriteReportsAndKeepsTheStoredValue()
    {
        m_model->setHoldToTalk(true);
        QSignalSpy voice(m_model.get(), &SettingsModel::voiceEnabledChanged);
        // A folder in place of the file: it can neither be read nor replaced.
        QVERIFY(QFile::remove(preferencesPath()));
        QVERIFY(QDir().mkpath(preferencesPath()));
        m_model->setVoiceEnabled(false);
        QVERIFY(!m_model->lastError().isEmpty());
        QCOMPARE(m_model->voiceEnabled(), true);
        // The switch that asked is told to show the stored value again.
        QCOMPARE(voice.count(), 1);
        QVERIFY(QDir(preferencesPath()).removeRecursively());
        // The next successful write clears the message.
        m_model->setVoiceEnabled(false);
        QVERIFY(m_model->lastError().isEmpty());
        QCOMPARE(m_model->voiceEnabled(), false);
    }

    void retentionChangePrunesAtOnce()
    {
        QDateTime now = QDateTime::currentDateTimeUtc();
        HistoryStore history(m_environment.dataHome() + u"/Murmel/History/history.json"_s, *m_preferences, nullptr,
                             [&now] { return now; });
        const QDateTime today = now;
        now = today.addSecs(-(7 * 86400 + 1));
        history.add(TranscriptRecord::Kind::dictation, u"old"_s, u"old"_s);
        now = today.addSecs(-(7 * 86400 - 1));
        history.add(TranscriptRecord::Kind::dictation, u"recent"_s, u"recent"_s);
        now = today.addDays(-40);
        history.add(TranscriptRecord::Kind::file, u"ancient"_s, u"ancient"_s, 3.0);
        now = today;
        QCOMPARE(history.records().size(), 3);

        SettingsModel model(SettingsModel::Collaborators{*m_preferences, &history});
        model.setRetentionDays(30);
        QCOMPARE(history.records().size(), 2);
        model.setRetentionDays(7);
        QCOMPARE(history.records().size(), 1);
        QCOMPARE(history.records().first().title, u"recent"_s);
        // Back to forever restores nothing.
        model.setRetentionDays(0);
        QCOMPARE(history.records().size(), 1);
    }

    void switchingClipboardSafeInsertOffDropsTheHeldDictation()
    {
        FakeKeyboardInjector injector;
        ClipboardSafeInsertService service(injector);
        SettingsModel model(SettingsModel::Collaborators{*m_preferences, nullptr, &service});

        service.hold(u"held words"_s);
        model.setClipboardSafeInsert(true);
        QVERIFY(service.pending().has_value());
        model.setClipboardSafeInsert(false);
        QVERIFY(!service.pending().has_value());

        // Off while already off changes nothing, so a new hold is not touched.
        service.hold(u"again"_s);
        model.setClipboardSafeInsert(false);
        QVERIFY(service.pending().has_value());
    }

    void choiceListsAreTheOnesOffered()
    {
        const auto values = [](const QVariantList &entries) {
            QStringList list;
            for (const QVariant &entry : entries)
                list << entry.toMap().value(u"value"_s).toString() + u'=' + entry.toMap().value(u"label"_s).toString();
            return list;
        };
        QCOMPARE(values(SettingsModel::languages()),
                 (QStringList{u"auto=Detect automatically"_s, u"en=English"_s, u"es=Spanish"_s, u"fr=French"_s,
                              u"de=German"_s, u"pt=Portuguese"_s, u"it=Italian"_s, u"ja=Japanese"_s,
                              u"zh=Chinese"_s}));
        QCOMPARE(values(SettingsModel::retentionChoices()),
                 (QStringList{u"0=Forever"_s, u"30=30 days"_s, u"7=7 days"_s}));
        QCOMPARE(values(SettingsModel::cleanupModels()),
                 (QStringList{u"claude-opus-4-8=Opus 4.8 (best)"_s, u"claude-haiku-4-5=Haiku 4.5 (cheapest)"_s}));
        QCOMPARE(values(SettingsModel::dictationSpeeds()), (QStringList{u"fast=Fast"_s, u"accurate=Accurate"_s}));
        QCOMPARE(values(SettingsModel::tabs()),
                 (QStringList{u"general=General"_s, u"model=Model"_s, u"cleanup=Cleanup"_s,
                              u"dictionary=Dictionary"_s, u"support=Support"_s, u"about=About"_s}));
    }

    void tabIsTheNavigationsTab()
    {
        Nav nav;
        SettingsModel model(SettingsModel::Collaborators{*m_preferences, nullptr, nullptr, nullptr, &nav});
        QSignalSpy changed(&model, &SettingsModel::settingsTabChanged);
        QCOMPARE(model.settingsTab(), u"general"_s);
        model.setSettingsTab(u"dictionary"_s);
        QCOMPARE(nav.settingsTab(), Nav::SettingsTab::dictionary);
        model.setSettingsTab(u"nonsense"_s);
        QCOMPARE(model.settingsTab(), u"dictionary"_s);
        nav.setSettingsTab(Nav::SettingsTab::about);
        QCOMPARE(model.settingsTab(), u"about"_s);
        QCOMPARE(changed.count(), 2);
        model.openHistory();
        QCOMPARE(nav.screen(), Nav::MurScreen::history);
    }
};

QTEST_GUILESS_MAIN(TestSettingsModel)
#include "tst_settingsmodel.moc"
