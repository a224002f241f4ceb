#include "core/base/console.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

int outErrno = 0;

// The errno of the failure, or 0 when every byte reached the stream's file.
int put(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    errno = 0;
    const size_t written = std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    if (written == static_cast<size_t>(bytes.size()) && std::fflush(stream) == 0)
        return 0;
    const int error = errno != 0 ? errno : EIO;
    // A stream in error stays in error; clearing it lets a later write tell for itself.
    std::clearerr(stream);
    return error;
}

void putOut(const QString &text)
{
    const int error = put(stdout, text);
    if (error != 0 && outErrno == 0)
        outErrno = error;
}

} // namespace

namespace Console {

void out(const QString &line)
{
    putOut(line + u'\n');
}

void write(const QString &text)
{
    putOut(text);
}

QString printable(const QString &text, bool keepLines)
{
    QString safe = text;
    for (QChar &c : safe) {
        if (c.category() == QChar::Other_Control && !(keepLines && (c == u'\n' || c == u'\t')))
            c = QChar::ReplacementCharacter;
    }
    return safe;
}

QString outError()
{
    return outErrno == 0 ? QString() : QString::fromLocal8Bit(std::strerror(outErrno));
}

int finish(int code)
{
    if (outErrno == 0)
        return code;
    err(QStringLiteral("The output could not be written: %1.").arg(outError()));
    return code == 0 ? 1 : code;
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
