#include "cli/transcribecommand.h"

#include "cli/modeldownload.h"
#include "cli/progressline.h"
#include "core/base/console.h"
#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"
#include "core/base/whisperlanguage.h"
#include "core/speech/modelselection.h"
#include "core/speech/modelstore.h"
#include "core/transcripts/transcriptformats.h"
#include "core/transcripts/transcriptionjob.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

enum class Format { text, srt, vtt, json };

struct Options
{
    QStringList files;
    Format format = Format::text;
    std::optional<WhisperModel> model;
    std::optional<QString> language;
};

// Nothing when the arguments are fine; otherwise what is wrong with them.
std::optional<QString> parse(const QStringList &arguments, Options &options)
{
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        const bool takesValue = argument == u"--format" || argument == u"--model" || argument == u"--language";
        if (takesValue && i + 1 >= arguments.size())
            return argument + QStringLiteral(" needs a value.");
        if (argument == u"--format") {
            const QString value = arguments.at(++i);
            static const QHash<QString, Format> formats = {{QStringLiteral("text"), Format::text},
                                                           {QStringLiteral("srt"), Format::srt},
                                                           {QStringLiteral("vtt"), Format::vtt},
                                                           {QStringLiteral("json"), Format::json}};
            if (!formats.contains(value))
                return QStringLiteral("Unknown format \"%1\". Choose one of: text, srt, vtt, json.").arg(value);
            options.format = formats.value(value);
        } else if (argument == u"--model") {
            const QString value = arguments.at(++i);
            options.model = WhisperModel::fromRawValue(value);
            if (!options.model)
                return QStringLiteral("Unknown model \"%1\". Choose one of: base.en, base, small, large-v3.").arg(value);
        } else if (argument == u"--language") {
            const QString value = arguments.at(++i);
            if (!WhisperLanguage::fromRawValue(value))
                return QStringLiteral("Unknown language \"%1\". Use a code such as en, de or fr, or auto.").arg(value);
            options.language = value;
        } else if (argument.startsWith(u"--")) {
            return QStringLiteral("Unknown option %1.").arg(argument);
        } else {
            options.files << argument;
        }
    }
    if (options.files.isEmpty())
        return QStringLiteral("Name at least one audio or video file.");
    return std::nullopt;
}

QJsonObject jsonResult(const QString &file, const QList<TranscriptSegment> &segments, double duration)
{
    QJsonObject object = QJsonDocument::fromJson(TranscriptFormats::makeJSON(segments, duration)).object();
    object.insert(QStringLiteral("file"), file);
    return object;
}

} // namespace

namespace TranscribeCommand {

QString usage()
{
    return QStringLiteral("  murmel transcribe FILE... [--format text|srt|vtt|json] [--model NAME] [--language CODE]\n"
                          "                                      print the transcript of audio or video files");
}

QCoro::Task<int> run(QStringList arguments, ModelStore &store, const Preferences &preferences)
{
    Options options;
    if (const std::optional<QString> problem = parse(arguments, options)) {
        Console::err(*problem);
        Console::err(QStringLiteral("Usage:\n") + usage());
        co_return 2;
    }

    const WhisperModel model = options.model.value_or(ModelSelection::fileTranscriptionModel(preferences));
    if (!store.isDownloaded(model)) {
        auto download = ModelDownload::run(store, model);
        const ModelDownload::Outcome outcome = co_await std::move(download);
        if (outcome == ModelDownload::Outcome::interrupted) {
            Console::err(QStringLiteral("Download cancelled."));
            co_return 130;
        }
    }
    const bool several = options.files.size() > 1;
    TranscriptionJob job(store, preferences);
    const TranscriptionJob::Options jobOptions{.model = model, .language = options.language};
    QJsonArray jsonResults;
    bool anyFailed = false;

    for (const QString &file : std::as_const(options.files)) {
        // Output that cannot be written makes the rest of the work pointless.
        if (!Console::outError().isEmpty())
            break;
        const QString name = QFileInfo(file).fileName();
        ProgressLine line(QStringLiteral("Transcribing ") + name);
        const QMetaObject::Connection progress = QObject::connect(
            &job, &TranscriptionJob::progressed, &job, [&line](double fraction) { line.update(fraction); });
        auto running = job.run(file, jobOptions);
        const TranscriptionJob::Result result = co_await std::move(running);
        QObject::disconnect(progress);
        if (const auto *failure = std::get_if<TranscriptionJob::Failure>(&result)) {
            if (failure->kind == TranscriptionJob::Failure::Kind::modelNotReady) {
                Console::err(TranscriptionJob::noModelMessage());
                if (const std::optional<QString> reason = store.lastError())
                    Console::err(*reason);
                co_return 1;
            }
            const QString &message = failure->message;
            Console::err(several ? Console::printable(name) + QStringLiteral(": ") + message : message);
            anyFailed = true;
            continue;
        }
        if (std::holds_alternative<TranscriptionJob::Cancelled>(result))
            co_return 130;
        line.finish(1.0);
        const auto &[segments, seconds] = std::get<TranscriptionJob::Transcript>(result);

        if (options.format == Format::json) {
            jsonResults.append(jsonResult(file, segments, seconds));
            continue;
        }
        if (several)
            Console::out(QStringLiteral("==> %1 <==").arg(Console::printable(file)));
        switch (options.format) {
        case Format::text:
            Console::out(TranscriptFormats::fullText(segments));
            break;
        case Format::srt:
            Console::write(TranscriptFormats::makeSRT(segments));
            break;
        case Format::vtt:
            Console::write(TranscriptFormats::makeVTT(segments));
            break;
        case Format::json:
            break;
        }
        if (several && &file != &options.files.last())
            Console::out(QString());
    }

    if (options.format == Format::json) {
        const QJsonDocument document = several ? QJsonDocument(jsonResults)
                                               : QJsonDocument(jsonResults.isEmpty() ? QJsonObject() : jsonResults.first().toObject());
        if (!jsonResults.isEmpty())
            Console::write(QString::fromUtf8(document.toJson(QJsonDocument::Indented)));
    }
    co_return anyFailed ? 1 : 0;
}

} // namespace TranscribeCommand
