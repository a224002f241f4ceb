#pragma once

#include <QFileDialog>
#include <QJSValue>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QUrl>


// The file screen's open and save dialogs. Where the desktop has its own chooser (through
// its platform theme or portal) Qt shows that one; otherwise Qt's widget dialog, which
// follows the desktop's palette. Qt Quick's own fallback dialog is not used: in Qt 6.4 it
// cannot be themed and turns unreadable on Murmel's dark palette.
//
// Dialogs are non-modal and one at a time: asking while one is open brings it forward.
// Main thread only.
class FileChooser final : public QObject
{
    Q_OBJECT

public:
    explicit FileChooser(QObject *parent = nullptr);
    ~FileChooser() override;

    // Calls `chosen` with the file's URL once the user picked one; nothing on cancel.
    Q_INVOKABLE void chooseFile(const QString &title, const QStringList &nameFilters, QJSValue chosen);
    // Proposes `proposed` (folder and name) and calls `chosen` with the URL to write to.
    Q_INVOKABLE void chooseSaveFile(const QString &title, const QUrl &proposed, const QString &nameFilter,
                                    QJSValue chosen);

    // The dialog on screen, if any; for tests.
    QFileDialog *dialog() const { return m_dialog; }

private:
    bool raiseOpenDialog();
    void show(QFileDialog *dialog, QJSValue chosen);

    QPointer<QFileDialog> m_dialog;
};
