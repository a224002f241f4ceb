// Hashes one file with ModelIntegrity and prints the digest and the seconds it took, so
// bench/run.sh can set our throughput beside the reference tools' on the same file.
#include "core/speech/modelintegrity.h"

#include <QElapsedTimer>
#include <QString>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: sha256bench FILE\n");
        return 2;
    }
    QElapsedTimer timer;
    timer.start();
    const QString digest = ModelIntegrity::sha256(QString::fromLocal8Bit(argv[1]));
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    if (digest.isEmpty()) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    std::printf("%s %.6f\n", qPrintable(digest), seconds);
    return 0;
}
