#pragma once

#include "core/desktop/processactivity.h"

#include <QStringList>

// A ProcessActivity for unit tests: counts the activities begun and those still held.
class FakeProcessActivity final : public ProcessActivity
{
public:
    std::unique_ptr<Token> begin(const QString &reason) override
    {
        reasons.append(reason);
        return std::make_unique<HeldToken>(held);
    }

    QStringList reasons;
    int held = 0;

private:
    struct HeldToken final : Token
    {
        explicit HeldToken(int &count) : held(count) { ++held; }
        ~HeldToken() override { --held; }
        int &held;
    };
};
