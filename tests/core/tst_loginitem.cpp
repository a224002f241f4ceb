#include "childprocess.h"
#include "core/base/loginitem.h"
#include "testenvironment.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <optional>

using namespace Qt::StringLiterals;

namespace {

// Reads an Exec value back as a desktop reads it: the key file's string escapes first,
// then the argument quoting, then "%%". Nothing when the value breaks the rules.
std::optional<QStringList> parsedExec(const QString &value)
{
    QString unescaped;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != u'\\') {
            unescaped += value[i];
            continue;
        }
        if (++i == value.size())
            return std::nullopt;
        switch (value[i].unicode()) {
        case u's': unescaped += u' '; break;
        case u'n': unescaped += u'\n'; break;
        case u't': unescaped += u'\t'; break;
        case u'r': unescaped += u'\r'; break;
        case u'\\': unescaped += u'\\'; break;
        default: return std::nullopt;
        }
    }

    static const QString reserved = u" \t\n\"'\\><~|&;$*?#()`"_s;
    QStringList arguments;
    QString current;
    bool started = false;
    bool quoted = false;
    for (qsizetype i = 0; i < unescaped.size(); ++i) {
        const QChar c = unescaped[i];
        if (quoted) {
            if (c == u'"') {
                quoted = false;
            } else if (c == u'\\') {
                if (++i == unescaped.size() || !u"\"`$\\"_s.contains(unescaped[i]))
                    return std::nullopt;
                current += unescaped[i];
            } else {
                current += c;
            }
        } else if (c == u' ') {
            if (started)
                arguments << current;
            current.clear();
            started = false;
        } else if (c == u'"') {
            quoted = started = true;
        } else if (reserved.contains(c)) {
            return std::nullopt; // unquoted reserved characters are not allowed
        } else {
            current += c;
            started = true;
        }
    }
    if (quoted)
        return std::nullopt;
    if (started)
        arguments << current;

    for (QString &argument : arguments) {
        QString plain;
        for (qsizetype i = 0; i < argument.size(); ++i) {
            if (argument[i] == u'%') {
                if (++i == argument.size() || argument[i] != u'%')
                    return std::nullopt; // a field code we never write
            }
            plain += argument[i];
        }
        argument = plain;
    }
    return arguments;
}

QString readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

QString keyValue(const QString &entry, const QString &key)
{
    const QRegularExpression line(u"^"_s + QRegularExpression::escape(key) + u"=(.*)$"_s,
                                  QRegularExpression::MultilineOption);
    return line.match(entry).captured(1);
}

} // namespace

class TestLoginItem final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestEnvironment> m_environment;

    QString autostartFolder() const { return m_environment->configHome() + u"/autostart"_s; }
    QString entry() const { return autostartFolder() + u"/app.murmel.Murmel.desktop"_s; }

    // desktop-file-validate's verdict: empty when the entry is clean.
    static std::optional<QString> validationProblems(const QString &path)
    {
        const QString tool = QStandardPaths::findExecutable(u"desktop-file-validate"_s);
        if (tool.isEmpty())
            return std::nullopt;
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        ChildProcess::dieWithParent(process);
        process.start(tool, {path});
        if (!process.waitForFinished(30000))
            return u"desktop-file-validate did not finish"_s;
        const QString output = QString::fromUtf8(process.readAll()).trimmed();
        if (process.exitCode() != 0 && output.isEmpty())
            return u"desktop-file-validate failed"_s;
        return output;
    }

