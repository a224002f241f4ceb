#pragma once

#include "childprocess.h"

#include <QDBusConnection>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

#include <csignal>

// A private D-Bus session bus for a test (ChildProcess::startBus), with or without an
// unlocked gnome-keyring-daemon serving the Secret Service on it, all in a temporary folder
// (HOME, XDG_DATA_HOME and XDG_RUNTIME_DIR point there). The processes are stopped by stop()
// and the destructor, and die with the test process however it ends.
class SecretServiceSession final
{
public:
    enum class Keyring { none, unlocked };

    explicit SecretServiceSession(Keyring keyring)
        : m_keyring(keyring)
    {}
    ~SecretServiceSession() { stop(); }

    // Starts the bus and, if asked for, the keyring, and returns once the keyring's default
    // collection is unlocked. False, with error() saying why, when something did not come up.
    bool start();
    void stop();
    QString error() const { return m_error; }

    QString busAddress() const { return m_busAddress; }
    // The variables a client in the session needs: the bus address and the folders.
    QProcessEnvironment environment() const;
    // Puts environment() into this process's own environment.
    void enter() const { ChildProcess::enter(environment()); }
    // The test's own connection to the bus, closed by stop().
    QDBusConnection connection() const { return QDBusConnection::connectToBus(m_busAddress, connectionName()); }
    // Whether some connection owns `name` on the bus right now.
    bool hasName(const QString &name) const;
    // Starts python-dbusmock on this bus with `arguments` (a template and its parameters),
    // and returns once it owns `name`; it dies with the test.
    bool startMock(QProcess &mock, const QStringList &arguments, const QString &name) const;
    // Starts the accessibility bus as a desktop session does, and returns once it answers.
    bool startAccessibilityBus(QProcess &launcher) const;

private:
    bool startKeyring();
    QString connectionName() const { return QStringLiteral("murmel-test ") + m_busAddress; }
    void prepare(QProcess &process, QProcessEnvironment variables, int signal = SIGKILL) const;

    Keyring m_keyring;
    QTemporaryDir m_folder;
    QProcess m_bus;
    QProcess m_keyringDaemon;
    QString m_busAddress;
    QString m_error;
};
