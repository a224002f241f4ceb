#include "secretservicesession.h"

#include "childprocess.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDir>
#include <QScopeGuard>
#include <QTest>

QProcessEnvironment SecretServiceSession::environment() const
{
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_busAddress);
    environment.insert(QStringLiteral("HOME"), m_folder.filePath(QStringLiteral("home")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), m_folder.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_folder.filePath(QStringLiteral("run")));
    return environment;
}

void SecretServiceSession::enter() const
{
    const QProcessEnvironment variables = environment();
    for (const QString &name : variables.keys())
        qputenv(name.toLocal8Bit().constData(), variables.value(name).toLocal8Bit());
}

bool SecretServiceSession::start()
{
    for (const char *name : {"home", "data", "run"}) {
        const QString path = m_folder.filePath(QString::fromLatin1(name));
        if (!m_folder.isValid() || !QDir().mkpath(path)
            || !QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
            m_error = QStringLiteral("could not create ") + path;
            return false;
        }
    }
    ChildProcess::dieWithParent(m_bus);
    m_busAddress = ChildProcess::startBus(m_bus, m_folder.path());
    if (m_busAddress.isEmpty()) {
        m_error = QStringLiteral("dbus-daemon did not come up: ") + QString::fromLocal8Bit(m_bus.readAllStandardError());
        return false;
    }
    return m_keyring == Keyring::none || startKeyring();
}

bool SecretServiceSession::startKeyring()
{
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    variables.insert(environment());
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "GNOME_KEYRING_CONTROL", "SSH_AUTH_SOCK"})
        variables.remove(QString::fromLatin1(name));
    m_keyringDaemon.setProcessEnvironment(variables);
    ChildProcess::dieWithParent(m_keyringDaemon);
    // In the foreground it stays our child, so the parent-death signal reaches it. With
    // --unlock it reads the login keyring's password from standard input, creating the
    // keyring on the first run.
    m_keyringDaemon.start(QStringLiteral("gnome-keyring-daemon"),
                          {QStringLiteral("--foreground"), QStringLiteral("--unlock"),
                           QStringLiteral("--components=secrets")});
    m_keyringDaemon.write("test-password");
    m_keyringDaemon.closeWriteChannel();

    const QString name = QStringLiteral("murmel-test-keyring-probe");
    const auto disconnect = qScopeGuard([&] { QDBusConnection::disconnectFromBus(name); });
    const QDBusConnection probe = QDBusConnection::connectToBus(m_busAddress, name);
    const QString secrets = QStringLiteral("org.freedesktop.secrets");
    const auto unlocked = [&] {
        const QDBusReply<QDBusObjectPath> alias = probe.call(
            QDBusMessage::createMethodCall(secrets, QStringLiteral("/org/freedesktop/secrets"),
                                           QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("ReadAlias"))
            << QStringLiteral("default"));
        if (!alias.isValid() || alias.value().path() == u"/")
            return false;
        const QDBusReply<QDBusVariant> locked = probe.call(
            QDBusMessage::createMethodCall(secrets, alias.value().path(), QStringLiteral("org.freedesktop.DBus.Properties"),
                                           QStringLiteral("Get"))
            << QStringLiteral("org.freedesktop.Secret.Collection") << QStringLiteral("Locked"));
        return locked.isValid() && !locked.value().variant().toBool();
    };
    if (!QTest::qWaitFor([&] { return hasName(secrets) && unlocked(); }, 10000)) {
        m_error = QStringLiteral("the keyring did not come up unlocked: ") + m_keyringDaemon.errorString()
            + QString::fromLocal8Bit(m_keyringDaemon.readAllStandardError());
        return false;
    }
    return true;
}

bool SecretServiceSession::hasName(const QString &name) const
{
    const QString connection = QStringLiteral("murmel-test-name-probe");
    const auto disconnect = qScopeGuard([&] { QDBusConnection::disconnectFromBus(connection); });
    const QDBusConnection probe = QDBusConnection::connectToBus(m_busAddress, connection);
    return probe.isConnected() && probe.interface()->isServiceRegistered(name);
}

bool SecretServiceSession::startMock(QProcess &mock, const QStringList &arguments, const QString &name) const
{
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    variables.insert(environment());
    mock.setProcessEnvironment(variables);
    mock.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    ChildProcess::dieWithParent(mock);
    mock.start(QStringLiteral("/usr/bin/python3"), QStringList{QStringLiteral("-m"), QStringLiteral("dbusmock")} + arguments);
    return QTest::qWaitFor([&] { return hasName(name); }, 15000);
}

bool SecretServiceSession::startAccessibilityBus(QProcess &launcher) const
{
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    variables.insert(environment());
    // The launcher keeps its switch in GSettings, which on this bus has no dconf to write to.
    variables.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory"));
    launcher.setProcessEnvironment(variables);
    // SIGTERM, so the launcher takes its own accessibility bus down with it.
    ChildProcess::dieWithParent(launcher, SIGTERM);
    launcher.start(QStringLiteral("/usr/libexec/at-spi-bus-launcher"), {QStringLiteral("--launch-immediately")});
    return QTest::qWaitFor([&] { return hasName(QStringLiteral("org.a11y.Bus")); }, 15000);
}

void SecretServiceSession::stop()
{
    // The keyring first: it leaves on its own when its bus goes, but not at once.
    ChildProcess::stop(m_keyringDaemon);
    ChildProcess::stop(m_bus);
}
