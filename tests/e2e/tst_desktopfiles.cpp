#include "childprocess.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <cmath>

using namespace Qt::StringLiterals;

namespace {

const QString desktopPath = u"share/applications/app.murmel.Murmel.desktop"_s;
const QString metainfoPath = u"share/metainfo/app.murmel.Murmel.metainfo.xml"_s;
const QString iconPath = u"share/icons/hicolor/scalable/apps/app.murmel.Murmel.svg"_s;
const QString symbolicPath = u"share/icons/hicolor/symbolic/apps/app.murmel.Murmel-symbolic.svg"_s;

struct Run
{
    int exitCode = -1;
    QString output;
};

Run run(const QString &program, const QStringList &arguments, int timeoutMs = 60000)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    ChildProcess::dieWithParent(process);
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        ChildProcess::stop(process);
        return {-1, program + u" did not finish"_s};
    }
    const int code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return {code, QString::fromUtf8(process.readAll())};
}

// The [Desktop Entry] group's keys and values, or another group's.
QMap<QString, QString> group(const QString &file, const QString &name)
{
    QFile entry(file);
    if (!entry.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QMap<QString, QString> keys;
    bool inside = false;
    while (!entry.atEnd()) {
        const QString line = QString::fromUtf8(entry.readLine()).trimmed();
        if (line.startsWith(u'[')) {
            inside = line == u'[' + name + u']';
        } else if (inside && line.contains(u'=')) {
            const qsizetype equals = line.indexOf(u'=');
            keys.insert(line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
        }
    }
    return keys;
}

QStringList list(const QString &value)
{
    QStringList items = value.split(u';');
    if (items.value(items.size() - 1).isEmpty())
        items.removeLast();
    return items;
}

QImage rendered(const QString &svg, int size)
{
    QImageReader reader(svg, "svg");
    reader.setScaledSize(QSize(size, size));
    return reader.read().convertToFormat(QImage::Format_ARGB32);
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
        const QString cmake = qEnvironmentVariable("MURMEL_CMAKE", u"cmake"_s);
        const Run install = run(cmake, {u"--install"_s, buildDir, u"--prefix"_s, m_prefix.path()}, 90000);
        QVERIFY2(install.exitCode == 0, qPrintable(install.output));
    }

    void everythingIsInstalled_data()
    {
        QTest::addColumn<QString>("path");
        for (const QString &path : {u"bin/murmel"_s, desktopPath, metainfoPath, iconPath, symbolicPath})
            QTest::newRow(qPrintable(path)) << path;
    }

    void everythingIsInstalled()
    {
        QFETCH(QString, path);
        const QFileInfo file(installed(path));
        QVERIFY2(file.isFile() && file.size() > 0, qPrintable(file.filePath()));
        if (path.startsWith(u"bin/"_s))
            QVERIFY(file.isExecutable());
    }

    void desktopEntryValidates()
    {
        const QString tool = QStandardPaths::findExecutable(u"desktop-file-validate"_s);
        if (tool.isEmpty())
            QSKIP("desktop-file-validate is not installed (desktop-file-utils)");
        const Run validation = run(tool, {installed(desktopPath)});
        QVERIFY2(validation.exitCode == 0, qPrintable(validation.output));
        // Not even a hint.
        QVERIFY2(validation.output.trimmed().isEmpty(), qPrintable(validation.output));
    }

    void metainfoValidates()
    {
        const QString tool = QStandardPaths::findExecutable(u"appstreamcli"_s);
        if (tool.isEmpty())
            QSKIP("appstreamcli is not installed (appstream)");
        // The file alone, then the whole installed tree: the tree check also looks at the
        // desktop entry the metainfo launches.
        static const QRegularExpression problem(u"^\\s*[EW]: "_s, QRegularExpression::MultilineOption);
        for (const QStringList &arguments : {QStringList{u"validate"_s, u"--no-net"_s, installed(metainfoPath)},
                                             QStringList{u"validate-tree"_s, u"--no-net"_s, m_prefix.path()}}) {
            const Run validation = run(tool, arguments);
            QVERIFY2(validation.exitCode == 0, qPrintable(validation.output));
            QVERIFY2(!problem.match(validation.output).hasMatch(), qPrintable(validation.output));
        }
    }

    void desktopEntryLaunchesMurmel()
    {
        const QMap<QString, QString> entry = group(installed(desktopPath), u"Desktop Entry"_s);
        QCOMPARE(entry.value(u"Type"_s), u"Application"_s);
        QCOMPARE(entry.value(u"Name"_s), u"Murmel"_s);
        // The full path: KWin grants its interfaces only to the program named that way.
        const QString program = QFileInfo(installed(u"bin/murmel"_s)).absoluteFilePath();
        QCOMPARE(entry.value(u"Exec"_s), program + u" %F"_s);
        QCOMPARE(entry.value(u"X-KDE-Wayland-Interfaces"_s).split(u','),
                 (QStringList{u"org_kde_kwin_fake_input"_s, u"org_kde_plasma_window_management"_s}));
        QCOMPARE(entry.value(u"Icon"_s), u"app.murmel.Murmel"_s);
        // Qt names the window class after the executable.
        QCOMPARE(entry.value(u"StartupWMClass"_s), QFileInfo(installed(u"bin/murmel"_s)).fileName());
        QCOMPARE(list(entry.value(u"Actions"_s)), (QStringList{u"StartDictation"_s, u"TranscribeFile"_s}));

        const QMap<QString, QString> start = group(installed(desktopPath), u"Desktop Action StartDictation"_s);
        QCOMPARE(start.value(u"Name"_s), u"Start Dictation"_s);
        QCOMPARE(start.value(u"Exec"_s), program + u" --start-dictation"_s);
        const QMap<QString, QString> transcribe = group(installed(desktopPath), u"Desktop Action TranscribeFile"_s);
        QCOMPARE(transcribe.value(u"Name"_s), u"Transcribe a File…"_s);
        QCOMPARE(transcribe.value(u"Exec"_s), program + u" --transcribe-file"_s);
    }

    void desktopEntryOpensAudioAndVideo()
    {
        const QStringList types = list(group(installed(desktopPath), u"Desktop Entry"_s).value(u"MimeType"_s));
        QVERIFY(types.size() >= 10);
        for (const QString &type : types)
            QVERIFY2(type.startsWith(u"audio/"_s) || type.startsWith(u"video/"_s), qPrintable(type));
        QCOMPARE(QSet<QString>(types.begin(), types.end()).size(), types.size()); // no duplicates
        // The formats the file screen names: mp3, m4a, wav, mp4, mov.
        for (const QString &type : {u"audio/mpeg"_s, u"audio/x-m4a"_s, u"audio/mp4"_s, u"audio/x-wav"_s,
                                    u"audio/wav"_s, u"video/mp4"_s, u"video/quicktime"_s})
            QVERIFY2(types.contains(type), qPrintable(type));
    }

    // The software centre shows the entry the metainfo launches and finds the program it provides.
    void metainfoMatchesTheInstall()
    {
        QFile file(installed(metainfoPath));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&file);
        QMap<QString, QString> found;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            const QString name = xml.name().toString();
            if (name == u"component"_s) {
                found.insert(u"type"_s, xml.attributes().value(u"type"_s).toString());
            } else if (name == u"id"_s || name == u"binary"_s || name == u"launchable"_s
                       || name == u"metadata_license"_s || name == u"project_license"_s) {
                found.insert(name, xml.readElementText());
            } else if (name == u"release"_s) {
                found.insert(u"release"_s, xml.attributes().value(u"version"_s).toString());
            }
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(found.value(u"type"_s), u"desktop-application"_s);
        QCOMPARE(found.value(u"id"_s) + u".desktop"_s, QFileInfo(installed(desktopPath)).fileName());
        QCOMPARE(found.value(u"launchable"_s), QFileInfo(installed(desktopPath)).fileName());
        QCOMPARE(found.value(u"binary"_s), QFileInfo(installed(u"bin/murmel"_s)).fileName());
        QCOMPARE(found.value(u"metadata_license"_s), u"CC0-1.0"_s);
        QCOMPARE(found.value(u"project_license"_s), u"GPL-3.0-or-later"_s);
        QCOMPARE(found.value(u"release"_s), QStringLiteral(MURMEL_VERSION));
    }

    // Both icons draw; the symbolic one in a single colour, so that a desktop can recolour it.
    void iconsDraw()
    {
        if (!QImageReader::supportedImageFormats().contains("svg"))
            QSKIP("Qt's SVG image plugin is not installed");
        const QImage tile = rendered(installed(iconPath), 256);
        QCOMPARE(tile.size(), QSize(256, 256));
        QCOMPARE(qAlpha(tile.pixel(2, 2)), 0); // a rounded tile
        QCOMPARE(tile.pixelColor(128, 40).alpha(), 255);

        const QImage symbolic = rendered(installed(symbolicPath), 18);
        QSet<QRgb> colours;
        for (int y = 0; y < symbolic.height(); ++y)
            for (int x = 0; x < symbolic.width(); ++x)
                if (qAlpha(symbolic.pixel(x, y)) > 200)
                    colours.insert(symbolic.pixel(x, y) & 0xffffff);
        QCOMPARE(colours.size(), 1);
        QCOMPARE(qAlpha(symbolic.pixel(0, 0)), 0);
    }
};

QTEST_MAIN(TestDesktopFiles)
#include "tst_desktopfiles.moc"
