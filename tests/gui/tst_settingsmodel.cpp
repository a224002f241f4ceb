// The settings screen's model: each property reads its preference with its default and type
// rules, writes it back and signals only real changes, its own and other processes'; a
// write that fails says so.
#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"
#include "gui/viewmodels/settingsmodel.h"
#include "testenvironment.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

class TestSettingsModel final : public QObject
{
    Q_OBJECT

    TestEnvironment m_environment;
    std::unique_ptr<Preferences> m_preferences;
    std::unique_ptr<SettingsModel> m_model;

    QString preferencesPath() const { return m_environment.configHome() + u"/Murmel/preferences.json"_s; }

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

    // One row per type of value, and the ones with more to do than writing.
    void propertiesFollowTheirPreference_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("byDefault");
        QTest::addColumn<QJsonValue>("wrongType");
        QTest::addColumn<QVariant>("value");
        namespace K = PreferenceKeys;
        QTest::newRow("whisperModel") << K::whisperModel << QVariant(K::defaultWhisperModel()) << QJsonValue(true)
                                      << QVariant(u"large-v3"_s);
        QTest::newRow("holdToTalk") << K::holdToTalk << QVariant(false) << QJsonValue(u"true"_s) << QVariant(true);
        QTest::newRow("soundsEnabled") << K::soundsEnabled << QVariant(true) << QJsonValue(u"no"_s) << QVariant(false);
        QTest::newRow("retentionDays") << K::retentionDays << QVariant(0) << QJsonValue(u"30"_s) << QVariant(30);
    }

    void propertiesFollowTheirPreference()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, byDefault);
        QFETCH(QJsonValue, wrongType);
        QFETCH(QVariant, value);
        const QByteArray name = key.toUtf8();
        const QMetaProperty property = m_model->metaObject()->property(m_model->metaObject()->indexOfProperty(name));
        QSignalSpy changed(m_model.get(), QByteArray("2" + property.notifySignal().methodSignature()).constData());
        QCOMPARE(m_model->property(name), byDefault);

        // Writing the value already shown is no change and writes nothing.
        QVERIFY(m_model->setProperty(name, byDefault));
        QVERIFY(!QFile::exists(preferencesPath()));
        QVERIFY(m_model->setProperty(name, value));
        QVERIFY(m_model->setProperty(name, value));
        QCOMPARE(changed.count(), 1);
        // What a fresh reader of the file sees, with the file's own type.
        QCOMPARE(Preferences(preferencesPath()).effective(key).toVariant(), value);

        // Another writer puts a value of the wrong type there: the default again, one signal.
        QVERIFY(TestFiles::write(preferencesPath(), QJsonDocument(QJsonObject{{key, wrongType}}).toJson()));
        m_model->reload();
        QCOMPARE(m_model->property(name), byDefault);
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
        m_model->setVoiceEnabled(false);
        QVERIFY(m_model->lastError().isEmpty());
        QCOMPARE(m_model->voiceEnabled(), false);
    }

};

QTEST_GUILESS_MAIN(TestSettingsModel)
#include "tst_settingsmodel.moc"
