#include "qtclipboard.h"

#include <QClipboard>
#include <QGuiApplication>

void QtClipboard::setText(const QString &text)
{
    QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
}

void QtClipboard::setPrimaryText(const QString &text)
{
    // Platforms without a primary selection ignore the request.
    QGuiApplication::clipboard()->setText(text, QClipboard::Selection);
}

QString QtClipboard::text() const
{
    return QGuiApplication::clipboard()->text(QClipboard::Clipboard);
}
