#include "core/hud/hudcontroller.h"

#include "core/desktop/announcer.h"
#include "core/desktop/hudpanel.h"

#include <algorithm>

HUDController::HUDController(HUDPanel &panel, Announcer &announcer, QObject *parent)
    : QObject(parent)
    , m_panel(panel)
    , m_announcer(announcer)
{
    // One timer holds the one pending hide, so restarting or stopping it is how a newer
    // request replaces an older one; it dies with the controller and never fires after it.
    m_hideTimer.setSingleShot(true);
    connect(&m_hideTimer, &QTimer::timeout, this, [this] { m_panel.dismiss(); });
}

bool HUDController::isVisible() const
{
    return m_panel.isVisible();
}

void HUDController::show()
{
    cancelPendingHide();
    m_model.setState(HUDModel::State::listening);
    m_model.setLevel(0.0f);
    m_panel.present(m_model);
    m_announcer.announce(QStringLiteral("Listening"));
}

void HUDController::confirm(const QString &text)
{
    m_model.setConfirmText(text);
    m_model.setState(HUDModel::State::done);
    m_announcer.announce(text);
    hide(confirmHideMs);
}

void HUDController::aim(const QString &text)
{
    cancelPendingHide();
    m_model.setConfirmText(text);
    m_model.setState(HUDModel::State::aiming);
    m_panel.present(m_model);
    m_announcer.announce(text);
}

void HUDController::hide(int ms)
{
    // A zero-interval single-shot timer fires at the next turn of the event loop, after the
    // events already queued, which is what hiding "at once" from inside a caller's sequence
    // needs; a negative delay means the same.
    m_hideTimer.start(std::max(ms, 0));
}

void HUDController::showWorking()
{
    m_model.setState(HUDModel::State::working);
    m_announcer.announce(QStringLiteral("Transcribing"));
}

void HUDController::setLevel(float level)
{
    // The meter keeps reporting between dictations; a hidden panel must not carry a stale
    // level into the next show().
    if (m_panel.isVisible())
        m_model.setLevel(level);
}

void HUDController::requestStop()
{
    Q_EMIT stopRequested();
}

void HUDController::cancelPendingHide()
{
    m_hideTimer.stop();
}
