#pragma once

#include <QUrl>

// Hands a web or mail address to the desktop's default program for it.
class UrlOpener
{
public:
    virtual ~UrlOpener() = default;

    // False when the desktop has no program for it.
    virtual bool open(const QUrl &url) = 0;
};
