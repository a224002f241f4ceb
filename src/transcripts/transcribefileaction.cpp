#include "transcribefileaction.h"

#include "app/preferencekeys.h"
#include "app/preferences.h"
#include "speech/modelselection.h"
#include "speech/modelstore.h"
#include "speech/transcriber.h"
#include "transcripts/windowedtranscription.h"

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
