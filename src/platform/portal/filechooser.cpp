#include "platform/portal/filechooser.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QWindow>

FileChooser::FileChooser(QObject *parent)
    : QObject(parent)
{
}

FileChooser::~FileChooser()
{
    delete m_dialog;
}

bool FileChooser::raiseOpenDialog()
{
    if (!m_dialog)
        return false;
    m_dialog->raise();
    m_dialog->activateWindow();
    return true;
}

void FileChooser::chooseFile(const QString &title, const QStringList &nameFilters, QJSValue chosen)
{
    if (raiseOpenDialog())
        return;
    auto *dialog = new QFileDialog(nullptr, title);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setNameFilters(nameFilters);
    show(dialog, std::move(chosen));
}

void FileChooser::chooseSaveFile(const QString &title, const QUrl &proposed, const QString &nameFilter,
                                 QJSValue chosen)
{
    if (raiseOpenDialog())
        return;
    auto *dialog = new QFileDialog(nullptr, title);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setNameFilter(nameFilter);
    const QFileInfo file(proposed.toLocalFile());
    dialog->setDirectory(file.absolutePath());
    dialog->selectFile(file.fileName());
    show(dialog, std::move(chosen));
}

void FileChooser::show(QFileDialog *dialog, QJSValue chosen)
{
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    m_dialog = dialog;
    // The accepted dialog's selection, read once: the widget dialog and the desktop's own
    // report a choice through different signals.
    connect(dialog, &QDialog::accepted, this, [dialog, chosen]() mutable {
        const QUrl url = dialog->selectedUrls().value(0);
        if (chosen.isCallable() && url.isValid())
            chosen.call({QJSValue(url.toString())});
    });
    dialog->show();
    // Over the window the user was in, as a dialog of it.
    if (QWindow *owner = QGuiApplication::focusWindow(); owner && dialog->windowHandle())
        dialog->windowHandle()->setTransientParent(owner);
    dialog->raise();
    dialog->activateWindow();
}
