#include "transcribefileaction.h"

#include "app/preferencekeys.h"
#include "app/preferences.h"
#include "speech/modelselection.h"
#include "speech/modelstore.h"
#include "speech/transcriber.h"
#include "transcripts/audiofiledecoder.h"

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

    auto decoding = AudioFileDecoder::decode(path, 240);
    const DecodeResult decoded = co_await std::move(decoding);
    if (const auto *error = std::get_if<AudioDecodeError>(&decoded))
        co_return Failure{Failure::Kind::failed, error->description()};

    auto loading = transcriber.load(*modelPath, preferences.stringOrDefault(PreferenceKeys::language));
    const std::optional<TranscriberError> loadError = co_await std::move(loading);
    if (loadError)
        co_return Failure{Failure::Kind::failed, loadError->description()};

    auto running = transcriber.transcribe(std::get<DecodedAudio>(decoded).samples);
    const Transcriber::TextResult text = co_await std::move(running);
    if (const auto *error = std::get_if<TranscriberError>(&text))
        co_return Failure{Failure::Kind::failed, error->description()};
    co_return std::get<QString>(text);
}

} // namespace TranscribeFileAction
