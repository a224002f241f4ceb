#pragma once

#include "core/desktop/clipboard.h"

// The clipboard of the running QGuiApplication. On X11 Murmel owns what it wrote until
// another application copies, so the text is only available while Murmel runs. A write
// counts when Qt owns the selection afterwards with that text.
class QtClipboard final : public Clipboard
{
public:
    bool setText(const QString &text) override;
    bool setPrimaryText(const QString &text) override;
};
