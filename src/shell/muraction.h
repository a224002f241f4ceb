#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

// One command the user can give from several places: the main window's menus, the tray's
// menu, the menu window, a launcher action, a script. Its title and whether it can be given
// now are worked out once, by whoever owns it (MurCommands); every place shows them and
// calls trigger().
//
// Main thread only.
class MurAction final : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The commands are the application's")
    Q_PROPERTY(QString text READ text NOTIFY changed)
    Q_PROPERTY(bool enabled READ isEnabled NOTIFY changed)

public:
    explicit MurAction(const QString &text, QObject *parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString &text);
    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled);

    // Gives the command: triggered() follows unless it is disabled, whoever asked.
    Q_INVOKABLE void trigger();

Q_SIGNALS:
    // The title or whether it can be given changed.
    void changed();
    void triggered();

private:
    QString m_text;
    bool m_enabled = true;
};
