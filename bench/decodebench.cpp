// Decodes one file with AudioFileDecoder and prints the sample count, the seconds it
// took and how much the process grew while decoding, so bench/decode.sh can set them
// beside the ffmpeg command's.
#include "core/transcripts/audiofiledecoder.h"

#include <QElapsedTimer>
#include <QFile>
#include <QString>

#include <sys/resource.h>

#include <cstdio>

namespace {

// Resident set size now, in KiB.
long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: decodebench FILE\n");
        return 2;
    }
    // Loads the decoder's libraries first (a missing file fails at once), so that the
    // growth below is the decoding's own memory, not the libraries' code.
    AudioFileDecoder::decodeNow(QStringLiteral("/nonexistent"), 240);
    const long before = residentKiB();
    QElapsedTimer timer;
    timer.start();
    const DecodeResult result = AudioFileDecoder::decodeNow(QString::fromLocal8Bit(argv[1]), 240);
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    if (const auto *error = std::get_if<AudioDecodeError>(&result)) {
        std::fprintf(stderr, "%s\n", qPrintable(error->description()));
        return 1;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto &audio = std::get<DecodedAudio>(result);
    // samples, seconds, peak growth of the process in KiB
    std::printf("%lld %.3f %ld\n", static_cast<long long>(audio.samples.size()), seconds, usage.ru_maxrss - before);
    return 0;
}
