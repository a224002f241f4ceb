#pragma once

#include "core/speech/transcriptsegment.h"
#include "gui/viewmodels/fileprogress.h"
#include "gui/viewmodels/qmlsingleton.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

#include <QCoroTask>

#include <functional>
#include <optional>

class ClickInserter;
class Clipboard;
class HistoryStore;
class ModelStore;
class Preferences;
class ProcessActivity;
class Sounds;
class TranscriptionJob;
class Voice;

// The file screen's state: one audio or video file at a time is transcribed by the model's
// own transcription job (the file-transcription model, whose weights a dictation over the
// same model shares), shown as it is recognised, stored in the history, and then offered for
// copying, export and click-to-insert. Everything the screen shows is worked out here, so
// the QML holds no logic.
//
// Main thread only. The collaborators must outlive the model and the last run it started. A
// cancelled file, or one whose model is destroyed meanwhile, stops at the decoder's or the
// engine's next step; the run then touches nothing of a destroyed model but the activity it
// holds, which it ends. Failures end in the failed phase with failureMessage as the text the
// user sees; export and copy fail silently.
class FileTranscriptionModel final : public QObject, public QmlSingleton<FileTranscriptionModel>
{
    Q_OBJECT
    QML_NAMED_ELEMENT(FileTranscription)
    QML_SINGLETON
    Q_PROPERTY(Phase phase READ phase NOTIFY phaseChanged)
    // The message of the failed phase; empty in every other phase.
    Q_PROPERTY(QString failureMessage READ failureMessage NOTIFY failureMessageChanged)
    // The progress of the run and the words heard so far.
    Q_PROPERTY(FileProgress *live READ live CONSTANT)
    // The file's name without its last extension, and that extension in lower case.
    Q_PROPERTY(QString fileName READ fileName NOTIFY fileNameChanged)
    Q_PROPERTY(QString fileExt READ fileExt NOTIFY fileExtChanged)
    Q_PROPERTY(QString title READ title NOTIFY fileNameChanged)
    // Seconds of audio, as the decoder reports them.
    Q_PROPERTY(double duration READ duration NOTIFY durationChanged)
    // The loudness of `envelopeBuckets` stretches of the file, the loudest 1.0.
    Q_PROPERTY(QList<qreal> envelope READ envelope NOTIFY envelopeChanged)
    // The final transcript, one {start, end, time, text} map per segment; `time` is the
    // start as minutes and seconds.
    Q_PROPERTY(QVariantList segments READ segmentRows NOTIFY segmentsChanged)
    Q_PROPERTY(QString fullText READ fullText NOTIFY segmentsChanged)
    Q_PROPERTY(int wordCount READ wordCount NOTIFY segmentsChanged)
    // True for copyConfirmationMs after a copy.
    Q_PROPERTY(bool justCopied READ justCopied NOTIFY justCopiedChanged)
    // Whether "Insert by clicking" can work on this desktop (it cannot see clicks in native
    // Wayland windows); the screen offers the copy instead.
    Q_PROPERTY(bool canInsertByClicking READ canInsertByClicking CONSTANT)
    // The line under the file header's title, in capitals: "MP3 · 3:25 · DE · 512 WORDS".
    // The language is the preference's value when the transcript was finished.
    Q_PROPERTY(QString metaLine READ metaLine NOTIFY metaLineChanged)

public:
    enum class Phase { empty, decoding, transcribing, done, failed };
    Q_ENUM(Phase)

    struct Collaborators
    {
        ModelStore &models;
        Preferences &preferences;
        HistoryStore &history;
        Sounds &sounds;
        Voice &voice;
        Clipboard &clipboard;
        ClickInserter &clickInserter;
        ProcessActivity &activity;
    };

    static constexpr int envelopeBuckets = 240;
    static constexpr int copyConfirmationMs = 1400;

    // `clock` tells the time for the progress; a steady clock by default.
    explicit FileTranscriptionModel(const Collaborators &collaborators, QObject *parent = nullptr,
                                    FileProgress::Clock clock = {});
    ~FileTranscriptionModel() override;

