#include "platform/session/qtclipboard.h"

#include <QClipboard>
#include <QGuiApplication>

namespace {

bool write(QClipboard::Mode mode, const QString &text)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (mode == QClipboard::Selection && !clipboard->supportsSelection())
        return false;
    clipboard->setText(text, mode);
    const bool owned = mode == QClipboard::Selection ? clipboard->ownsSelection() : clipboard->ownsClipboard();
    return owned && clipboard->text(mode) == text;
}

} // namespace

bool QtClipboard::setText(const QString &text)
{
    return write(QClipboard::Clipboard, text);
}

bool QtClipboard::setPrimaryText(const QString &text)
{
    return write(QClipboard::Selection, text);
}
