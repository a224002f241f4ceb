#include "core/base/datafoldermigration.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// What may stand at "Mur" or "Murmel" before the migration runs.
enum class Entry { nothing, folder, file, danglingLink, linkToFolder };

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A folder holds a history file naming its origin, so a test can tell whose data ended up where.
bool create(const QString &path, Entry entry, const QByteArray &origin)
{
    switch (entry) {
    case Entry::nothing:
        return true;
    case Entry::folder:
        return QDir().mkpath(path + u"/History"_s) && writeFile(path + u"/History/history.json"_s, origin);
    case Entry::file:
        return writeFile(path, origin);
    case Entry::danglingLink:
        return QFile::link(path + u".gone"_s, path);
    case Entry::linkToFolder:
        return create(path + u".target"_s, Entry::folder, origin) && QFile::link(path + u".target"_s, path);
    }
    return false;
}

// The names in a folder, each with what it holds, to compare a folder before and after.
QStringList snapshot(const QString &folder)
{
    QStringList entries;
    const QDir::Filters everything = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System;
    for (const QFileInfo &info : QDir(folder).entryInfoList(everything, QDir::Name)) {
        QString line = info.fileName();
        if (info.isSymLink())
            line += u" -> "_s + info.symLinkTarget();
        else if (info.isDir())
            line += u"/ ["_s + snapshot(info.filePath()).join(u", "_s) + u']';
        else
            line += u": "_s + QString::fromUtf8(readFile(info.filePath()));
        entries << line;
    }
    return entries;
}

} // namespace

class TestDataFolderMigration final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void migration_data()
    {
        QTest::addColumn<Entry>("mur");
        QTest::addColumn<Entry>("murmel");
        QTest::addColumn<bool>("moved");

        QTest::newRow("only Mur") << Entry::folder << Entry::nothing << true;
        QTest::newRow("Mur through a link") << Entry::linkToFolder << Entry::nothing << true;
        QTest::newRow("both") << Entry::folder << Entry::folder << false;
        QTest::newRow("only Murmel") << Entry::nothing << Entry::folder << false;
        QTest::newRow("neither") << Entry::nothing << Entry::nothing << false;
        QTest::newRow("Mur is a file") << Entry::file << Entry::nothing << false;
        QTest::newRow("Mur is a dangling link") << Entry::danglingLink << Entry::nothing << false;
        QTest::newRow("Murmel is a file") << Entry::folder << Entry::file << false;
        // Perhaps a link to a disk not mounted yet: Mur must not take its place.
        QTest::newRow("Murmel is a dangling link") << Entry::folder << Entry::danglingLink << false;
    }

    void migration()
    {
        QFETCH(Entry, mur);
        QFETCH(Entry, murmel);
        QFETCH(bool, moved);
        QTemporaryDir home;
        const QString dataHome = home.path() + u"/data"_s;
        QVERIFY(QDir().mkpath(dataHome));
        QVERIFY(writeFile(dataHome + u"/unrelated.txt"_s, "stays"));
        QVERIFY(create(dataHome + u"/Mur"_s, mur, "old data"));
        QVERIFY(create(dataHome + u"/Murmel"_s, murmel, "current data"));
        const QStringList before = snapshot(dataHome);

        DataFolderMigration::run(dataHome);

        if (!moved) {
            QCOMPARE(snapshot(dataHome), before);
            return;
        }
        QVERIFY(!QFileInfo(dataHome + u"/Mur"_s).exists() && !QFileInfo(dataHome + u"/Mur"_s).isSymLink());
        QVERIFY(QFileInfo(dataHome + u"/Murmel"_s).isDir());
        QCOMPARE(readFile(dataHome + u"/Murmel/History/history.json"_s), QByteArray("old data"));
        QCOMPARE(readFile(dataHome + u"/unrelated.txt"_s), QByteArray("stays"));
        // Run again, as every start-up does: now there is nothing to do.
        const QStringList after = snapshot(dataHome);
        DataFolderMigration::run(dataHome);
        QCOMPARE(snapshot(dataHome), after);
    }

    void missingDataHomeIsNotCreated()
    {
        QTemporaryDir home;
        DataFolderMigration::run(home.path() + u"/data"_s);
        QVERIFY(QDir(home.path()).isEmpty());
    }

    void unwritableDataHomeLosesNothing()
    {
        QTemporaryDir home;
        const QString dataHome = home.path() + u"/data"_s;
        QVERIFY(QDir().mkpath(dataHome));
        QVERIFY(create(dataHome + u"/Mur"_s, Entry::folder, "old data"));
        QVERIFY(QFile::setPermissions(dataHome, QFile::ReadOwner | QFile::ExeOwner));
        const auto restore = qScopeGuard(
            [&] { QFile::setPermissions(dataHome, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); });
        if (writeFile(dataHome + u"/probe"_s, "x"))
            QSKIP("permissions do not bind this user (root); renameFailureLosesNothing covers the failure");
        const QStringList before = snapshot(dataHome);

        DataFolderMigration::run(dataHome);

        QCOMPARE(snapshot(dataHome), before);
    }

    // A rename the kernel refuses whoever asks: the new path is one byte past the longest path
    // the system accepts, while the old one still fits.
    void renameFailureLosesNothing()
    {
        QTemporaryDir home;
        QString dataHome = home.path();
        const qsizetype longest = 4095; // PATH_MAX less the terminating zero
        const qsizetype wanted = longest - qsizetype(sizeof("/Murmel") - 1) + 1;
        while (dataHome.size() < wanted) {
            const qsizetype room = wanted - dataHome.size() - 1;
            dataHome += u'/' + QString(std::min<qsizetype>(room, 200), u'd');
        }
        QCOMPARE(dataHome.size(), wanted);
        QVERIFY(QDir().mkpath(dataHome));
        // Only a one-letter name still fits inside Mur.
        QVERIFY(QDir().mkpath(dataHome + u"/Mur"_s));
        QVERIFY(writeFile(dataHome + u"/Mur/x"_s, "old data"));
        const QStringList before = snapshot(dataHome);

        DataFolderMigration::run(dataHome);

        QCOMPARE(snapshot(dataHome), before);
        QCOMPARE(readFile(dataHome + u"/Mur/x"_s), QByteArray("old data"));
    }
};

QTEST_GUILESS_MAIN(TestDataFolderMigration)
#include "tst_datafoldermigration.moc"