private Q_SLOTS:
    void init() { m_environment = std::make_unique<TestEnvironment>(); }
    void cleanup()
    {
        QFile::setPermissions(autostartFolder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_environment.reset();
    }

    void entryPathFollowsXdgConfigHome()
    {
        QCOMPARE(LoginItem::entryPath(), entry());
        // A relative value is ignored, as the desktops ignore it.
        qputenv("XDG_CONFIG_HOME", "relative/config");
        QCOMPARE(LoginItem::entryPath(), m_environment->home() + u"/.config/autostart/app.murmel.Murmel.desktop"_s);
        qunsetenv("XDG_CONFIG_HOME");
        QCOMPARE(LoginItem::entryPath(), m_environment->home() + u"/.config/autostart/app.murmel.Murmel.desktop"_s);
    }

    void enableThenDisable()
    {
        LoginItem item(u"/usr/bin/murmel"_s);
        QSignalSpy changed(&item, &LoginItem::enabledChanged);
        QVERIFY(!item.isEnabled());
        QVERIFY(!QFileInfo::exists(autostartFolder()));

        item.setEnabled(true);
        QVERIFY(item.isEnabled());
        QCOMPARE(changed.size(), 1);
        const QString written = readAll(entry());
        QVERIFY(written.startsWith(u"[Desktop Entry]\n"_s));
        QCOMPARE(keyValue(written, u"Type"_s), u"Application"_s);
        QCOMPARE(keyValue(written, u"Name"_s), u"Murmel"_s);
        QCOMPARE(keyValue(written, u"Icon"_s), u"app.murmel.Murmel"_s);
        QCOMPARE(keyValue(written, u"Exec"_s), u"/usr/bin/murmel"_s);
        QCOMPARE(keyValue(written, u"Terminal"_s), u"false"_s);
        QCOMPARE(keyValue(written, u"X-GNOME-Autostart-enabled"_s), u"true"_s);
        QVERIFY(!keyValue(written, u"Comment"_s).isEmpty());
        // QSaveFile leaves no temporary file beside the entry.
        QCOMPARE(QDir(autostartFolder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{u"app.murmel.Murmel.desktop"_s});

        // Asking again changes nothing: same file, no signal.
        const QDateTime modified = QFileInfo(entry()).lastModified();
        item.setEnabled(true);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(QFileInfo(entry()).lastModified(), modified);

        item.setEnabled(false);
        QVERIFY(!item.isEnabled());
        QVERIFY(!QFileInfo::exists(entry()));
        QCOMPARE(changed.size(), 2);
        item.setEnabled(false);
        QCOMPARE(changed.size(), 2);
        QVERIFY(!QFileInfo::exists(entry()));
    }

    void stateIsReadFromDisk()
    {
        LoginItem item(u"/usr/bin/murmel"_s);
        item.setEnabled(true);
        // Another instance, or the desktop's startup settings, removed the entry.
        QVERIFY(QFile::remove(entry()));
        QVERIFY(!item.isEnabled());
        QSignalSpy changed(&item, &LoginItem::enabledChanged);
        item.setEnabled(true);
        QVERIFY(QFileInfo::exists(entry()));
        QCOMPARE(changed.size(), 1);
    }

    void execRoundTrips_data()
    {
        QTest::addColumn<QString>("executable");
        QTest::newRow("plain") << u"/usr/bin/murmel"_s;
        QTest::newRow("space and percent") << u"/opt/My Apps/100% murmel/murmel"_s;
        QTest::newRow("field code lookalike") << u"/opt/murmel %F %u/murmel"_s;
        QTest::newRow("shell characters") << u"/home/o'neil/a\"b/$HOME/`id`/x;y|z&w/(1)*?#~<>/murmel"_s;
        QTest::newRow("backslashes") << u"/srv/back\\slash\\\\twice/murmel"_s;
        QTest::newRow("tab and newline") << u"/opt/odd\tname\nhere/murmel"_s;
        QTest::newRow("non-ASCII") << u"/home/jürgen/Programme/日本/murmel"_s;
        QTest::newRow("equals sign") << u"/opt/a=b/murmel"_s;
    }

    void execRoundTrips()
    {
        QFETCH(QString, executable);
        LoginItem item(executable);
        item.setEnabled(true);
        QVERIFY(item.isEnabled());

        const QString written = readAll(entry());
        const std::optional<QStringList> arguments = parsedExec(keyValue(written, u"Exec"_s));
        QVERIFY2(arguments, qPrintable(keyValue(written, u"Exec"_s)));
        QCOMPARE(*arguments, QStringList{executable});
        // Exactly one line per key: a newline in the path must not break the entry.
        QCOMPARE(written.count(u"\nExec="_s), 1);

        const std::optional<QString> problems = validationProblems(entry());
        if (!problems)
            QSKIP("desktop-file-validate is not installed");
        QVERIFY2(problems->isEmpty(), qPrintable(*problems));
    }

    // GLib's launcher is what starts autostart entries on most desktops: the entry it reads
    // must start this very program, however odd its path. (No '%' here: GLib looks for the
    // program before it undoes "%%", so it refuses such a path whoever wrote the entry.)
    void launcherStartsTheProgram()
    {
        const QString gio = QStandardPaths::findExecutable(u"gio"_s);
        if (gio.isEmpty())
            QSKIP("gio is not installed");
        const QString folder = m_environment->home() + u"/My Apps/it's \"here\" & `now`"_s;
        const QString program = folder + u"/murmel $1"_s;
        const QString marker = m_environment->home() + u"/started"_s;
        QVERIFY(writeFile(program, "#!/bin/sh\necho \"$0\" > '" + marker.toUtf8() + "'\n"));
        QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

        LoginItem item(program);
        item.setEnabled(true);
        QProcess launcher;
        launcher.setProcessChannelMode(QProcess::MergedChannels);
        ChildProcess::dieWithParent(launcher);
        launcher.start(gio, {u"launch"_s, entry()});
        QVERIFY(launcher.waitForFinished(30000));
        QVERIFY2(launcher.exitCode() == 0, launcher.readAll().constData());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(marker).size() > 0, 10000);
        QCOMPARE(readAll(marker).trimmed(), program);
    }

    void switchedOffEntryCountsAsDisabled_data()
    {
        QTest::addColumn<QByteArray>("existing");
        QTest::addColumn<bool>("enabled");
        const QByteArray head = "[Desktop Entry]\nType=Application\nName=Murmel\nExec=/usr/bin/murmel\n";
        QTest::newRow("hidden") << QByteArray(head + "Hidden=true\n") << false;
        QTest::newRow("hidden with spaces") << QByteArray(head + "Hidden = true\n") << false;
        QTest::newRow("gnome switch off") << QByteArray(head + "X-GNOME-Autostart-enabled=false\n") << false;
        QTest::newRow("hidden false") << QByteArray(head + "Hidden=false\n") << true;
        QTest::newRow("hidden in another group") << QByteArray(head + "[Desktop Action Other]\nHidden=true\n") << true;
        QTest::newRow("no keys at all") << QByteArray() << true;
    }

    void switchedOffEntryCountsAsDisabled()
    {
        QFETCH(QByteArray, existing);
        QFETCH(bool, enabled);
        QVERIFY(writeFile(entry(), existing));
        LoginItem item(u"/usr/bin/murmel"_s);
        QCOMPARE(item.isEnabled(), enabled);
        QSignalSpy changed(&item, &LoginItem::enabledChanged);

        // Switching off what is already off leaves the desktop's entry as it is.
        if (!enabled) {
            item.setEnabled(false);
            QCOMPARE(changed.size(), 0);
            QCOMPARE(readAll(entry()).toUtf8(), existing);
        }

        item.setEnabled(true);
        QVERIFY(item.isEnabled());
        QCOMPARE(changed.size(), enabled ? 0 : 1);
        if (!enabled) {
            // Replaced by our own entry, switched on again.
            const QString written = readAll(entry());
            QCOMPARE(keyValue(written, u"Hidden"_s), QString());
            QCOMPARE(keyValue(written, u"X-GNOME-Autostart-enabled"_s), u"true"_s);
        } else {
            QCOMPARE(readAll(entry()).toUtf8(), existing); // an enabled entry is left alone
        }
    }

    void failuresAreLoggedAndSurvived_data()
    {
        QTest::addColumn<QString>("obstacle");
        // Whatever the permissions say, these cannot be written, even by root.
        QTest::newRow("autostart is a file") << u"autostart file"_s;
        QTest::newRow("entry is a folder") << u"entry folder"_s;
        QTest::newRow("autostart not writable") << u"read-only folder"_s;
    }

    void failuresAreLoggedAndSurvived()
    {
        QFETCH(QString, obstacle);
        if (obstacle == u"autostart file"_s) {
            QVERIFY(writeFile(autostartFolder(), "not a folder"));
        } else if (obstacle == u"entry folder"_s) {
            QVERIFY(QDir().mkpath(entry()));
        } else {
            QVERIFY(QDir().mkpath(autostartFolder()));
            QVERIFY(QFile::setPermissions(autostartFolder(), QFile::ReadOwner | QFile::ExeOwner));
            // Root writes through permissions; then there is nothing to test here.
            if (writeFile(autostartFolder() + u"/probe"_s, "x"))
                QSKIP("permissions do not bind this user (root)");
        }

        LoginItem item(u"/usr/bin/murmel"_s);
        QSignalSpy changed(&item, &LoginItem::enabledChanged);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^could not (create|write) the autostart"_s));
        item.setEnabled(true);
        QVERIFY(!item.isEnabled());
        QCOMPARE(changed.size(), 0);
        QVERIFY(!QFileInfo(entry()).isFile());
    }

    void removalFailureIsLoggedAndSurvived()
    {
        LoginItem item(u"/usr/bin/murmel"_s);
        item.setEnabled(true);
        QVERIFY(QFile::setPermissions(autostartFolder(), QFile::ReadOwner | QFile::ExeOwner));
        if (writeFile(autostartFolder() + u"/probe"_s, "x"))
            QSKIP("permissions do not bind this user (root)");
        QSignalSpy changed(&item, &LoginItem::enabledChanged);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^could not remove the autostart entry"_s));
        item.setEnabled(false);
        QVERIFY(item.isEnabled());
        QCOMPARE(changed.size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestLoginItem)
#include "tst_loginitem.moc"
