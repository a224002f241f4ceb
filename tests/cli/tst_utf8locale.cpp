// The character type Murmel gives itself before Qt starts, whatever locale the environment
// names, and what it leaves alone; then the built murmel started in a Latin-1 locale.
#include "core/base/utf8locale.h"
#include "murmelprocess.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <clocale>
#include <locale.h>
#include <langinfo.h>

using namespace Qt::StringLiterals;

namespace {

const QStringList localeVariables{
    u"LANG"_s,       u"LC_ALL"_s,     u"LC_CTYPE"_s,   u"LC_NUMERIC"_s,     u"LC_TIME"_s,
    u"LC_COLLATE"_s, u"LC_MONETARY"_s, u"LC_MESSAGES"_s, u"LC_PAPER"_s,       u"LC_NAME"_s,
    u"LC_ADDRESS"_s, u"LC_TELEPHONE"_s, u"LC_MEASUREMENT"_s, u"LC_IDENTIFICATION"_s, u"LOCPATH"_s,
};

// "NAME=value" pairs; "NAME=" for a variable that is unset.
using Assignments = QStringList;

} // namespace

class TestUtf8Locale final : public QObject
{
    Q_OBJECT

    // de_DE in Latin-1 and in UTF-8, made with localedef so the test does not depend on which
    // locales the machine has.
    QTemporaryDir m_locales;

private Q_SLOTS:
    void initTestCase()
    {
        for (const auto &[charmap, name] : {std::pair{u"ISO-8859-1"_s, u"de_DE.ISO-8859-1"_s},
                                            std::pair{u"UTF-8"_s, u"de_DE.UTF-8"_s}}) {
            const int code = QProcess::execute(u"localedef"_s, {u"-i"_s, u"de_DE"_s, u"-f"_s, charmap,
                                                                m_locales.filePath(name)});
            QVERIFY2(code == 0, "localedef could not compile de_DE (the locales package is needed)");
        }
    }

    void init()
    {
        for (const QString &name : localeVariables)
            qunsetenv(qPrintable(name));
        // As a process starts: the C locale until someone asks for the environment's, and
        // the thread following the process's locale (on Qt 6.8 it did not, once Qt had started).
        uselocale(LC_GLOBAL_LOCALE);
        std::setlocale(LC_ALL, "C");
    }

    void cleanupTestCase() { std::setlocale(LC_ALL, "C"); }

    // The variables afterwards, that the character type is UTF-8, and the locale every
    // other category (messages here) kept.
    void characterTypeBecomesUtf8_data()
    {
        QTest::addColumn<Assignments>("environment");
        QTest::addColumn<Assignments>("expected");
        QTest::addColumn<QString>("messages");

        QTest::newRow("no locale at all") << Assignments{} << Assignments{u"LC_CTYPE=C.UTF-8"_s, u"LANG="_s} << u"C"_s;
        // LC_ALL outranks LC_CTYPE, so it moves to LANG; the variables it hid stay hidden.
        QTest::newRow("LC_ALL=C over other categories")
            << Assignments{u"LC_ALL=C"_s, u"LC_TIME=C.UTF-8"_s, u"LC_MESSAGES=C.UTF-8"_s, u"LANG=C.UTF-8"_s}
            << Assignments{u"LC_ALL="_s, u"LANG=C"_s, u"LC_TIME="_s, u"LC_MESSAGES="_s, u"LC_CTYPE=C.UTF-8"_s} << u"C"_s;
        QTest::newRow("already UTF-8") << Assignments{u"LANG=C.UTF-8"_s}
                                       << Assignments{u"LANG=C.UTF-8"_s, u"LC_CTYPE="_s} << u"C.UTF-8"_s;
        // A Latin-1 locale keeps its language and gets its own UTF-8 variant.
        QTest::newRow("Latin-1")
            << Assignments{u"LOCPATH="_s + m_locales.path(), u"LANG=de_DE.ISO-8859-1@euro"_s, u"LC_ALL=de_DE.ISO-8859-1"_s}
            << Assignments{u"LC_CTYPE=de_DE.UTF-8"_s, u"LANG=de_DE.ISO-8859-1"_s, u"LC_ALL="_s} << u"de_DE.ISO-8859-1"_s;
    }

    void characterTypeBecomesUtf8()
    {
        QFETCH(Assignments, environment);
        QFETCH(Assignments, expected);
        QFETCH(QString, messages);
        for (const QString &assignment : environment)
            qputenv(qPrintable(assignment.section(u'=', 0, 0)), assignment.section(u'=', 1).toUtf8());

        ensureUtf8CharacterType();

        for (const QString &assignment : expected) {
            const QString name = assignment.section(u'=', 0, 0);
            const QString value = assignment.section(u'=', 1);
            QVERIFY2(qEnvironmentVariableIsSet(qPrintable(name)) == !value.isEmpty(), qPrintable(assignment));
            QCOMPARE(qEnvironmentVariable(qPrintable(name)), value);
        }
        QCOMPARE(QString::fromLatin1(nl_langinfo(CODESET)), u"UTF-8"_s);
        QCOMPARE(QString::fromLatin1(std::setlocale(LC_MESSAGES, nullptr)), messages);
    }

    // Qt warns on a locale that is not UTF-8; murmel says only what it means to say, and reads
    // and writes text beyond ASCII intact.
    void murmelInALatin1Locale()
    {
        QTemporaryDir home;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"XDG_CONFIG_HOME"_s, home.path());
        environment.insert(u"LOCPATH"_s, m_locales.path());
        environment.insert(u"LC_ALL"_s, u"de_DE.ISO-8859-1"_s);
        const auto set = MurmelProcess::murmel({u"config"_s, u"set"_s, u"cleanupModel"_s, u"\"Grüße\""_s}, environment);
        QVERIFY2(set.exitCode == 0 && set.err.isEmpty(), qPrintable(set.err));
        const auto get = MurmelProcess::murmel({u"config"_s, u"get"_s, u"cleanupModel"_s}, environment);
        QCOMPARE(get.err, QString());
        QCOMPARE(get.out.trimmed(), u"\"Grüße\""_s);
    }
};

QTEST_GUILESS_MAIN(TestUtf8Locale)
#include "tst_utf8locale.moc"
