#pragma once

#include "core/desktop/processactivity.h"
#include "core/speech/transcriptsegment.h"
#include "core/text/vocabulary.h"

#include <QObject>
#include <QString>

#include <QCoroTask>

#include <memory>
#include <optional>

class AudioRecorder;
class AudioSource;
class ClickInserter;
class ClipboardSafeInsertService;
class HistoryStore;
class HotkeyMonitor;
class HUDController;
class KeychainHelper;
class ModelStore;
class Preferences;
class Sounds;
class TextInserter;
class Transcriber;

// Owns a dictation from the start request to the text landing where the user types:
// microphone capture, the dictation model, recognition, the user's dictionary, the optional
// cleanup, insertion, the history record, and the display, sounds and announcements that go
// with each step. At most one dictation runs at a time; a stop always leads to processing.
//
// Main thread only. The collaborators must outlive the controller; it creates and owns its
// recorder (over the given microphone) and its transcriber, which keeps the dictation model
// loaded between dictations (sharing it with a file transcription over the same model).
// Failures end up in lastError as the text the user sees.
class DictationController final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(Status status READ status NOTIFY statusChanged)
    // The last failure shown to the user; empty when none. Cleared by the next start.
    Q_PROPERTY(QString lastError READ lastError NOTIFY lastErrorChanged)
    // "Ready", "Listening" or "Working": the status as the screens word it.
    Q_PROPERTY(QString statusLabel READ statusLabel NOTIFY statusChanged)
    Q_PROPERTY(bool recording READ isRecording NOTIFY statusChanged)

public:
    enum class Status { idle, recording, working };
    Q_ENUM(Status)

    struct Collaborators
    {
        AudioSource &microphone;
        Preferences &preferences;
        ModelStore &models;
        HotkeyMonitor &hotkeys;
        HUDController &hud;
        Sounds &sounds;
        TextInserter &inserter;
        ClipboardSafeInsertService &safeInsert;
        ClickInserter &clickInserter;
        KeychainHelper &keychain;
        HistoryStore &history;
        ProcessActivity &activity;
    };

    // Installs the hotkey callbacks on the monitor; the monitor is started by its owner.
    explicit DictationController(const Collaborators &collaborators, QObject *parent = nullptr);
    ~DictationController() override;

    Status status() const { return m_status; }
    QString lastError() const { return m_lastError; }
    QString statusLabel() const;
    bool isRecording() const { return m_status == Status::recording; }

    // Begins a recording when idle and no model download runs; otherwise does nothing.
    Q_INVOKABLE void startRecording();
    // Ends the recording and starts processing it; returns at once. Nothing unless recording.
    Q_INVOKABLE void stopAndProcess();
    // What a start/stop button does: starts when idle, stops when recording, else nothing.
    Q_INVOKABLE void toggle();
    // Makes sure the dictation model is on disk (downloading it if need be) and loaded, so
    // the first dictation does not pay for it. Fire and forget; status and lastError stay.
    Q_INVOKABLE void warmUp();

Q_SIGNALS:
    void statusChanged();
    void lastErrorChanged();
    // Processing has ended, whichever way; the status is idle again.
    void dictationFinished();
    // A warm-up has ended; `loaded` tells whether the dictation model is ready in memory.
    void warmUpFinished(bool loaded);
    // The engine has recognised a dictation in `seconds` (the time of the speed line), so a
    // measurement of the whole pipeline can tell the engine's share from ours.
    void speechRecognised(double seconds);

private:
    QCoro::Task<> process(AudioFrames samples);
    QCoro::Task<> prepareModel();
    // Applies the cleanup style, when one is active and a key is stored, to a non-empty
    // text; any failure gives back the text as it came.
    QCoro::Task<QString> cleanedUp(QString text, QList<VocabularyRule> rules);
    void registerHotkey();
    // A failed exit of processing: the message (if any) for the user, the display gone.
    void abandon(std::unique_ptr<ProcessActivity::Token> activity, const std::optional<QString> &error);
    void finish(std::unique_ptr<ProcessActivity::Token> activity);
    QString language() const;
    void setStatus(Status status);
    void setLastError(const QString &error);

    Collaborators m_with;
    AudioRecorder *m_recorder;
    Transcriber *m_transcriber;
    Status m_status = Status::idle;
    QString m_lastError;
};
