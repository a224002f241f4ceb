#pragma once

#include <QString>

#include <QCoroTask>

#include <variant>

class ModelStore;
class Preferences;
class Transcriber;

// Transcribes one audio or video file for a script, without any window: the file
// transcription model (downloaded first when missing), the caller's transcriber (which
// shares nothing with dictation or the file screen), and the plain text back. No
// dictionary, no cleanup, no history, no sound.
//
// Main thread only; decoding and the engine run on workers and are awaited.
namespace TranscribeFileAction {

struct Failure
{
    enum class Kind {
        modelNotReady, // no model is present and none could be had
        failed,        // the file could not be decoded, or the engine refused it
    };
    Kind kind;
    QString message; // the text to show the user
};

using Result = std::variant<QString, Failure>;

// What a script sees when no model can be had.
QString modelNotReadyMessage();

// `path` is an absolute path of a local file. A file without speech gives the empty text.
// `transcriber` must not be used by anything else until the task ends.
QCoro::Task<Result> perform(QString path, ModelStore &store, const Preferences &preferences, Transcriber &transcriber);

} // namespace TranscribeFileAction
