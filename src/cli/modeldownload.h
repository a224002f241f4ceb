#pragma once

#include "core/speech/whispermodel.h"

#include <QCoroTask>

class ModelStore;

// Downloads a model for a command: a progress bar on a terminal, Ctrl-C cancels.
namespace ModelDownload {

enum class Outcome { downloaded, failed, interrupted };

// The store's lastError says why a download failed. `replace` fetches a present model again.
QCoro::Task<Outcome> run(ModelStore &store, WhisperModel model, bool replace = false);

} // namespace ModelDownload
