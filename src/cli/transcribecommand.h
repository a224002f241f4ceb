#pragma once

#include <QStringList>

#include <QCoroTask>

class ModelStore;
class Preferences;

// `murmel transcribe FILE... [--format text|srt|vtt|json] [--model NAME] [--language CODE]`:
// the file model (from the preferences unless --model names one) is made present, each
// file is decoded and transcribed with one engine, and each result printed in turn.
// A file that fails is reported and the others still run. Resolves to the exit code:
// 0 when every file was transcribed, 1 when any failed, 2 for bad usage, 130 when a
// model download was interrupted.
namespace TranscribeCommand {

QCoro::Task<int> run(QStringList arguments, ModelStore &store, const Preferences &preferences);

QString usage();

} // namespace TranscribeCommand
