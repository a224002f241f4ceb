#pragma once

#include "insert/clipboard.h"

// A clipboard in memory that counts its writes, so a test can tell "unchanged" from
// "written with the same text".
class FakeClipboard final : public Clipboard
{
public:
    void setText(const QString &text) override
    {
        m_text = text;
        ++writes;
    }
    void setPrimaryText(const QString &text) override
    {
        primary = text;
        ++primaryWrites;
    }
    QString text() const override { return m_text; }

    QString primary;
    int writes = 0;
    int primaryWrites = 0;

private:
    QString m_text;
};
