#include "secretservicesession.h"

#include "childprocess.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDir>
#include <QTest>

using namespace Qt::StringLiterals;

QProcessEnvironment SecretServiceSession::environment() const
{
    QProcessEnvironment environment;
    environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, m_busAddress);
    environment.insert(u"HOME"_s, m_folder.filePath(u"home"_s));
    environment.insert(u"XDG_DATA_HOME"_s, m_folder.filePath(u"data"_s));
    environment.insert(u"XDG_RUNTIME_DIR"_s, m_folder.filePath(u"run"_s));
    return environment;
}

bool SecretServiceSession::start()
{
    // Owner only, as the base directory rules ask of a runtime folder.
    for (const QString &name : {u"home"_s, u"data"_s, u"run"_s})
        QDir(m_folder.path()).mkdir(name, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ChildProcess::dieWithParent(m_bus);
    m_busAddress = ChildProcess::startBus(m_bus, m_folder.path());
    if (m_busAddress.isEmpty()) {
        m_error = u"dbus-daemon did not come up: "_s + QString::fromLocal8Bit(m_bus.readAllStandardError());
        return false;
    }
    return m_keyring == Keyring::none || startKeyring();
}

// In this session, with the parent-death signal `signal`.
void SecretServiceSession::prepare(QProcess &process, QProcessEnvironment variables, int signal) const
{
    variables.insert(environment());
    process.setProcessEnvironment(variables);
    ChildProcess::dieWithParent(process, signal);
}

bool SecretServiceSession::startKeyring()
{
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "GNOME_KEYRING_CONTROL", "SSH_AUTH_SOCK"})
        variables.remove(QString::fromLatin1(name));
    prepare(m_keyringDaemon, variables);
    // In the foreground it stays our child, so the parent-death signal reaches it. With
    // --unlock it reads the login keyring's password from standard input, creating the
    // keyring on the first run.
    m_keyringDaemon.start(u"gnome-keyring-daemon"_s, {u"--foreground"_s, u"--unlock"_s, u"--components=secrets"_s});
    m_keyringDaemon.write("test-password");
    m_keyringDaemon.closeWriteChannel();

    // Ready once the default collection answers as unlocked: the name comes before the
    // collection, which comes before its unlock. A plain call: an interface object would
    // introspect, and Qt keeps what it learns for the connection's life, which the leak
    // checker reports.
    const auto unlocked = [&] {
        QDBusMessage get = QDBusMessage::createMethodCall(u"org.freedesktop.secrets"_s,
                                                          u"/org/freedesktop/secrets/aliases/default"_s,
                                                          u"org.freedesktop.DBus.Properties"_s, u"Get"_s);
        get << u"org.freedesktop.Secret.Collection"_s << u"Locked"_s;
        const QDBusReply<QDBusVariant> locked = connection().call(get);
        return locked.isValid() && !locked.value().variant().toBool();
    };
    if (!QTest::qWaitFor(unlocked, 10000)) {
        m_error = u"the keyring did not come up unlocked: "_s + m_keyringDaemon.errorString()
            + QString::fromLocal8Bit(m_keyringDaemon.readAllStandardError());
        return false;
    }
    return true;
}

bool SecretServiceSession::hasName(const QString &name) const
{
    const QDBusConnection bus = connection();
    return bus.isConnected() && bus.interface()->isServiceRegistered(name);
}

bool SecretServiceSession::startMock(QProcess &mock, const QStringList &arguments, const QString &name) const
{
    prepare(mock, QProcessEnvironment::systemEnvironment());
    mock.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    mock.start(u"/usr/bin/python3"_s, QStringList{u"-m"_s, u"dbusmock"_s} + arguments);
    return QTest::qWaitFor([&] { return hasName(name); }, 15000);
}

bool SecretServiceSession::startAccessibilityBus(QProcess &launcher) const
{
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    // The launcher keeps its switch in GSettings, which on this bus has no dconf to write to.
    variables.insert(u"GSETTINGS_BACKEND"_s, u"memory"_s);
    // SIGTERM, so the launcher takes its own accessibility bus down with it.
    prepare(launcher, variables, SIGTERM);
    launcher.start(u"/usr/libexec/at-spi-bus-launcher"_s, {u"--launch-immediately"_s});
    return QTest::qWaitFor([&] { return hasName(u"org.a11y.Bus"_s); }, 15000);
}

void SecretServiceSession::stop()
{
    QDBusConnection::disconnectFromBus(connectionName());
    // The keyring before the bus: it leaves on its own when its bus goes, but not at once.
    ChildProcess::stop(m_keyringDaemon);
    ChildProcess::stop(m_bus);
}
