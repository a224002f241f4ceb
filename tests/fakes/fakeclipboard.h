#pragma once

#include "core/desktop/clipboard.h"

// A clipboard in memory that counts its writes, so a test can tell "unchanged" from
// "written with the same text". With `refuses` set it keeps what it had and says so.
class FakeClipboard final : public Clipboard
{
public:
    bool setText(const QString &text) override
    {
        ++writes;
        if (refuses)
            return false;
        m_text = text;
        return true;
    }
    bool setPrimaryText(const QString &text) override
    {
        ++primaryWrites;
        if (refuses || refusesPrimary)
            return false;
        primary = text;
        return true;
    }
    QString text() const { return m_text; }

    QString primary;
    int writes = 0;
    int primaryWrites = 0;
    bool refuses = false;
    bool refusesPrimary = false;

private:
    QString m_text;
};
