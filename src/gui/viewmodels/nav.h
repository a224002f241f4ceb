#pragma once

#include <QObject>
#include <QString>

// Which screen the main window shows and which settings tab is open. Menus, shortcuts,
// the tray and files opened from outside all move the user by writing here; the window
// only reads it. One instance for the application, owned by its composition root.
//
// Main thread only.
class Nav final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(MurScreen screen READ screen WRITE setScreen NOTIFY screenChanged)
    Q_PROPERTY(SettingsTab settingsTab READ settingsTab WRITE setSettingsTab NOTIFY settingsTabChanged)
    // "home", "file", "history" or "settings": QML cannot name the enum's lower-case values.
    Q_PROPERTY(QString screenName READ screenName NOTIFY screenChanged)

public:
    enum class MurScreen { home, file, history, settings };
    Q_ENUM(MurScreen)
    enum class SettingsTab { general, model, cleanup, dictionary, support, about };
    Q_ENUM(SettingsTab)

    explicit Nav(QObject *parent = nullptr);

    MurScreen screen() const { return m_screen; }
    void setScreen(MurScreen screen);
    SettingsTab settingsTab() const { return m_settingsTab; }
    void setSettingsTab(SettingsTab tab);

    QString screenName() const;

    // "general", "model", … : the tab's stable name.
    static QString rawValue(SettingsTab tab);

    // Back to home from a framed screen; nothing on home itself.
    Q_INVOKABLE void back();

Q_SIGNALS:
    void screenChanged();
    void settingsTabChanged();

private:
    MurScreen m_screen = MurScreen::home;
    SettingsTab m_settingsTab = SettingsTab::general;
};
