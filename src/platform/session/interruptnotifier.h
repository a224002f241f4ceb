#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into a Qt signal on the main thread, so a command can stop
// its work cleanly instead of dying mid-write. While one exists, those signals no longer
// end the process. Create at most one at a time, on the main thread.
class InterruptNotifier final : public QObject
{
    Q_OBJECT

public:
    explicit InterruptNotifier(QObject *parent = nullptr);
    ~InterruptNotifier() override;

Q_SIGNALS:
    void interrupted();

private:
    void drain();

    int m_fds[2] = {-1, -1};
    QSocketNotifier *m_notifier = nullptr;
};
