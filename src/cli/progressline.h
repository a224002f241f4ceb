#pragma once

#include <QElapsedTimer>
#include <QString>

// A progress bar redrawn in place on standard error, for commands that run long. Draws
// only when standard error is a terminal, and at most a few times a second.
class ProgressLine final
{
public:
    explicit ProgressLine(QString label);
    ~ProgressLine();

    void update(double fraction);
    // Draws the final state and ends the line.
    void finish(double fraction);

    static QString bar(const QString &label, double fraction);

private:
    QString m_label;
    bool m_terminal;
    bool m_open = false;
    QElapsedTimer m_sinceDraw;
};
