#include "console.h"

#include <cstdio>
#include <unistd.h>

namespace {

void write(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

namespace Console {

void out(const QString &line)
{
    write(stdout, line + u'\n');
}

void err(const QString &line)
{
    write(stderr, line + u'\n');
}

bool errIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

void errStatus(const QString &text)
{
    // Carriage return, the text, then clear to the end of the line.
    write(stderr, u'\r' + text + QStringLiteral("\x1b[K"));
}

void errStatusDone()
{
    write(stderr, QStringLiteral("\n"));
}

} // namespace Console
