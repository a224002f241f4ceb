#pragma once

#include "core/desktop/mainwindowhost.h"

#include <QPointer>
#include <QWindow>

// The main window of the Qt Quick scene, presented on request.
//
// Main thread only. The window belongs to the QML engine; until it is set (or after the
// engine destroyed it) presenting does nothing but log.
class QuickMainWindow final : public MainWindowHost
{
public:
    void setWindow(QWindow *window) { m_window = window; }

    void present() override;
    void setActivationToken(const QString &token) override { m_activationToken = token; }

private:
    void handOverToken(const QString &token);

    QPointer<QWindow> m_window;
    QString m_activationToken;
};
