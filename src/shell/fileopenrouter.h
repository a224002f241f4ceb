#pragma once

#include <QObject>
#include <QUrl>

// The file most recently handed to Murmel from outside (`murmel FILE`, "Open with", a
// second launch), waiting for the file screen to take it. Holding it here rather than
// calling the screen directly lets a file arrive before the window has finished loading.
//
// Main thread only.
class FileOpenRouter final : public QObject
{
    Q_OBJECT
    // Empty when nothing waits.
    Q_PROPERTY(QUrl pendingUrl READ pendingUrl WRITE setPendingUrl NOTIFY pendingUrlChanged)

public:
    explicit FileOpenRouter(QObject *parent = nullptr)
        : QObject(parent)
    {}

    QUrl pendingUrl() const { return m_pendingUrl; }
    void setPendingUrl(const QUrl &url)
    {
        if (m_pendingUrl == url)
            return;
        m_pendingUrl = url;
        Q_EMIT pendingUrlChanged();
    }

    // The waiting file, which no longer waits.
    Q_INVOKABLE QUrl take()
    {
        const QUrl url = m_pendingUrl;
        setPendingUrl({});
        return url;
    }

Q_SIGNALS:
    void pendingUrlChanged();

private:
    QUrl m_pendingUrl;
};
