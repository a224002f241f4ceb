#pragma once

#include <QString>

// SHA-256 of a model file, streamed in 1 MiB chunks so memory stays flat for the 2.9 GB
// model. Blocking: call it from a worker thread, never the main thread. Stateless and
// safe to call from several threads at once.
namespace ModelIntegrity {

// The lower-case hex digest of the whole file, or an empty string when the file cannot
// be opened or read to its end.
QString sha256(const QString &filePath);

// True when the file's digest equals `expected` (hex, either case). A missing,
// unreadable or short-read file gives false.
bool verify(const QString &filePath, const QString &expected);

} // namespace ModelIntegrity
