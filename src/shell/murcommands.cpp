#include "shell/murcommands.h"

#include "core/base/appinfo.h"
#include "core/base/logging.h"
#include "core/desktop/mainwindowhost.h"
#include "core/desktop/urlopener.h"
#include "core/dictation/dictationcontroller.h"
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
    , m_toggleDictation(tr("Start Dictation"))
    , m_transcribeFile(tr("Transcribe a File…"))
    , m_openSettings(tr("Settings…"))
    , m_setHotkey(tr("Set Hotkey…"))
    , m_showHome(tr("Home"))
    , m_showHistory(tr("History"))
    , m_back(tr("Back"))
    , m_openHelp(tr("Murmel Help"))
    , m_contactSupport(tr("Contact Support"))
    , m_checkForUpdates(m_updates.canCheck() ? tr("Check for Updates…") : tr("Updates Come Through Your Package Manager"))
    , m_quit(tr("Quit Murmel"))
{
    connect(&m_dictation, &DictationController::statusChanged, this, &MurCommands::followDictation);
    connect(&m_toggleDictation, &MurAction::triggered, &m_dictation, &DictationController::toggle);
    leadTo(m_transcribeFile, Nav::MurScreen::file);
    leadTo(m_openSettings, Nav::MurScreen::settings);
    leadTo(m_showHome, Nav::MurScreen::home);
    leadTo(m_showHistory, Nav::MurScreen::history);
    connect(&m_setHotkey, &MurAction::triggered, this, [this] {
        m_nav.setSettingsTab(Nav::SettingsTab::general);
        m_nav.setScreen(Nav::MurScreen::settings);
        showMainWindow();
    });
    connect(&m_back, &MurAction::triggered, &m_nav, &Nav::back);
    connect(&m_openHelp, &MurAction::triggered, this, [this] {
        if (!m_urls.open(AppInfo::website()))
            qCWarning(lcApp) << "no program opens" << AppInfo::website().toString();
    });
    connect(&m_contactSupport, &MurAction::triggered, this, [this] {
        if (!m_urls.open(AppInfo::supportMailUrl()))
            qCWarning(lcApp) << "no mail program is set up for mailto links";
    });
    // A build without a release manifest is updated by the package manager.
    m_checkForUpdates.setEnabled(m_updates.canCheck());
    connect(&m_checkForUpdates, &MurAction::triggered, this, [this] {
        m_updates.check();
        showMainWindow();
    });
    connect(&m_quit, &MurAction::triggered, this, &QCoreApplication::quit);
    followDictation();
}

void MurCommands::leadTo(MurAction &action, Nav::MurScreen screen)
{
    connect(&action, &MurAction::triggered, this, [this, screen] {
        m_nav.setScreen(screen);
        showMainWindow();
    });
}

void MurCommands::followDictation()
{
    const DictationController::Status status = m_dictation.status();
    m_toggleDictation.setText(status == DictationController::Status::recording ? tr("Stop Dictation")
                                                                               : tr("Start Dictation"));
    m_toggleDictation.setEnabled(status != DictationController::Status::working);
}

void MurCommands::startDictation()
{
    m_dictation.startRecording();
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
