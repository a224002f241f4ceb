#pragma once

#include "core/desktop/urlopener.h"

// Opens addresses with the desktop's default programs (xdg-open, or the portal inside a
// sandbox), as QDesktopServices chooses.
class DesktopUrlOpener final : public UrlOpener
{
public:
    bool open(const QUrl &url) override;
};
