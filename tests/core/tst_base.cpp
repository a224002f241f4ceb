// The preferences file, the login item and the old data folder.
#include "childprocess.h"
#include "core/base/datafoldermigration.h"
#include "core/base/loginitem.h"
#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"
#include "core/base/settings.h"
#include "testenvironment.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using TestFiles::read;
using TestFiles::write;

class TestBase final : public QObject
{
    Q_OBJECT

    TestEnvironment m_environment;
    // A file of its own for each test.
    QString path() const { return m_environment.configHome() + u"/Murmel/"_s + QLatin1String(QTest::currentTestFunction()); }

private Q_SLOTS:
    void storedTypes()
    {
        // Integers are whole numbers; data is tagged base64, and no dictionary passes for it.
        QVERIFY(write(path(), R"({"retentionDays": 7.5, "dictateHotkey": {"$data": "AA=="}, "customStyles": {"$data": "*"}, "new": [1]})"));
        Preferences preferences(path());
        QCOMPARE(preferences.integer(PreferenceKeys::retentionDays), std::nullopt);
        QCOMPARE(preferences.dictionary(PreferenceKeys::dictateHotkey), std::nullopt);
        QCOMPARE(preferences.data(PreferenceKeys::customStyles), std::nullopt);
        // A write keeps what it does not know, and every read sees another writer at once.
        QVERIFY(Preferences(path()).setData(PreferenceKeys::vocabularyRules, "[]"));
        QCOMPARE(preferences.data(PreferenceKeys::vocabularyRules), std::optional(QByteArray("[]")));
        QCOMPARE(preferences.stored().value(u"new"), QJsonValue(QJsonArray{1}));
    }

    void unusableFilesLoseNothing()
    {
        const QByteArray damaged = "{\"holdToTalk\": true";
        QVERIFY(write(path(), damaged));
        Preferences preferences(path());
        QCOMPARE(Settings::holdToTalk(preferences), false);
        QCOMPARE(read(path()), damaged); // reading changes nothing
        QVERIFY(preferences.setBoolean(PreferenceKeys::soundsEnabled, false));
        const QFileInfoList copies = QFileInfo(path()).dir().entryInfoList({QFileInfo(path()).fileName() + u".corrupt-*"_s});
        QCOMPARE(copies.size(), 1);
        QCOMPARE(read(copies.first().filePath()), damaged);
        QCOMPARE(Settings::soundsEnabled(preferences), false);
        // A folder where the file should be cannot be read, even by root: it is never replaced.
        QVERIFY(write(path() + u"-folder/keep"_s, "x"));
        QString error;
        QVERIFY(!Preferences(path() + u"-folder"_s).setBoolean(PreferenceKeys::holdToTalk, true, &error));
        QVERIFY2(error.contains(u"cannot be read"_s), qPrintable(error));
        QVERIFY(QFile::exists(path() + u"-folder/keep"_s));
    }

    void loginItem()
    {
        const QString entry = m_environment.configHome() + u"/autostart/app.murmel.Murmel.desktop"_s;
        LoginItem item(u"/usr/bin/murmel"_s);
        QSignalSpy changed(&item, &LoginItem::enabledChanged);
        item.setEnabled(true);
        item.setEnabled(true);
        QCOMPARE(changed.size(), 1);
        item.setEnabled(false);
        QVERIFY(!QFileInfo::exists(entry));
        // The desktop's own tools read the entry: its validator, and GLib's launcher, which starts
        // autostart entries on most desktops and must start this very program however odd its
        // path. (No '%': GLib looks for the program before it undoes "%%".)
        const QString program = m_environment.home() + u"/My Apps/it's \"here\" & `now`\t\\/murmel $1"_s;
        const QString marker = m_environment.home() + u"/started"_s;
        QVERIFY(write(program, "#!/bin/sh\necho \"$0\" > '" + marker.toUtf8() + "'\n"));
        QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        LoginItem(program).setEnabled(true);
        int exitCode = -1;
        QCOMPARE(ChildProcess::run(u"desktop-file-validate"_s, {entry}, &exitCode), QByteArray());
        QCOMPARE(exitCode, 0);
        ChildProcess::run(u"gio"_s, {u"launch"_s, entry}, &exitCode);
        QCOMPARE(exitCode, 0);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(marker).size() > 0, 10000);
        QCOMPARE(QString::fromUtf8(read(marker)).trimmed(), program);
    }

    void dataFolderMigration()
    {
        // A dangling link may point at a disk not mounted yet: Mur must not take its place.
        for (const QString &murmel : {u"nothing"_s, u"a folder"_s, u"a dangling link"_s}) {
            QTemporaryDir data;
            QVERIFY(write(data.filePath(u"Mur/History/history.json"_s), "old data"));
            QVERIFY(murmel != u"a folder" || write(data.filePath(u"Murmel/History/history.json"_s), "current data"));
            QVERIFY(murmel != u"a dangling link" || QFile::link(data.filePath(u"gone"_s), data.filePath(u"Murmel"_s)));
            DataFolderMigration::run(data.path());
            DataFolderMigration::run(data.path()); // as every start-up does
            QCOMPARE(QFileInfo::exists(data.filePath(u"Mur"_s)), murmel != u"nothing");
            QCOMPARE(read(data.filePath(u"Murmel/History/history.json"_s)),
                     QByteArray(murmel == u"nothing" ? "old data" : murmel == u"a folder" ? "current data" : ""));
        }
    }
};

QTEST_GUILESS_MAIN(TestBase)
#include "tst_base.moc"
