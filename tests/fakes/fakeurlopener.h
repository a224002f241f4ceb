#pragma once

#include "core/desktop/urlopener.h"

#include <QList>

// A UrlOpener for unit tests: records the addresses.
class FakeUrlOpener final : public UrlOpener
{
public:
    bool open(const QUrl &url) override
    {
        opened.append(url);
        return true;
    }

    QList<QUrl> opened;
};
