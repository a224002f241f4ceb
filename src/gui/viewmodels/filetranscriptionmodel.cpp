#include "gui/viewmodels/filetranscriptionmodel.h"

#include "core/base/logging.h"
#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"
#include "core/desktop/clipboard.h"
#include "core/desktop/processactivity.h"
#include "core/hud/sounds.h"
#include "core/hud/voice.h"
#include "core/insert/clickinserter.h"
#include "core/transcripts/historystore.h"
#include "core/transcripts/transcriptformats.h"
#include "core/transcripts/transcriptionjob.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QSaveFile>
#include <QTimer>
#include <QVariantMap>

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>

namespace {

// A local path for a file URL; a URL without a scheme is taken as a path already.
QString localPath(const QUrl &file)
{
    if (file.isLocalFile())
        return file.toLocalFile();
    return file.scheme().isEmpty() ? file.path() : QString();
}

// The name and the lower-case extension of the last path component. Only the last
// extension counts ("Team Sync.final.MOV" is "Team Sync.final" and "mov"); a leading dot
// belongs to the name, as in ".recording".
std::pair<QString, QString> splitName(const QString &path)
{
    QStringView name(path);
    while (name.size() > 1 && name.endsWith(u'/'))
        name.chop(1);
    name = name.sliced(name.lastIndexOf(u'/') + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0 || dot == name.size() - 1)
        return {name.toString(), QString()};
    return {name.first(dot).toString(), name.sliced(dot + 1).toString().toLower()};
}

// A file chooser filter: its label and its extensions, separated by spaces.
struct NameFilter
{
    const char16_t *label;
    const char16_t *extensions;
};

} // namespace

FileTranscriptionModel::FileTranscriptionModel(const Collaborators &collaborators, QObject *parent,
                                               FileProgress::Clock clock)
    : QObject(parent)
    , m_with(collaborators)
    , m_live(std::move(clock))
    , m_job(new TranscriptionJob(collaborators.models, collaborators.preferences, this))
{
    connect(m_job, &TranscriptionJob::scanned, this, [this](double duration, const QList<float> &envelope) {
        setDuration(duration);
        setEnvelope(envelope);
        setPhase(Phase::transcribing);
        m_live.start();
        m_with.sounds.play(QStringLiteral("Tink"));
    });
    connect(m_job, &TranscriptionJob::progressed, &m_live, &FileProgress::update);
    connect(m_job, &TranscriptionJob::segmentsHeard, this, [this](const QList<TranscriptSegment> &batch) {
        QStringList texts;
        texts.reserve(batch.size());
        for (const TranscriptSegment &segment : batch)
            texts << segment.text;
        m_live.append(texts.join(u' '));
    });
}

FileTranscriptionModel::~FileTranscriptionModel() = default;

QString FileTranscriptionModel::title() const
{
    return m_fileName.isEmpty() ? tr("Transcribe a file") : m_fileName;
}

QVariantList FileTranscriptionModel::segmentRows() const
{
    QVariantList rows;
    rows.reserve(m_segments.size());
    for (const TranscriptSegment &segment : m_segments)
        rows.append(QVariantMap{{QStringLiteral("start"), segment.start},
                                {QStringLiteral("end"), segment.end},
                                {QStringLiteral("time"), minutesSeconds(segment.start)},
                                {QStringLiteral("text"), segment.text}});
    return rows;
}

QString FileTranscriptionModel::fullText() const
{
    return TranscriptFormats::fullText(m_segments);
}

int FileTranscriptionModel::wordCount() const
{
    // Only spaces and line feeds separate words; a tab or a no-break space does not.
    int words = 0;
    bool inWord = false;
    for (const QChar c : fullText()) {
        const bool separator = c == u' ' || c == u'\n';
        if (!separator && !inWord)
            ++words;
        inWord = !separator;
    }
    return words;
}

void FileTranscriptionModel::handle(const QUrl &file)
{
    if (file.isEmpty() || m_phase == Phase::decoding || m_phase == Phase::transcribing)
        return;

    const QString path = localPath(file);
    const auto [name, ext] = splitName(path);
    m_folder = QFileInfo(path).absolutePath();
    setFileName(name);
    setFileExt(ext);
    clearResult();
    setPhase(Phase::decoding);
    // Runs on this thread up to its first suspension; the task frees itself when done.
    run(path);
}

void FileTranscriptionModel::cancel()
{
    m_job->cancel();
}

