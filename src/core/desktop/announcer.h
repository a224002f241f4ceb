#pragma once

#include <QString>

// Tells screen readers about a change they cannot see, such as the dictation display
// switching to "Listening". Main thread only; without an accessibility bus nothing happens.
class Announcer
{
public:
    virtual ~Announcer() = default;
    virtual void announce(const QString &text) = 0;
};
