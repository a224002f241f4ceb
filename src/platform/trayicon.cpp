#include "trayicon.h"

#include "app/logging.h"
#include "platform/menubareye.h"

#include <QAction>
#include <QMenu>

TrayIcon::TrayIcon(QObject *parent)
    : QObject(parent)
    , m_idleIcon(MenuBarEye::icon(false))
    , m_recordingIcon(MenuBarEye::icon(true))
    , m_menu(std::make_unique<QMenu>())
    , m_tray(std::make_unique<QSystemTrayIcon>())
{
    m_menu->setTitle(QStringLiteral("Murmel"));
    m_toggleAction = m_menu->addAction(QString());
    connect(m_toggleAction, &QAction::triggered, this, &TrayIcon::toggleDictationRequested);
    connect(m_menu->addAction(QStringLiteral("Transcribe a File…")), &QAction::triggered, this,
            &TrayIcon::transcribeFileRequested);
    connect(m_menu->addAction(QStringLiteral("Settings…")), &QAction::triggered, this,
            &TrayIcon::settingsRequested);
    m_menu->addSeparator();
    connect(m_menu->addAction(QStringLiteral("Quit Murmel")), &QAction::triggered, this,
            &TrayIcon::quitRequested);

    apply();
    m_tray->setContextMenu(m_menu.get());
    connect(m_tray.get(), &QSystemTrayIcon::activated, this, &TrayIcon::onActivated);
}

TrayIcon::~TrayIcon() = default;

QString TrayIcon::toolTip(State state)
{
    return state == State::recording ? QStringLiteral("Murmel, recording")
                                     : QStringLiteral("Murmel");
}

void TrayIcon::setState(State state)
{
    if (state == m_state)
        return;
    const bool iconChanges = (state == State::recording) != (m_state == State::recording);
    m_state = state;
    if (iconChanges)
        apply();
    else
        m_toggleAction->setEnabled(m_state != State::working);
}

void TrayIcon::apply()
{
    const bool recording = m_state == State::recording;
    m_tray->setIcon(recording ? m_recordingIcon : m_idleIcon);
    m_tray->setToolTip(toolTip(m_state));
    m_toggleAction->setText(recording ? QStringLiteral("Stop Dictation")
                                      : QStringLiteral("Start Dictation"));
    m_toggleAction->setEnabled(m_state != State::working);
}

void TrayIcon::show()
{
    if (!m_reportedMissingTray && !isTrayAvailable()) {
        m_reportedMissingTray = true;
        qCInfo(lcPlatform) << "No system tray on this desktop: the session bus has no"
                           << "org.kde.StatusNotifierWatcher with a host, and the display no"
                           << "XEmbed tray; Murmel stays reachable through its window and commands";
    }
    m_tray->show();
}

bool TrayIcon::isVisible() const
{
    return m_tray->isVisible();
}

bool TrayIcon::isTrayAvailable()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayIcon::onActivated(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger:
    case QSystemTrayIcon::DoubleClick:
        Q_EMIT menuWindowRequested();
        break;
    case QSystemTrayIcon::MiddleClick:
        // Dictation from the panel without opening anything, except while the last one is
        // still being worked on, when the menu's item is disabled too.
        if (m_state != State::working)
            Q_EMIT toggleDictationRequested();
        break;
    case QSystemTrayIcon::Context:
    case QSystemTrayIcon::Unknown:
        // The host shows the context menu itself.
        break;
    }
}
