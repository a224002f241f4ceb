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

namespace {

const QString desktopPath = u"share/applications/app.murmel.Murmel.desktop"_qs;
const QString metainfoPath = u"share/metainfo/app.murmel.Murmel.metainfo.xml"_qs;
const QString iconPath = u"share/icons/hicolor/scalable/apps/app.murmel.Murmel.svg"_qs;
const QString symbolicPath = u"share/icons/hicolor/symbolic/apps/app.murmel.Murmel-symbolic.svg"_qs;

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
        return {-1, program + u" did not finish"_qs};
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
        QVERIFY2(QFileInfo(buildDir + u"/cmake_install.cmake"_qs).isFile(), "MURMEL_BUILD_DIR names no build tree");
        const QString cmake = qEnvironmentVariable("MURMEL_CMAKE", u"cmake"_qs);
        const Run install = run(cmake, {u"--install"_qs, buildDir, u"--prefix"_qs, m_prefix.path()}, 90000);
        QVERIFY2(install.exitCode == 0, qPrintable(install.output));
    }

    void everythingIsInstalled_data()
    {
        QTest::addColumn<QString>("path");
        for (const QString &path : {u"bin/murmel"_qs, desktopPath, metainfoPath, iconPath, symbolicPath})
            QTest::newRow(qPrintable(path)) << path;
    }

    void everythingIsInstalled()
    {
        QFETCH(QString, path);
        const QFileInfo file(installed(path));
        QVERIFY2(file.isFile() && file.size() > 0, qPrintable(file.filePath()));
        if (path.startsWith(u"bin/"_qs))
            QVERIFY(file.isExecutable());
    }

    void desktopEntryValidates()
    {
        const QString tool = QStandardPaths::findExecutable(u"desktop-file-validate"_qs);
        if (tool.isEmpty())
            QSKIP("desktop-file-validate is not installed (desktop-file-utils)");
        const Run validation = run(tool, {installed(desktopPath)});
        QVERIFY2(validation.exitCode == 0, qPrintable(validation.output));
        // Not even a hint.
        QVERIFY2(validation.output.trimmed().isEmpty(), qPrintable(validation.output));
    }

    void metainfoValidates()
    {
        const QString tool = QStandardPaths::findExecutable(u"appstreamcli"_qs);
        if (tool.isEmpty())
            QSKIP("appstreamcli is not installed (appstream)");
        // The file alone, then the whole installed tree: the tree check also looks at the
        // desktop entry the metainfo launches.
        static const QRegularExpression problem(u"^\\s*[EW]: "_qs, QRegularExpression::MultilineOption);
        for (const QStringList &arguments : {QStringList{u"validate"_qs, u"--no-net"_qs, installed(metainfoPath)},
                                             QStringList{u"validate-tree"_qs, u"--no-net"_qs, m_prefix.path()}}) {
            const Run validation = run(tool, arguments);
            QVERIFY2(validation.exitCode == 0, qPrintable(validation.output));
            QVERIFY2(!problem.match(validation.output).hasMatch(), qPrintable(validation.output));
        }
    }

    void desktopEntryLaunchesMurmel()
    {
        const QMap<QString, QString> entry = group(installed(desktopPath), u"Desktop Entry"_qs);
        QCOMPARE(entry.value(u"Type"_qs), u"Application"_qs);
        QCOMPARE(entry.value(u"Name"_qs), u"Murmel"_qs);
        QCOMPARE(entry.value(u"Exec"_qs), u"murmel %F"_qs);
        QCOMPARE(entry.value(u"Icon"_qs), u"app.murmel.Murmel"_qs);
        // Qt names the window class after the executable.
        QCOMPARE(entry.value(u"StartupWMClass"_qs), QFileInfo(installed(u"bin/murmel"_qs)).fileName());
        QCOMPARE(list(entry.value(u"Actions"_qs)), (QStringList{u"StartDictation"_qs, u"TranscribeFile"_qs}));

        const QMap<QString, QString> start = group(installed(desktopPath), u"Desktop Action StartDictation"_qs);
        QCOMPARE(start.value(u"Name"_qs), u"Start Dictation"_qs);
        QCOMPARE(start.value(u"Exec"_qs), u"murmel --start-dictation"_qs);
        const QMap<QString, QString> transcribe = group(installed(desktopPath), u"Desktop Action TranscribeFile"_qs);
        QCOMPARE(transcribe.value(u"Name"_qs), u"Transcribe a File…"_qs);
        QCOMPARE(transcribe.value(u"Exec"_qs), u"murmel --transcribe-file"_qs);
    }

    void desktopEntryOpensAudioAndVideo()
    {
        const QStringList types = list(group(installed(desktopPath), u"Desktop Entry"_qs).value(u"MimeType"_qs));
        QVERIFY(types.size() >= 10);
        for (const QString &type : types)
            QVERIFY2(type.startsWith(u"audio/"_qs) || type.startsWith(u"video/"_qs), qPrintable(type));
        QCOMPARE(QSet<QString>(types.begin(), types.end()).size(), types.size()); // no duplicates
        // The formats the file screen names: mp3, m4a, wav, mp4, mov.
        for (const QString &type : {u"audio/mpeg"_qs, u"audio/x-m4a"_qs, u"audio/mp4"_qs, u"audio/x-wav"_qs,
                                    u"audio/wav"_qs, u"video/mp4"_qs, u"video/quicktime"_qs})
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
            if (name == u"component"_qs) {
                found.insert(u"type"_qs, xml.attributes().value(u"type"_qs).toString());
            } else if (name == u"id"_qs || name == u"binary"_qs || name == u"launchable"_qs
                       || name == u"metadata_license"_qs || name == u"project_license"_qs) {
                found.insert(name, xml.readElementText());
            } else if (name == u"release"_qs) {
                found.insert(u"release"_qs, xml.attributes().value(u"version"_qs).toString());
            }
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(found.value(u"type"_qs), u"desktop-application"_qs);
        QCOMPARE(found.value(u"id"_qs) + u".desktop"_qs, QFileInfo(installed(desktopPath)).fileName());
        QCOMPARE(found.value(u"launchable"_qs), QFileInfo(installed(desktopPath)).fileName());
        QCOMPARE(found.value(u"binary"_qs), QFileInfo(installed(u"bin/murmel"_qs)).fileName());
        QCOMPARE(found.value(u"metadata_license"_qs), u"CC0-1.0"_qs);
        QCOMPARE(found.value(u"project_license"_qs), u"GPL-3.0-or-later"_qs);
        QCOMPARE(found.value(u"release"_qs), QStringLiteral(MURMEL_VERSION));
    }

    void applicationIconDraws()
    {
        if (!QImageReader::supportedImageFormats().contains("svg"))
            QSKIP("Qt's SVG image plugin is not installed");
        const QImage icon = rendered(installed(iconPath), 256);
        QVERIFY(!icon.isNull());
        QCOMPARE(icon.size(), QSize(256, 256));
        // A rounded tile: clear in the corners, near-black inside its edge.
        QCOMPARE(qAlpha(icon.pixel(2, 2)), 0);
        QCOMPARE(qAlpha(icon.pixel(253, 253)), 0);
        const QColor tile = icon.pixelColor(128, 40);
        QCOMPARE(tile.alpha(), 255);
        QVERIFY2(tile.value() < 20, qPrintable(tile.name()));
        // The violet ring, 31 of 128 units from the centre.
        const QColor ring = icon.pixelColor(128 + 62, 128);
        QVERIFY2(std::abs(ring.red() - 140) < 8 && std::abs(ring.green() - 112) < 8 && std::abs(ring.blue() - 232) < 8,
                 qPrintable(ring.name()));
        // The iris runs from cyan at its lower left to pink at its upper right.
        const QColor lowerLeft = icon.pixelColor(128 - 8, 128 + 14);
        const QColor upperRight = icon.pixelColor(128 + 8, 128 - 14);
        QVERIFY2(lowerLeft.blue() > 200 && lowerLeft.green() > lowerLeft.red(), qPrintable(lowerLeft.name()));
        QVERIFY2(upperRight.red() > 200 && upperRight.red() > upperRight.green(), qPrintable(upperRight.name()));
        // Between iris and ring lies the dark tile.
        QVERIFY(icon.pixelColor(128 + 40, 128).value() < 20);
    }

    void symbolicIconDraws()
    {
        if (!QImageReader::supportedImageFormats().contains("svg"))
            QSKIP("Qt's SVG image plugin is not installed");
        // Eighteen pixels: one per unit of the tray eye's grid, so the shapes land on pixels.
        const QImage icon = rendered(installed(symbolicPath), 18);
        QVERIFY(!icon.isNull());
        auto opaque = [&](int x, int y) { return qAlpha(icon.pixel(x, y)) > 200; };
        auto clear = [&](int x, int y) { return qAlpha(icon.pixel(x, y)) < 40; };
        QVERIFY(opaque(9, 9) && opaque(8, 8));   // the iris
        QVERIFY(clear(9, 5) && clear(4, 9));     // the gap between iris and ring
        QVERIFY(opaque(9, 1) && opaque(1, 9) && opaque(16, 9)); // the ring
        QVERIFY(clear(0, 0) && clear(17, 17));   // outside
        // One colour throughout, so a desktop can recolour it.
        QSet<QRgb> colours;
        for (int y = 0; y < icon.height(); ++y)
            for (int x = 0; x < icon.width(); ++x)
                if (opaque(x, y))
                    colours.insert(icon.pixel(x, y) & 0xffffff);
        QCOMPARE(colours.size(), 1);
    }
};

QTEST_MAIN(TestDesktopFiles)
#include "tst_desktopfiles.moc"
