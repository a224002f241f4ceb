#include "shell/murcommands.h"

#include "core/base/appinfo.h"
#include "core/base/logging.h"
#include "core/desktop/mainwindowhost.h"
#include "core/desktop/urlopener.h"
#include "core/dictation/dictationcontroller.h"
#include "gui/viewmodels/nav.h"
#include "shell/fileopenrouter.h"
#include "shell/updatechecker.h"

#include <QCoreApplication>
#include <QDir>

MurCommands::MurCommands(const Collaborators &collaborators, QObject *parent)
    : QObject(parent)
    , m_dictation(collaborators.dictation)
    , m_nav(collaborators.nav)
    , m_router(collaborators.router)
    , m_window(collaborators.window)
    , m_urls(collaborators.urls)
    , m_updates(collaborators.updates)
{
    connect(&m_dictation, &DictationController::statusChanged, this, &MurCommands::dictationStateChanged);
}

QString MurCommands::dictationTitle() const
{
    return m_dictation.status() == DictationController::Status::recording ? QStringLiteral("Stop Dictation")
                                                                          : QStringLiteral("Start Dictation");
}

bool MurCommands::dictationEnabled() const
{
    return m_dictation.status() != DictationController::Status::working;
}

void MurCommands::openSettings()
{
    m_nav.setScreen(Nav::MurScreen::settings);
    showMainWindow();
}

void MurCommands::transcribeFile()
{
    m_nav.setScreen(Nav::MurScreen::file);
    showMainWindow();
}

void MurCommands::toggleDictation()
{
    m_dictation.toggle();
    showMainWindow();
}

void MurCommands::setHotkey()
{
    m_nav.setSettingsTab(Nav::SettingsTab::general);
    m_nav.setScreen(Nav::MurScreen::settings);
    showMainWindow();
}

void MurCommands::showHome()
{
    m_nav.setScreen(Nav::MurScreen::home);
    showMainWindow();
}

void MurCommands::showHistory()
{
    m_nav.setScreen(Nav::MurScreen::history);
    showMainWindow();
}

void MurCommands::back()
{
    m_nav.back();
}

void MurCommands::openHelp()
{
    if (!m_urls.open(AppInfo::website()))
        qCWarning(lcApp) << "no program opens" << AppInfo::website().toString();
}

void MurCommands::contactSupport()
{
    if (!m_urls.open(AppInfo::supportMailUrl()))
        qCWarning(lcApp) << "no mail program is set up for mailto links";
}

void MurCommands::checkForUpdates()
{
    if (!m_updates.canCheck())
        return;
    m_updates.check();
    showMainWindow();
}

void MurCommands::quit()
{
    QCoreApplication::quit();
}

void MurCommands::dockToggleDictation()
{
    m_dictation.toggle();
}

void MurCommands::startDictation()
{
    m_dictation.startRecording();
}

void MurCommands::dockTranscribeFile()
{
    m_nav.setScreen(Nav::MurScreen::file);
    showMainWindow();
}

bool MurCommands::openFiles(const QStringList &files)
{
    if (files.isEmpty())
        return false;
    const std::optional<QUrl> url = localFileUrl(files.first());
    if (!url) {
        qCWarning(lcApp) << "not opening" << files.first() << "- only an absolute path or a file URL names a file";
        return false;
    }
    m_nav.setScreen(Nav::MurScreen::file);
    m_router.setPendingUrl(*url);
    showMainWindow();
    return true;
}

void MurCommands::showMainWindow()
{
    m_window.present();
}

void MurCommands::setActivationToken(const QString &token)
{
    m_window.setActivationToken(token);
}

void MurCommands::showMenuWindow()
{
    Q_EMIT menuWindowRequested();
}

std::optional<QUrl> MurCommands::localFileUrl(const QString &pathOrUrl)
{
    if (pathOrUrl.startsWith(u'/'))
        return QUrl::fromLocalFile(QDir::cleanPath(pathOrUrl));
    const QUrl url(pathOrUrl, QUrl::StrictMode);
    if (url.isValid() && url.isLocalFile() && QDir::isAbsolutePath(url.toLocalFile()))
        return QUrl::fromLocalFile(QDir::cleanPath(url.toLocalFile()));
    return std::nullopt;
}
