#pragma once

#include "core/speech/transcriptsegment.h"

#include <QByteArray>
#include <QString>

// The text forms of a transcript: what is copied, exported and printed.
namespace TranscriptFormats {

// Every segment's text in order, joined by single spaces, trimmed at both ends.
QString fullText(const QList<TranscriptSegment> &segments);

// SubRip subtitles: numbered blocks with "start --> end" times, separated by an empty
// line, every line ending in "\n". No segments give an empty text.
QString makeSRT(const QList<TranscriptSegment> &segments);

// "HH:MM:SS,mmm", milliseconds rounded half away from zero; hours may exceed two digits.
QString srtTime(double seconds);

// WebVTT: the same cues as SubRip with "." before the milliseconds and a header.
QString makeVTT(const QList<TranscriptSegment> &segments);

// {"duration": seconds, "segments": [{"start", "end", "text"}, ...]} as indented JSON.
QByteArray makeJSON(const QList<TranscriptSegment> &segments, double duration);

} // namespace TranscriptFormats
