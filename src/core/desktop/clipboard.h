#pragma once

#include <QCoroTask>
#include <QString>

// The desktop's clipboard. Main thread only. A write counts only when the clipboard holds
// the text afterwards (read back, or owned by us with that text): a desktop may ignore a
// write without saying so, and pasting after such a write would paste something else.
class Clipboard
{
public:
    virtual ~Clipboard() = default;
    // Replaces the clipboard (the CLIPBOARD selection) with `text` as its only content;
    // false when the clipboard does not hold it afterwards.
    virtual bool setText(const QString &text) = 0;
    // Also makes `text` the primary selection, which xterm's Shift+Insert pastes; false
    // when the primary selection does not hold it afterwards (or there is none).
    virtual bool setPrimaryText(const QString &text) = 0;
    // Whether every application would now paste the last setText(): at once where the write
    // itself reaches them all; where the desktop copies it over to other clients (mutter
    // from XWayland to Wayland), true once it has, false when it has not after a short wait.
    // Keys that paste before may paste the clipboard as it was.
    virtual QCoro::Task<bool> whenShared() { co_return true; }
};
