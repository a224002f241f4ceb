#pragma once

#include "gui/viewmodels/qmlsingleton.h"

#include <QObject>
#include <QtQml/qqmlregistration.h>

// Which screen the main window shows and which settings tab is open. Menus, shortcuts,
// the tray and files opened from outside all move the user by writing here; the window
// only reads it. One instance for the application, owned by its composition root.
//
// Main thread only.
class Nav final : public QObject, public QmlSingleton<Nav>
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(MurScreen screen READ screen WRITE setScreen NOTIFY screenChanged)
    Q_PROPERTY(SettingsTab settingsTab READ settingsTab WRITE setSettingsTab NOTIFY settingsTabChanged)

public:
    enum class MurScreen { home, file, history, settings };
    Q_ENUM(MurScreen)
    enum class SettingsTab { general, model, cleanup, dictionary, support, about };
    Q_ENUM(SettingsTab)

    // Takes the parent explicitly: a Nav made by QML on its own would lead nowhere.
    explicit Nav(QObject *parent);

    MurScreen screen() const { return m_screen; }
    void setScreen(MurScreen screen);
    SettingsTab settingsTab() const { return m_settingsTab; }
    void setSettingsTab(SettingsTab tab);

    // Back to home from a framed screen; nothing on home itself.
    Q_INVOKABLE void back();
    // The tab `steps` further along the bar (back when negative), going round at either end.
    Q_INVOKABLE void moveSettingsTab(int steps);

Q_SIGNALS:
    void screenChanged();
    void settingsTabChanged();

private:
    MurScreen m_screen = MurScreen::home;
    SettingsTab m_settingsTab = SettingsTab::general;
};
