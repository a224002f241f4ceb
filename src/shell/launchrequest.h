#pragma once

#include <QDBusConnection>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <variant>

class MurCommands;

// What a launch of `murmel` with a window asks for: files to transcribe (`murmel FILE…`,
// "Open with"), or one of the launcher's actions. The first Murmel does it itself; a second
// launch hands it to the first over the session bus and exits.
struct LaunchRequest
{
    QStringList files; // absolute paths, in the order given
    bool startDictation = false; // --start-dictation
    bool fileScreen = false;     // --transcribe-file
    // The desktop's leave to bring a window forward, which the launcher gives the program it
    // starts (XDG_ACTIVATION_TOKEN on Wayland, DESKTOP_STARTUP_ID on X11); read before Qt
    // consumes the variables.
    QString activationToken;

    // The request of these arguments (without the program name), with relative paths
    // taken from `workingDirectory`; a text saying what is wrong otherwise.
    static std::variant<LaunchRequest, QString> parse(const QStringList &arguments, const QString &workingDirectory);

    static QString usage();
    static QString activationTokenOf(const QProcessEnvironment &environment);

    // Does it in this process.
    void perform(MurCommands &commands) const;

    // Hands it to the Murmel that owns the bus name. The exit code for this process:
    // 0 when that Murmel took it; 1 with the reason on standard error otherwise.
    int handOver(QDBusConnection bus = QDBusConnection::sessionBus()) const;
};
