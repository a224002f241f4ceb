#include "secretservicesession.h"

#include "childprocess.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QTest>

#include <csignal>
#include <sys/prctl.h>

namespace {

constexpr int startTimeoutMs = 10000;
const QString secretsName = QStringLiteral("org.freedesktop.secrets");

// No <servicedir> and no <standard_session_servicedirs/>: nothing can be activated.
const char busConfig[] = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

// A connection of the test's own, apart from the session bus connection that the code
// under test makes, and gone before the bus stops.
class Probe final
{
public:
    explicit Probe(const QString &address)
        : m_name(QStringLiteral("murmel-test-probe")), m_connection(QDBusConnection::connectToBus(address, m_name))
    {
    }
    ~Probe() { QDBusConnection::disconnectFromBus(m_name); }

    QDBusConnection &connection() { return m_connection; }

private:
    QString m_name;
    QDBusConnection m_connection;
};

} // namespace

SecretServiceSession::SecretServiceSession(Keyring keyring)
    : m_keyring(keyring)
{
}

SecretServiceSession::~SecretServiceSession()
{
    stop();
}

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
    if (!m_folder.isValid()) {
        m_error = QStringLiteral("no temporary folder: ") + m_folder.errorString();
        return false;
    }
    for (const char *name : {"home", "data", "run"}) {
        const QString path = m_folder.filePath(QString::fromLatin1(name));
        if (!QDir().mkpath(path)
            || !QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
            m_error = QStringLiteral("could not create ") + path;
            return false;
        }
    }
    if (!startBus())
        return false;
    if (m_keyring == Keyring::unlocked && !(startKeyring() && waitForUnlockedKeyring()))
        return false;
    return true;
}

bool SecretServiceSession::startBus()
{
    const QString configPath = m_folder.filePath(QStringLiteral("bus.conf"));
    QFile config(configPath);
    if (!config.open(QIODevice::WriteOnly)) {
        m_error = QStringLiteral("could not write the bus configuration");
        return false;
    }
    config.write(QString::fromUtf8(busConfig).arg(m_folder.filePath(QStringLiteral("bus"))).toUtf8());
    config.close();

    ChildProcess::dieWithParent(m_bus);
    m_bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--config-file=") + configPath,
                                                QStringLiteral("--nofork"), QStringLiteral("--print-address")});
    if (!m_bus.waitForStarted(startTimeoutMs)) {
        m_error = QStringLiteral("dbus-daemon did not start: ") + m_bus.errorString();
        return false;
    }
    // The address line comes once the bus listens.
    while (!m_bus.canReadLine()) {
        if (!m_bus.waitForReadyRead(startTimeoutMs)) {
            m_error = QStringLiteral("dbus-daemon gave no address: ")
                + QString::fromLocal8Bit(m_bus.readAllStandardError());
            return false;
        }
    }
    m_busAddress = QString::fromUtf8(m_bus.readLine()).trimmed();
    return true;
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
    if (!m_keyringDaemon.waitForStarted(startTimeoutMs)) {
        m_error = QStringLiteral("gnome-keyring-daemon did not start: ") + m_keyringDaemon.errorString();
        return false;
    }
    m_keyringDaemon.write("test-password");
    m_keyringDaemon.closeWriteChannel();
    return true;
}

bool SecretServiceSession::waitForUnlockedKeyring()
{
    Probe probe(m_busAddress);
    if (!probe.connection().isConnected()) {
        m_error = QStringLiteral("could not connect to the private bus: ") + probe.connection().lastError().message();
        return false;
    }
    auto unlocked = [&] {
        if (!probe.connection().interface()->isServiceRegistered(secretsName))
            return false;
        const QDBusReply<QDBusObjectPath> alias = probe.connection().call(QDBusMessage::createMethodCall(
            secretsName, QStringLiteral("/org/freedesktop/secrets"), QStringLiteral("org.freedesktop.Secret.Service"),
            QStringLiteral("ReadAlias")) << QStringLiteral("default"));
        if (!alias.isValid() || alias.value().path() == QStringLiteral("/"))
            return false;
        const QDBusReply<QDBusVariant> locked = probe.connection().call(
            QDBusMessage::createMethodCall(secretsName, alias.value().path(),
                                           QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"))
            << QStringLiteral("org.freedesktop.Secret.Collection") << QStringLiteral("Locked"));
        return locked.isValid() && !locked.value().variant().toBool();
    };
    if (!QTest::qWaitFor(unlocked, startTimeoutMs)) {
        m_error = QStringLiteral("the keyring did not come up unlocked: ")
            + QString::fromLocal8Bit(m_keyringDaemon.readAllStandardError());
        return false;
    }
    return true;
}

bool SecretServiceSession::hasName(const QString &name) const
{
    Probe probe(m_busAddress);
    return probe.connection().isConnected() && probe.connection().interface()->isServiceRegistered(name);
}

void SecretServiceSession::stop()
{
    // The keyring first: it leaves on its own when its bus goes, but not at once.
    ChildProcess::stop(m_keyringDaemon);
    ChildProcess::stop(m_bus);
}