void FileTranscriptionModel::clearResult()
{
    setDuration(0.0);
    setEnvelope({});
    setSegments({});
    setJustCopied(false);
    m_live.reset();
    setFailureMessage({});
}

QCoro::Task<> FileTranscriptionModel::run(QString path)
{
    const QPointer<FileTranscriptionModel> self(this);
    // Held to the end of the run, whichever way it ends, also when the model is gone.
    const std::unique_ptr<ProcessActivity::Token> activity
        = m_with.activity.begin(QStringLiteral("Transcribing a file"));

    // The file is read once whole for the length and the waveform, then again a window at a
    // time while the engine hears it. A missing model is downloaded while the phase already
    // reads transcribing; its progress shows in the model list.
    TranscriptionJob::Options options;
    options.envelopeBuckets = envelopeBuckets;
    auto transcribing = m_job->run(path, options);
    const TranscriptionJob::Result result = co_await std::move(transcribing);
    if (!self)
        co_return;
    if (std::holds_alternative<TranscriptionJob::Cancelled>(result)) {
        qCDebug(lcTranscripts) << "file transcription cancelled";
        setFileName({});
        setFileExt({});
        clearResult();
        setPhase(Phase::empty);
        co_return;
    }
    // Live text and the partial progress stay as they were: they are what the user last saw.
    if (const auto *failure = std::get_if<TranscriptionJob::Failure>(&result)) {
        fail(failure->message);
        co_return;
    }

    setSegments(std::get<TranscriptionJob::Transcript>(result).segments);
    m_live.update(1.0);
    setPhase(Phase::done);
    m_with.sounds.play(QStringLiteral("Glass"));
    m_with.voice.speak(tr("It's ready."));
    m_with.history.add(TranscriptRecord::Kind::file, m_fileName, fullText(), m_duration);
    qCDebug(lcTranscripts) << "file transcribed:" << m_segments.size() << "segments," << m_duration << "s";
}

void FileTranscriptionModel::fail(const QString &message)
{
    qCDebug(lcTranscripts) << "file transcription failed:" << message;
    // The message first, so the failed phase never shows without it.
    setFailureMessage(message);
    setPhase(Phase::failed);
}

void FileTranscriptionModel::copyAll()
{
    // "Copied" only for a clipboard that took the text.
    if (!m_with.clipboard.setText(fullText())) {
        qCWarning(lcTranscripts) << "the clipboard did not take the transcript";
        return;
    }
    m_with.sounds.play(QStringLiteral("Morse"));
    setJustCopied(true);
    // Every copy runs its own timer and the first to end clears the flag: a second copy
    // does not lengthen the confirmation.
    QTimer::singleShot(copyConfirmationMs, this, [this] { setJustCopied(false); });
}

bool FileTranscriptionModel::canInsertByClicking() const
{
    return m_with.clickInserter.isAvailable();
}

void FileTranscriptionModel::insertByClicking()
{
    m_with.clickInserter.arm(fullText());
}

QString FileTranscriptionModel::proposedExportName(const QString &ext) const
{
    return m_fileName + u'.' + ext;
}

QUrl FileTranscriptionModel::proposedExportUrl(const QString &ext) const
{
    // Beside the source, where the user last looked; the home folder when that is gone.
    const QString folder = !m_folder.isEmpty() && QFileInfo(m_folder).isDir() ? m_folder : QDir::homePath();
    return QUrl::fromLocalFile(QDir(folder).filePath(proposedExportName(ext)));
}

QString FileTranscriptionModel::exportText(const QString &ext) const
{
    if (ext == u"txt")
        return fullText();
    if (ext == u"srt")
        return TranscriptFormats::makeSRT(m_segments);
    return {};
}

