#pragma once

#include <QObject>
#include <QStringList>
#include <QUrl>

#include <optional>

class DictationController;
class FileOpenRouter;
class MainWindowHost;
class Nav;
class UpdateChecker;
class UrlOpener;

// Every command of the application shell, whichever way the user reaches it: the main
// window's menus and shortcuts, the tray icon's menu, the launcher's actions, files handed
// over from outside, and the automation interface. Each is a call into the dictation
// controller, the navigation state or a desktop service; none has logic of its own beyond
// choosing which.
//
// Main thread only. The collaborators must outlive it.
class MurCommands final : public QObject
{
    Q_OBJECT
    // "Start Dictation", or "Stop Dictation" while recording.
    Q_PROPERTY(QString dictationTitle READ dictationTitle NOTIFY dictationStateChanged)
    // False while a dictation is being processed, when a start or stop would do nothing.
    Q_PROPERTY(bool dictationEnabled READ dictationEnabled NOTIFY dictationStateChanged)

public:
    struct Collaborators
    {
        DictationController &dictation;
        Nav &nav;
        FileOpenRouter &router;
        MainWindowHost &window;
        UrlOpener &urls;
        UpdateChecker &updates;
    };

    explicit MurCommands(const Collaborators &collaborators, QObject *parent = nullptr);

    QString dictationTitle() const;
    bool dictationEnabled() const;

    // The main menu. Each brings the window forward, so the user sees where it led.
    Q_INVOKABLE void openSettings();
    Q_INVOKABLE void transcribeFile();
    Q_INVOKABLE void toggleDictation();
    Q_INVOKABLE void setHotkey();
    Q_INVOKABLE void showHome();
    Q_INVOKABLE void showHistory();
    // Home from any other screen; nothing on home.
    Q_INVOKABLE void back();
    Q_INVOKABLE void openHelp();
    Q_INVOKABLE void contactSupport();
    Q_INVOKABLE void checkForUpdates();
    Q_INVOKABLE void quit();

    // The tray's and the launcher's actions, which leave the window where it is.
    Q_INVOKABLE void dockToggleDictation();
    Q_INVOKABLE void startDictation();
    Q_INVOKABLE void dockTranscribeFile();

    // Files handed to Murmel from outside: only the first is used. Each entry is an
    // absolute path or a file URL; anything else is refused (false) and changes nothing.
    Q_INVOKABLE bool openFiles(const QStringList &files);
    Q_INVOKABLE void showMainWindow();
    // The launcher's leave to take the focus, used by the next showMainWindow().
    void setActivationToken(const QString &token);
    // The small window of the tray icon, which the scene shows.
    Q_INVOKABLE void showMenuWindow();

    // The local file an absolute path or a "file:" URL names; nothing for a relative path
    // (whose meaning depends on a working folder we do not share) or another scheme.
    static std::optional<QUrl> localFileUrl(const QString &pathOrUrl);

Q_SIGNALS:
    void dictationStateChanged();
    void menuWindowRequested();

private:
    DictationController &m_dictation;
    Nav &m_nav;
    FileOpenRouter &m_router;
    MainWindowHost &m_window;
    UrlOpener &m_urls;
    UpdateChecker &m_updates;
};
