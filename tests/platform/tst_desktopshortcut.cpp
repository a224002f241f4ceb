// The desktop's own shortcut where no backend can watch the hotkey: the command it runs, and
// GNOME's custom shortcut through the real gsettings on a private keyfile.
#include "childprocess.h"
#include "core/dictation/desktopshortcut.h"
#include "platform/session/gnomecustomshortcut.h"
#include "testenvironment.h"

#include <QCoroTask>
#include <QFile>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString schema = u"org.gnome.settings-daemon.plugins.media-keys"_s;
const QString userEntry = u"/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom0/"_s;
const QString murmelEntry = GnomeCustomShortcut::entryPath();
constexpr char missingSchema[] = "gsettings or GNOME's media-keys schema (gnome-settings-daemon-common) is missing";

// What every other program sees: gsettings' own text of the value.
QString gsettings(const QStringList &arguments)
{
    int code = -1;
    const QString output = QString::fromUtf8(ChildProcess::run(u"gsettings"_s, arguments, &code)).trimmed();
    return code == 0 ? output : u"gsettings failed"_s;
}

QString entryKey(const QString &key)
{
    return gsettings({u"get"_s, schema + u".custom-keybinding:"_s + murmelEntry, key});
}

} // namespace

class TestDesktopShortcut final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // A private keyfile in the temporary home: the machine's dconf is never touched.
        qputenv("GSETTINGS_BACKEND", "keyfile");
        qunsetenv("GSETTINGS_SCHEMA_DIR");
        m_supported = QCoro::waitFor(GnomeCustomShortcut().isSupported());
    }

    // By name only when `murmel` on the PATH really is this program, followed through links.
    void toggleCommand()
    {
        const QString self = QCoreApplication::applicationFilePath();
        QTemporaryDir bin;
        const QByteArray path = qgetenv("PATH");
        const auto restore = qScopeGuard([&] { qputenv("PATH", path); });
        qputenv("PATH", QByteArray(bin.path().toLocal8Bit() + ':' + path));
        QVERIFY(QFile::link(self, bin.filePath(u"murmel"_s)));
        QCOMPARE(DesktopShortcut::toggleCommand(), u"murmel dictation toggle"_s);
        QVERIFY(QFile::remove(bin.filePath(u"murmel"_s)));
        QVERIFY(QFile::link(QStandardPaths::findExecutable(u"true"_s), bin.filePath(u"murmel"_s)));
        QCOMPARE(DesktopShortcut::toggleCommand(), self + u" dictation toggle"_s);
    }

    void stringArrays_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::optional<QStringList>>("list");
        QTest::newRow("empty") << u"@as []"_s << std::optional(QStringList());
        QTest::newRow("both quotes, escaped")
            << u"['it\\'s', \"/b/\" ]\n"_s << std::optional(QStringList{u"it's"_s, u"/b/"_s});
        QTest::newRow("unterminated") << u"['/a/', '/b/"_s << std::optional<QStringList>();
        QTest::newRow("not an array") << u"'/a/'"_s << std::optional<QStringList>();
        QTest::newRow("trailing text") << u"['/a/'] x"_s << std::optional<QStringList>();
    }

    // A list that cannot be read must never pass for an empty one: writing it back would
    // delete the user's shortcuts.
    void stringArrays()
    {
        QFETCH(QString, text);
        QFETCH(std::optional<QStringList>, list);
        QCOMPARE(GVariantText::stringArray(text), list);
    }

    void gnomeEntry()
    {
        if (!m_supported)
            QSKIP(missingSchema);
        QCOMPARE(gsettings({u"set"_s, schema, u"custom-keybindings"_s, u"['%1']"_s.arg(userEntry)}), QString());
        GnomeCustomShortcut entry;
        QCOMPARE(QCoro::waitFor(entry.binding()), std::nullopt);

        // A path with a quote, as toggleCommand() writes it for the shell, arrives unchanged.
        const QString command = u"'/opt/it'\\''s/murmel' dictation toggle"_s;
        QVERIFY(QCoro::waitFor(entry.set({57, Shortcut::control | Shortcut::alt, {}}, command)));
        const QString both = u"['%1', '%2']"_s.arg(userEntry, murmelEntry);
        QCOMPARE(gsettings({u"get"_s, schema, u"custom-keybindings"_s}), both);
        QCOMPARE(entryKey(u"binding"_s), u"'<Control><Alt>space'"_s);
        QCOMPARE(entryKey(u"name"_s), u"'Murmel dictation'"_s);
        QCOMPARE(GVariantText::string(entryKey(u"command"_s)), command);

        QVERIFY(QCoro::waitFor(entry.set({67, Shortcut::super, {}}, command)));
        QCOMPARE(gsettings({u"get"_s, schema, u"custom-keybindings"_s}), both);
        QCOMPARE(QCoro::waitFor(entry.binding()), u"<Super>F9"_s);

        QVERIFY(QCoro::waitFor(entry.remove()));
        QCOMPARE(gsettings({u"get"_s, schema, u"custom-keybindings"_s}), u"['%1']"_s.arg(userEntry));
        QCOMPARE(entryKey(u"binding"_s), u"''"_s);
        QCOMPARE(QCoro::waitFor(entry.binding()), std::nullopt);
        QVERIFY(QCoro::waitFor(entry.remove()));
    }

    void failures_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<bool>("supported");
        const QByteArray real = QStandardPaths::findExecutable(u"gsettings"_s).toLocal8Bit();
        QTest::newRow("no gsettings") << QByteArray() << false;
        QTest::newRow("reports failure") << QByteArray(real + " \"$@\"; exit 1") << false;
        QTest::newRow("hangs") << QByteArray("exec sleep 30") << false;
        QTest::newRow("refuses writes")
            << QByteArray("mkdir -p \"$XDG_CONFIG_HOME/readonly/glib-2.0/settings/keyfile\"\n"
                          "XDG_CONFIG_HOME=\"$XDG_CONFIG_HOME/readonly\" exec " + real + " \"$@\"")
            << true;
        QTest::newRow("loses writes")
            << QByteArray("case $1 in list-keys) echo custom-keybindings;;\nget) echo '@as []';; esac") << true;
    }

    // Murmel never reports a shortcut the desktop does not have.
    void failures()
    {
        QFETCH(QByteArray, script);
        QFETCH(bool, supported);
        if (!m_supported)
            QSKIP(missingSchema);
        QTemporaryDir bin;
        const QByteArray path = qgetenv("PATH");
        const QString fake = bin.filePath(u"gsettings"_s);
        if (!script.isEmpty()) {
            QVERIFY(TestFiles::write(fake, "#!/bin/sh\nPATH='" + path + "'\n" + script + '\n'));
            QVERIFY(QFile::setPermissions(fake, QFile::ReadOwner | QFile::ExeOwner));
        }
        const auto restore = qScopeGuard([&] { qputenv("PATH", path); });
        qputenv("PATH", bin.path().toLocal8Bit());

        GnomeCustomShortcut entry(std::chrono::milliseconds(500));
        QCOMPARE(QCoro::waitFor(entry.isSupported()), supported);
        QVERIFY(!QCoro::waitFor(entry.set({57, Shortcut::control, {}}, u"murmel dictation toggle"_s)));
        QCOMPARE(QCoro::waitFor(entry.binding()), std::nullopt);
    }

private:
    TestEnvironment m_environment;
    bool m_supported = false;
};

QTEST_GUILESS_MAIN(TestDesktopShortcut)
#include "tst_desktopshortcut.moc"
