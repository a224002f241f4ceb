#pragma once

#include <QString>

// The desktop's clipboard. Main thread only. On X11 the text lives in this process, which
// stays the owner until someone else copies.
class Clipboard
{
public:
    virtual ~Clipboard() = default;
    // Replaces the clipboard (the CLIPBOARD selection) with `text` as its only content.
    virtual void setText(const QString &text) = 0;
    // Also makes `text` the primary selection, which xterm's Shift+Insert pastes.
    virtual void setPrimaryText(const QString &text) = 0;
    virtual QString text() const = 0;
};