bool FileTranscriptionModel::saveExport(const QUrl &file, const QString &ext) const
{
    const QString path = localPath(file);
    if (path.isEmpty() || (ext != u"txt" && ext != u"srt"))
        return false;
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) {
        qCDebug(lcTranscripts) << "export not written:" << out.errorString();
        return false;
    }
    const QByteArray bytes = exportText(ext).toUtf8();
    if (out.write(bytes) != bytes.size()) {
        qCDebug(lcTranscripts) << "export not written:" << out.errorString();
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

QString FileTranscriptionModel::percentText(double fraction)
{
    const double bounded = std::isfinite(fraction) ? std::clamp(fraction, 0.0, 1.0) : 0.0;
    return QString::number(static_cast<int>(std::trunc(bounded * 100.0))) + u'%';
}

QString FileTranscriptionModel::minutesSeconds(double seconds)
{
    const qint64 whole = std::isfinite(seconds) && seconds > 0.0 ? static_cast<qint64>(seconds) : 0;
    return QString::asprintf("%lld:%02lld", whole / 60, whole % 60);
}

QStringList FileTranscriptionModel::acceptedNameFilters()
{
    // The first entry offers every kind at once, as a chooser limited to these types
    // would; the others narrow it down.
    static const NameFilter filters[] = {
        {u"Audio and video files", u"mp3 m4a aac wav aif aiff aifc flac ogg oga opus wma caf amr "
                                   u"mp4 m4v mov qt mkv webm avi mpg mpeg"},
        {u"Audio files", u"mp3 m4a aac wav aif aiff aifc flac ogg oga opus wma caf amr"},
        {u"MP3 audio", u"mp3"},
        {u"WAVE audio", u"wav"},
        {u"AIFF audio", u"aif aiff aifc"},
        {u"Video files", u"mp4 m4v mov qt mkv webm avi mpg mpeg"},
        {u"MPEG-4 video", u"mp4 m4v"},
        {u"QuickTime video", u"mov qt"},
    };
    QStringList result;
    for (const NameFilter &filter : filters) {
        // Choosers may match the patterns case by case (the Qt Quick dialog's folder model
        // does), and cameras and older systems write upper-case extensions.
        const QString lower = QString::fromUtf16(filter.extensions);
        const QStringList extensions = lower.split(u' ') + lower.toUpper().split(u' ');
        QStringList patterns;
        for (const QString &extension : extensions)
            patterns << QStringLiteral("*.") + extension;
        result << QString::fromUtf16(filter.label) + QStringLiteral(" (") + patterns.join(u' ') + u')';
    }
    return result;
}

QString FileTranscriptionModel::composeMetaLine(const QString &ext, double duration, Phase phase,
                                                const QString &language, int words)
{
    QStringList parts;
    if (!ext.isEmpty())
        parts << ext;
    if (duration > 0.0)
        parts << minutesSeconds(duration);
    if (phase == Phase::done) {
        if (!language.isEmpty() && language != u"auto")
            parts << language;
        parts << QString::number(words) + QStringLiteral(" words");
    }
    return parts.join(QStringLiteral(" · ")).toUpper();
}

void FileTranscriptionModel::refreshMetaLine()
{
    // The preference is read only for a finished transcript, the one time it is shown.
    const QString language
        = m_phase == Phase::done ? m_with.preferences.stringOrDefault(PreferenceKeys::language) : QString();
    const QString line = composeMetaLine(m_fileExt, m_duration, m_phase, language, wordCount());
    if (line == m_metaLine)
        return;
    m_metaLine = line;
    Q_EMIT metaLineChanged();
}

void FileTranscriptionModel::setPhase(Phase phase)
{
    if (m_phase == phase)
        return;
    m_phase = phase;
    Q_EMIT phaseChanged();
    refreshMetaLine();
}

void FileTranscriptionModel::setFailureMessage(const QString &message)
{
    if (m_failureMessage == message)
        return;
    m_failureMessage = message;
    Q_EMIT failureMessageChanged();
}

void FileTranscriptionModel::setFileName(const QString &name)
{
    if (m_fileName == name)
        return;
    m_fileName = name;
    Q_EMIT fileNameChanged();
}

void FileTranscriptionModel::setFileExt(const QString &ext)
{
    if (m_fileExt == ext)
        return;
    m_fileExt = ext;
    Q_EMIT fileExtChanged();
    refreshMetaLine();
}

void FileTranscriptionModel::setDuration(double duration)
{
    if (m_duration == duration)
        return;
    m_duration = duration;
    Q_EMIT durationChanged();
    refreshMetaLine();
}

void FileTranscriptionModel::setEnvelope(const QList<float> &envelope)
{
    QList<qreal> values(envelope.cbegin(), envelope.cend());
    if (m_envelope == values)
        return;
    m_envelope = std::move(values);
    Q_EMIT envelopeChanged();
}

void FileTranscriptionModel::setSegments(const QList<TranscriptSegment> &segments)
{
    if (m_segments == segments)
        return;
    m_segments = segments;
    Q_EMIT segmentsChanged();
    refreshMetaLine();
}

void FileTranscriptionModel::setJustCopied(bool copied)
{
    if (m_justCopied == copied)
        return;
    m_justCopied = copied;
    Q_EMIT justCopiedChanged();
}
