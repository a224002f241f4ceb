#include "quickmainwindow.h"

#include "app/logging.h"

void QuickMainWindow::present()
{
    if (!m_window) {
        qCWarning(lcPlatform) << "the main window is not there to show";
        return;
    }
    if (m_window->windowStates() & Qt::WindowMinimized)
        m_window->showNormal();
    else
        m_window->show();
    m_window->raise();
    m_window->requestActivate();
}
