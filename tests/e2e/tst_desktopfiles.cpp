// The desktop integration files as installed into a temporary prefix: checked with the
// desktop's own validators, then for what those cannot know.
#include "murmelprocess.h"
#include "testenvironment.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString desktopPath = u"share/applications/app.murmel.Murmel.desktop"_s;
const QString metainfoPath = u"share/metainfo/app.murmel.Murmel.metainfo.xml"_s;

// The [Desktop Entry] group's keys and values, or another group's.
QMap<QString, QString> group(const QString &file, const QString &name)
{
    QMap<QString, QString> keys;
    bool inside = false;
    for (const QString &read : QString::fromUtf8(TestFiles::read(file)).split(u'\n')) {
        const QString line = read.trimmed();
        const qsizetype equals = line.indexOf(u'=');
        if (line.startsWith(u'['))
            inside = line == u'[' + name + u']';
        else if (inside && equals > 0)
            keys.insert(line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
    }
    return keys;
}

} // namespace

class TestDesktopFiles final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_prefix;

    QString installed(const QString &path) const { return m_prefix.path() + u'/' + path; }

private Q_SLOTS:
    void initTestCase()
    {
        const QString buildDir = qEnvironmentVariable("MURMEL_BUILD_DIR");
        QVERIFY2(QFileInfo(buildDir + u"/cmake_install.cmake"_s).isFile(), "MURMEL_BUILD_DIR names no build tree");
        const MurmelProcess::Result install = MurmelProcess::run(
            qEnvironmentVariable("MURMEL_CMAKE", u"cmake"_s), {u"--install"_s, buildDir, u"--prefix"_s, m_prefix.path()});
        QVERIFY2(install.exitCode == 0, qPrintable(install.err));
    }

    // Not even a hint from the validators. The tree check also looks at the desktop entry the
    // metainfo launches, and at the icons.
    void validators_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("problem");
        QTest::newRow("desktop entry") << u"desktop-file-validate"_s << QStringList{installed(desktopPath)} << u"\\S"_s;
        const QString line = u"^\\s*[EW]: "_s;
        QTest::newRow("metainfo") << u"appstreamcli"_s << QStringList{u"validate"_s, u"--no-net"_s, installed(metainfoPath)}
                                  << line;
        QTest::newRow("tree") << u"appstreamcli"_s << QStringList{u"validate-tree"_s, u"--no-net"_s, m_prefix.path()} << line;
    }

    void validators()
    {
        QFETCH(QString, tool);
        QFETCH(QStringList, arguments);
        QFETCH(QString, problem);
        if (QStandardPaths::findExecutable(tool).isEmpty())
            QSKIP("the validator is not installed (desktop-file-utils, appstream)");
        const MurmelProcess::Result validated = MurmelProcess::run(tool, arguments);
        const QString output = validated.out + validated.err;
        QVERIFY2(validated.exitCode == 0, qPrintable(output));
        QVERIFY2(!QRegularExpression(problem, QRegularExpression::MultilineOption).match(output).hasMatch(), qPrintable(output));
    }

    void desktopEntryLaunchesMurmel()
    {
        const QMap<QString, QString> entry = group(installed(desktopPath), u"Desktop Entry"_s);
        QCOMPARE(entry.value(u"Type"_s), u"Application"_s);
        QCOMPARE(entry.value(u"Name"_s), u"Murmel"_s);
        // The full path: KWin grants its interfaces only to the program named that way.
        const QFileInfo program(installed(u"bin/murmel"_s));
        QVERIFY(program.isExecutable());
        QCOMPARE(entry.value(u"Exec"_s), program.absoluteFilePath() + u" %F"_s);
        QCOMPARE(entry.value(u"X-KDE-Wayland-Interfaces"_s).split(u','),
                 (QStringList{u"org_kde_kwin_fake_input"_s, u"org_kde_plasma_window_management"_s}));
        QCOMPARE(entry.value(u"Icon"_s), u"app.murmel.Murmel"_s);
        // Qt names the window class after the executable.
        QCOMPARE(entry.value(u"StartupWMClass"_s), program.fileName());
        QCOMPARE(entry.value(u"Actions"_s), u"StartDictation;TranscribeFile;"_s);
        for (const auto &[action, name, option] : {std::tuple{u"StartDictation"_s, u"Start Dictation"_s, u"--start-dictation"_s},
                                                   std::tuple{u"TranscribeFile"_s, u"Transcribe a File…"_s, u"--transcribe-file"_s}}) {
            const QMap<QString, QString> keys = group(installed(desktopPath), u"Desktop Action "_s + action);
            QCOMPARE(keys.value(u"Name"_s), name);
            QCOMPARE(keys.value(u"Exec"_s), program.absoluteFilePath() + u' ' + option);
        }

        // Audio and video only, each once, among them the formats the file screen names.
        const QStringList types = entry.value(u"MimeType"_s).split(u';', Qt::SkipEmptyParts);
        for (const QString &type : types)
            QVERIFY2(type.startsWith(u"audio/"_s) || type.startsWith(u"video/"_s), qPrintable(type));
        QCOMPARE(QSet<QString>(types.begin(), types.end()).size(), types.size());
        for (const QString &type : {u"audio/mpeg"_s, u"audio/x-m4a"_s, u"audio/mp4"_s, u"audio/x-wav"_s,
                                    u"audio/wav"_s, u"video/mp4"_s, u"video/quicktime"_s})
            QVERIFY2(types.contains(type), qPrintable(type));
    }

    // The installed program runs its speech engine from the installed libraries and modules.
    void installedEngineRuns()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"QT_LOGGING_RULES"_s, u"murmel.speech.debug=true"_s);
        const MurmelProcess::Result version = MurmelProcess::run(installed(u"bin/murmel"_s), {u"--version"_s}, environment);
        QVERIFY2(version.exitCode == 0 && version.out.contains(u"processor code for "_s), qPrintable(version.err));
        QVERIFY2(version.err.contains(u"loaded CPU backend from "_s + m_prefix.path() + u"/lib"_s), qPrintable(version.err));
        // Where the engine looks for its graphics-card code, beside the processor code.
        const QString processorCode = version.err.section(u"loaded CPU backend from "_s, 1).section(u'\n', 0, 0);
        QVERIFY(QFile::exists(QFileInfo(processorCode).path() + u"/graphics/libggml-vulkan.so"_s));
    }

    // The software centre finds the program the metainfo provides, and names this version as
    // the newest release. The tree check sees to the entry it launches.
    void metainfoMatchesTheInstall()
    {
        const QString xml = QString::fromUtf8(TestFiles::read(installed(metainfoPath)));
        const auto found = [&xml](const QString &pattern) { return QRegularExpression(pattern).match(xml).captured(1); };
        QCOMPARE(found(u"<component type=\"([^\"]*)\""_s), u"desktop-application"_s);
        QCOMPARE(found(u"<binary>([^<]*)<"_s), QFileInfo(installed(u"bin/murmel"_s)).fileName());
        QCOMPARE(found(u"<release [^>]*version=\"([^\"]*)\""_s), QStringLiteral(MURMEL_VERSION));
    }
};

QTEST_GUILESS_MAIN(TestDesktopFiles)
#include "tst_desktopfiles.moc"
