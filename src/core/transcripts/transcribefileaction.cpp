#include "core/transcripts/transcribefileaction.h"

#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"
#include "core/speech/modelselection.h"
#include "core/speech/modelstore.h"
#include "core/speech/transcriber.h"
#include "core/transcripts/windowedtranscription.h"

namespace TranscribeFileAction {

QString modelNotReadyMessage()
{
    return QStringLiteral("No speech model is downloaded yet. Open Murmel and download a model first.");
}

QCoro::Task<Result> perform(QString path, ModelStore &store, const Preferences &preferences, Transcriber &transcriber)
{
    const WhisperModel model = ModelSelection::fileTranscriptionModel(preferences);
    auto ensuring = store.ensure(model);
    const std::optional<QString> modelPath = co_await std::move(ensuring);
    if (!modelPath)
        co_return Failure{Failure::Kind::modelNotReady, modelNotReadyMessage()};

    auto loading = transcriber.load(*modelPath, preferences.stringOrDefault(PreferenceKeys::language));
    const std::optional<TranscriberError> loadError = co_await std::move(loading);
    if (loadError)
        co_return Failure{Failure::Kind::failed, loadError->description()};

    auto running = WindowedTranscription::run(path, transcriber);
    const WindowedTranscription::Result result = co_await std::move(running);
    if (const auto *message = std::get_if<QString>(&result))
        co_return Failure{Failure::Kind::failed, *message};
    QStringList texts;
    for (const TranscriptSegment &segment : std::get<WindowedTranscription::Transcript>(result).segments)
        texts << segment.text;
    co_return texts.join(u' ').trimmed();
}

} // namespace TranscribeFileAction
