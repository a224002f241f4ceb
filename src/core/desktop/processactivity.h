#pragma once

#include <QString>

#include <memory>

// Keeps the system from idling or suspending while Murmel works for the user. Main thread
// only. Where the system offers nothing of the kind, begin() holds nothing.
class ProcessActivity
{
public:
    // Held while alive; destroying it ends the activity.
    class Token
    {
    public:
        virtual ~Token() = default;
    };

    virtual ~ProcessActivity() = default;
    virtual std::unique_ptr<Token> begin(const QString &reason) = 0;
};
