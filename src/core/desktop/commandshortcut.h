#pragma once

#include "core/desktop/shortcut.h"

#include <optional>
#include <QCoroTask>
#include <QString>

// One keyboard shortcut of the desktop's own that runs a command, for desktops that watch
// keys for their own shortcuts but offer Murmel no hotkey of its own. Implementations
// write only Murmel's own entry and count a change only once it reads back.
class CommandShortcut
{
public:
    virtual ~CommandShortcut() = default;

    // Whether this desktop keeps such shortcuts at all.
    virtual QCoro::Task<bool> isSupported() = 0;
    // The desktop's text for the keys of Murmel's entry while there is one.
    virtual QCoro::Task<std::optional<QString>> binding() = 0;
    // True only when the entry reads back with these keys.
    virtual QCoro::Task<bool> set(Shortcut shortcut, QString command) = 0;
    // True when no entry is left, including when there never was one.
    virtual QCoro::Task<bool> remove() = 0;
};
