#include "gui/viewmodels/nav.h"

#include <QMetaEnum>

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

void Nav::back()
{
    setScreen(MurScreen::home);
}

void Nav::moveSettingsTab(int steps)
{
    const int count = QMetaEnum::fromType<SettingsTab>().keyCount();
    const int at = (int(m_settingsTab) + steps % count + count) % count;
    setSettingsTab(static_cast<SettingsTab>(at));
}
