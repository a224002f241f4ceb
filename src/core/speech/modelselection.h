#pragma once

#include "core/speech/whisper.h"
#include "core/speech/whispermodel.h"

class Preferences;

// Which model serves which job, decided from the preferences at the moment of use.
namespace ModelSelection {

// The processor's default file transcription model ("whisperModel" when absent).
WhisperModel defaultFileModel();

// The model named by "whisperModel"; the processor's default when absent or unknown.
WhisperModel fileTranscriptionModel(const Preferences &preferences);

// "Fast" dictation takes base.en for English and small for everything else; "Accurate"
// reuses the file transcription model. The multilingual base model is only ever used
// because the user picked it for files.
WhisperModel dictationModel(const Preferences &preferences);

// The graphics card while "coreMLEnabled" is on (the default), else the processor.
ComputeDevice computeDevice(const Preferences &preferences);

} // namespace ModelSelection