    Phase phase() const { return m_phase; }
    QString failureMessage() const { return m_failureMessage; }
    FileProgress *live() { return &m_live; }
    QString fileName() const { return m_fileName; }
    QString fileExt() const { return m_fileExt; }
    QString title() const;
    double duration() const { return m_duration; }
    QList<qreal> envelope() const { return m_envelope; }
    const QList<TranscriptSegment> &segments() const { return m_segments; }
    QVariantList segmentRows() const;
    QString fullText() const;
    int wordCount() const;
    bool justCopied() const { return m_justCopied; }
    bool canInsertByClicking() const;
    QString metaLine() const { return m_metaLine; }

    // Takes a dropped, chosen or opened file and starts working on it; returns at once. While
    // a file is being decoded or transcribed, another is ignored without a word, and so is
    // an empty URL (a drop that carried no file).
    Q_INVOKABLE void handle(const QUrl &file);
    // Stops the file being decoded or transcribed: the screen goes back to empty, with nothing
    // stored and no sound. Nothing in any other phase. The screen offers no cancel (a file
    // runs to its end); going away does, so the engine stops instead of running on unseen.
    void cancel();
    // Puts fullText on the clipboard and shows the confirmation.
    Q_INVOKABLE void copyAll();
    // Hands fullText to click-to-insert: the next click into a text field receives it.
    Q_INVOKABLE void insertByClicking();

    // The save dialog's proposal: "interview.srt" for interview.m4a and "srt".
    Q_INVOKABLE QString proposedExportName(const QString &ext) const;
    // The proposed name in the source file's folder, for the save dialog to start from.
    Q_INVOKABLE QUrl proposedExportUrl(const QString &ext) const;
    // The exported content: fullText for "txt", SubRip subtitles for "srt", else nothing.
    Q_INVOKABLE QString exportText(const QString &ext) const;
    // Writes exportText(ext) to `file` in UTF-8, atomically, replacing what was there. The
    // user is told nothing of a failure; the result is for callers that care.
    Q_INVOKABLE bool saveExport(const QUrl &file, const QString &ext) const;

    // The whole percent of a figure, truncated: 0.999 gives "99%".
    Q_INVOKABLE static QString percentText(double fraction);
    // Whole minutes and seconds, minutes never wrapped into hours: 3725 gives "62:05".
    Q_INVOKABLE static QString minutesSeconds(double seconds);
    // The file chooser's name filters: audio and video together, then any audio, MP3, WAVE,
    // AIFF, any video, MPEG-4, QuickTime.
    Q_INVOKABLE static QStringList acceptedNameFilters();

    // The header's meta line for these values. The language (unless "auto") and the word
    // count belong to a finished transcript only.
    static QString composeMetaLine(const QString &ext, double duration, Phase phase, const QString &language,
                                   int words);

Q_SIGNALS:
    void phaseChanged();
    void failureMessageChanged();
    void fileNameChanged();
    void fileExtChanged();
    void durationChanged();
    void envelopeChanged();
    void segmentsChanged();
    void justCopiedChanged();
    void metaLineChanged();

private:
    QCoro::Task<> run(QString path);
    // Everything a file fills in, except its name.
    void clearResult();
    void fail(const QString &message);

    void setPhase(Phase phase);
    void setFailureMessage(const QString &message);
    void setFileName(const QString &name);
    void setFileExt(const QString &ext);
    void setDuration(double duration);
    void setEnvelope(const QList<float> &envelope);
    void setSegments(const QList<TranscriptSegment> &segments);
    void setJustCopied(bool copied);
    void refreshMetaLine();

    Collaborators m_with;
    FileProgress m_live;
    TranscriptionJob *m_job;

    Phase m_phase = Phase::empty;
    QString m_failureMessage;
    QString m_fileName;
    QString m_fileExt;
    double m_duration = 0.0;
    QList<qreal> m_envelope;
    QList<TranscriptSegment> m_segments;
    bool m_justCopied = false;
    QString m_metaLine;
    QString m_folder;
};
