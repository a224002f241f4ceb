#pragma once

#include "core/desktop/clipboard.h"

// A clipboard in memory that counts its writes, so "unchanged" differs from "written again";
// `notShared`: the desktop never hands the new text to the other applications.
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
        if (refuses || refusesPrimary)
            return false;
        primary = text;
        return true;
    }
    QCoro::Task<bool> whenShared() override { co_return !notShared; }
    QString text() const { return m_text; }

    QString primary;
    int writes = 0;
    bool refuses = false;
    bool refusesPrimary = false;
    bool notShared = false;

private:
    QString m_text;
};
