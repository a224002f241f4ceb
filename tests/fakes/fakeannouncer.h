#pragma once

#include "core/desktop/announcer.h"

#include <QStringList>

// An Announcer for unit tests: remembers every announcement, in order.
class FakeAnnouncer final : public Announcer
{
public:
    void announce(const QString &text) override { announced.append(text); }

    QStringList announced;
};
