#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

// "Open Murmel at login": an XDG autostart entry, $XDG_CONFIG_HOME/autostart/
// app.murmel.Murmel.desktop, that starts the given program when the user logs in.
//
// The entry on disk is the only state, so a change made elsewhere (the desktop's own
// startup settings, a deleted file) is what isEnabled() reports next. A failure to write
// or remove the entry is logged and otherwise ignored; the preference that asked for it
// keeps the user's choice.
//
// Main thread only.
class LoginItem final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool enabled READ isEnabled WRITE setEnabled NOTIFY enabledChanged)

public:
    // An empty `executable` means this program (QCoreApplication::applicationFilePath()).
    explicit LoginItem(QString executable = {}, QObject *parent = nullptr);

    // True when the entry exists as a file and no desktop has switched it off (Hidden=true,
    // X-GNOME-Autostart-enabled=false).
    bool isEnabled() const;
    // Writes the entry when enabling and not enabled, removes it when disabling and enabled;
    // otherwise leaves it alone.
    void setEnabled(bool enabled);

    QString executable() const { return m_executable; }
    // Where the entry lives; read from the environment at each call.
    static QString entryPath();
    // The Exec= value that starts `arguments`, quoted and escaped as desktop entries require.
    static QString execValue(const QStringList &arguments);

Q_SIGNALS:
    void enabledChanged();

private:
    bool writeEntry() const;
    bool removeEntry() const;

    QString m_executable;
};
