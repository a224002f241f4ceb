#include "console.h"

#include <cstdio>
#include <unistd.h>

namespace {

void put(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

namespace Console {

void out(const QString &line)
{
    put(stdout, line + u'\n');
}

void write(const QString &text)
{
    put(stdout, text);
}

void err(const QString &line)
{
    put(stderr, line + u'\n');
}

bool errIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

void errStatus(const QString &text)
{
    // Carriage return, the text, then clear to the end of the line.
    put(stderr, u'\r' + text + QStringLiteral("\x1b[K"));
}

void errStatusDone()
{
    put(stderr, QStringLiteral("\n"));
}

} // namespace Console
