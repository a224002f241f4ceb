// scripts/setup.sh when fetching whisper.cpp goes wrong: what to check reaches the user, and
// nothing unverified lands in the build tree. A stand-in npm on the PATH plays the failing
// registry or proxy.
#include "murmelprocess.h"
#include "testenvironment.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestSetupScript final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fetchFailuresSayWhy_data()
    {
        QTest::addColumn<QByteArray>("npm"); // the stand-in's body, run in the folder it packs into
        QTest::addColumn<QStringList>("said");

        const QStringList advice{u"https_proxy"_s, u"NODE_EXTRA_CA_CERTS"_s};
        QTest::newRow("other bytes than published")
            << QByteArray("printf 'not the package' > nodejs-whisper-0.3.1.tgz\n")
            << QStringList{u"refusing to use it"_s, u"other bytes than the published package"_s} + advice;
        QTest::newRow("success without a file") << QByteArray("exit 0\n") << QStringList{u"wrote no"_s};
    }

    void fetchFailuresSayWhy()
    {
        QFETCH(QByteArray, npm);
        QFETCH(QStringList, said);
        QTemporaryDir folder;
        const QString fake = folder.filePath(u"bin/npm"_s);
        QVERIFY(TestFiles::write(fake, "#!/bin/sh\n" + npm));
        QVERIFY(QFile::setPermissions(fake, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"PATH"_s, folder.filePath(u"bin"_s) + u':' + environment.value(u"PATH"_s));
        const QString build = folder.filePath(u"build"_s);
        const MurmelProcess::Result setup = MurmelProcess::run(
            u"bash"_s, {QStringLiteral(MURMEL_SOURCE_DIR "/scripts/setup.sh"), u"run"_s, build}, environment);

        QCOMPARE(setup.exitCode, 1);
        for (const QString &text : said)
            QVERIFY2(setup.err.contains(text), qPrintable(u"missing \""_s + text + u"\" in:\n"_s + setup.err));
        QVERIFY(!QFile::exists(build + u"/_deps/whisper.cpp"_s));
        QVERIFY(!QFile::exists(build + u"/_deps/whisper.cpp.stamp"_s));
    }
};

QTEST_GUILESS_MAIN(TestSetupScript)
#include "tst_setupscript.moc"
