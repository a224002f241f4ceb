#pragma once

#include "core/desktop/urlopener.h"

#include <QList>

// A UrlOpener for unit tests: records the addresses and answers as told.
class FakeUrlOpener final : public UrlOpener
{
public:
    bool open(const QUrl &url) override
    {
        opened.append(url);
        return answer;
    }

    QList<QUrl> opened;
    bool answer = true;
};
