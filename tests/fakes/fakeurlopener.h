#pragma once

#include "core/desktop/urlopener.h"

// A UrlOpener for tests, which opens nothing.
class FakeUrlOpener final : public UrlOpener
{
public:
    bool open(const QUrl &) override { return true; }
};
