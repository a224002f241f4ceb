#pragma once

#include <QCoroTask>
#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class ClipboardSafeInsertService;
class DictationController;
class ModelStore;
class MurCommands;
class Preferences;
class QDBusMessage;
class TranscriptionJob;

// Murmel's automation interface on the session bus: the object /app/murmel/Murmel with the
// interface app.murmel.Murmel, under the bus name app.murmel.Murmel. Scripts, the desktop's
// own keyboard shortcuts, the launcher's actions, a second launch and the `murmel` commands
// reach the running application here. Owning the name is also what makes Murmel a single
// instance.
//
// Main thread only. Methods that take time answer later (a delayed reply), so the event
// loop keeps turning meanwhile. Failures come back as D-Bus errors named
// app.murmel.Murmel.Error.* whose message is the text to show the user.
class AutomationService final : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.murmel.Murmel")
    // "idle", "recording" or "working"; changes are announced with StatusChanged and the
    // standard PropertiesChanged signal.
    Q_PROPERTY(QString Status READ status NOTIFY StatusChanged)

public:
    static QString serviceName() { return QStringLiteral("app.murmel.Murmel"); }
    static QString objectPath() { return QStringLiteral("/app/murmel/Murmel"); }
    static QString interfaceName() { return QStringLiteral("app.murmel.Murmel"); }
    // Nothing was held, or the hold expired.
    static QString notReadyError() { return QStringLiteral("app.murmel.Murmel.Error.NotReady"); }
    // The held text could not be typed; it is still held.
    static QString notReturnedError() { return QStringLiteral("app.murmel.Murmel.Error.NotReturned"); }
    // No speech model is present and none could be downloaded.
    static QString modelNotReadyError() { return QStringLiteral("app.murmel.Murmel.Error.ModelNotReady"); }
    // The file could not be decoded or transcribed.
    static QString transcriptionFailedError() { return QStringLiteral("app.murmel.Murmel.Error.TranscriptionFailed"); }
    // A path that names no local file by itself (relative, or another scheme than file:).
    static QString notAFileError() { return QStringLiteral("app.murmel.Murmel.Error.NotAFile"); }

    struct Collaborators
    {
        ClipboardSafeInsertService &safeInsert;
        DictationController &dictation;
        MurCommands &commands;
        ModelStore &models;
        const Preferences &preferences;
    };

    explicit AutomationService(const Collaborators &collaborators, QObject *parent = nullptr);
    ~AutomationService() override;

    // Exports the object and takes the bus name. False when either failed, for instance
    // because another Murmel already owns the name; the reason is logged.
    bool registerOn(QDBusConnection connection);
    // Gives the bus name and the object up; calls still waiting get no answer.
    void release();

    QString status() const;

public Q_SLOTS:
    // Thin calls into the dictation controller; a refused start or stop is silent.
    Q_SCRIPTABLE void StartDictation();
    Q_SCRIPTABLE void StopDictation();
    Q_SCRIPTABLE void ToggleDictation();
    // The plain text of an audio or video file, transcribed with the file model (its
    // weights shared with the screens); no dictionary, cleanup or history. `path` is
    // absolute or a file URL.
    Q_SCRIPTABLE QString TranscribeFile(const QString &path);
    // Types the dictation held for the clipboard-safe insert into the focused window.
    Q_SCRIPTABLE void InsertLastDictation();
    // Files handed over from outside: the first goes to the file screen.
    Q_SCRIPTABLE void Open(const QStringList &paths);
    // Brings the main window forward.
    Q_SCRIPTABLE void Activate();
    // The launcher's xdg-activation token or X11 startup id, for the next window brought
    // forward (a second launch hands it over before its request).
    Q_SCRIPTABLE void SetActivationToken(const QString &token);
    // The file screen in front, ready for a file to be chosen.
    Q_SCRIPTABLE void ShowFileScreen();

Q_SIGNALS:
    Q_SCRIPTABLE void StatusChanged(const QString &status);
    // The scripts' engine is free for the next waiting call; not on the bus.
    void scriptTurnFreed();

private:
    void announceStatus();
    QCoro::Task<void> answerInsertLastDictation(QDBusConnection connection, QDBusMessage request);
    QCoro::Task<void> answerTranscribeFile(QDBusConnection connection, QDBusMessage request, QString path);

    ClipboardSafeInsertService &m_safeInsert;
    DictationController &m_dictation;
    MurCommands &m_commands;
    ModelStore &m_models;
    const Preferences &m_preferences;
    QDBusConnection m_connection{QString()};
    QString m_announcedStatus;
    // Scripts' TranscribeFile calls take turns on one job, so ten calls at once hold one
    // model and one decoded file, not ten. The job goes when the last call ends.
    std::unique_ptr<TranscriptionJob> m_scriptJob;
    int m_scriptCalls = 0;
    bool m_scriptTurnTaken = false;
};
