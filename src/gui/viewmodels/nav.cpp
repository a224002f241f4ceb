#include "gui/viewmodels/nav.h"

Nav::Nav(QObject *parent)
    : QObject(parent)
{}

void Nav::setScreen(MurScreen screen)
{
    if (m_screen == screen)
        return;
    m_screen = screen;
    Q_EMIT screenChanged();
}

void Nav::setSettingsTab(SettingsTab tab)
{
    if (m_settingsTab == tab)
        return;
    m_settingsTab = tab;
    Q_EMIT settingsTabChanged();
}

QString Nav::screenName() const
{
    switch (m_screen) {
    case MurScreen::home:
        return QStringLiteral("home");
    case MurScreen::file:
        return QStringLiteral("file");
    case MurScreen::history:
        return QStringLiteral("history");
    case MurScreen::settings:
        return QStringLiteral("settings");
    }
    return {};
}

QString Nav::rawValue(SettingsTab tab)
{
    switch (tab) {
    case SettingsTab::general:
        return QStringLiteral("general");
    case SettingsTab::model:
        return QStringLiteral("model");
    case SettingsTab::cleanup:
        return QStringLiteral("cleanup");
    case SettingsTab::dictionary:
        return QStringLiteral("dictionary");
    case SettingsTab::support:
        return QStringLiteral("support");
    case SettingsTab::about:
        return QStringLiteral("about");
    }
    return {};
}

void Nav::back()
{
    setScreen(MurScreen::home);
}
