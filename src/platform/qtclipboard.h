#pragma once

#include "insert/clipboard.h"

// The clipboard of the running QGuiApplication. On X11 Murmel owns what it wrote until
// another application copies, so the text is only available while Murmel runs.
class QtClipboard final : public Clipboard
{
public:
    void setText(const QString &text) override;
    void setPrimaryText(const QString &text) override;
    QString text() const override;
};
