#include "shell/windows/quickhudpanel.h"

#include "core/base/logging.h"
#include "core/hud/hudcontroller.h"
#include "core/hud/hudmodel.h"

#include <QGuiApplication>
#include <QQmlError>
#include <QQuickItem>
#include <QQuickView>
#include <QScreen>
#include <QSurfaceFormat>

namespace {

// Qt's xcb plugin reads this window property when it creates the native window and writes
// the matching _NET_WM_WINDOW_TYPE (its private QXcbWindow::Notification value). A
// notification is what window managers lift above a focused full-screen window (KWin puts
// it in its notification layer) and never hand the focus to. openbox has no such layer: a
// focused full-screen window sits in a layer above every _NET_WM_STATE_ABOVE window, so
// there the panel is above all ordinary windows but not above full-screen ones.
constexpr char windowTypeProperty[] = "_q_xcb_wm_window_type";
constexpr int notificationWindowType = 0x000800;
// Makes Qt's xcb plugin map the window with _NET_WM_USER_TIME 0, which tells the window
// manager not to focus it; WindowDoesNotAcceptFocus alone also clears the input hint.
constexpr char showWithoutActivatingProperty[] = "_q_showWithoutActivating";

} // namespace

QuickHUDPanel::QuickHUDPanel(bool unmanaged, QObject *parent)
    : QObject(parent)
    , m_unmanaged(unmanaged)
{
    // Long past the window system's answer to a hide, and short enough to pass unnoticed;
    // it only matters when the answer never comes (sway's X window manager can map a window
    // whose hide overtook its show, and then no unmapping follows).
    m_revealTimer.setSingleShot(true);
    m_revealTimer.setInterval(200);
    connect(&m_revealTimer, &QTimer::timeout, this, &QuickHUDPanel::reveal);
}

QuickHUDPanel::~QuickHUDPanel() = default;

void QuickHUDPanel::setController(HUDController *controller)
{
    m_controller = controller;
    if (m_view && m_view->rootObject())
        m_view->rootObject()->setProperty("controller", QVariant::fromValue<QObject *>(controller));
}

QRect QuickHUDPanel::placement(const QRect &available)
{
    const int x = available.x() + (available.width() - width) / 2;
    const int y = available.y() + available.height() - bottomMargin - height;
    return {x, y, width, height};
}

bool QuickHUDPanel::create(HUDModel &model)
{
    auto view = std::make_unique<QQuickView>();
    view->setTitle(tr("Murmel dictation"));
    // Tool keeps it out of the task bar; StaysOnTop asks for _NET_WM_STATE_ABOVE; and
    // without DoesNotAcceptFocus openbox hands it the focus when it appears, so the user's
    // typing would go nowhere. Some window managers (sway's, for XWayland) focus a managed
    // window whatever its hints: bypassing the manager (override-redirect) is the one way
    // no X11 window manager ever focuses or moves it.
    Qt::WindowFlags flags = Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus;
    if (m_unmanaged)
        flags |= Qt::BypassWindowManagerHint;
    view->setFlags(flags);
    view->setProperty(windowTypeProperty, notificationWindowType);
    view->setProperty(showWithoutActivatingProperty, true);

    // The plate has rounded corners; outside it the window is see-through where a
    // compositor runs.
    QSurfaceFormat format = view->format();
    format.setAlphaBufferSize(8);
    view->setFormat(format);
    view->setColor(Qt::transparent);

    view->setResizeMode(QQuickView::SizeRootObjectToView);
    view->setInitialProperties({
        {QStringLiteral("hudModel"), QVariant::fromValue<QObject *>(&model)},
        {QStringLiteral("controller"), QVariant::fromValue<QObject *>(m_controller.data())},
    });
    view->setSource(QUrl(QStringLiteral("qrc:/Murmel/HUD.qml")));
    if (view->status() != QQuickView::Ready || !view->rootObject()) {
        QStringList messages;
        for (const QQmlError &error : view->errors())
            messages << error.toString();
        qCWarning(lcPlatform) << "The dictation display could not be loaded:" << messages.join(u"; ");
        return false;
    }
    view->resize(width, height);
    view->setMinimumSize({width, height});
    view->setMaximumSize({width, height});
    view->installEventFilter(this);
    m_view = std::move(view);
    return true;
}

void QuickHUDPanel::place()
{
    // Without a screen the window stays where it was last put.
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        m_view->setScreen(screen);
        m_view->setGeometry(placement(screen->availableGeometry()));
    }
}

void QuickHUDPanel::present(HUDModel &model)
{
    if (!m_view) {
        if (m_failed)
            return;
        if (!create(model)) {
            m_failed = true;
            return;
        }
    }
    QQuickItem *root = m_view->rootObject();
    if (root->property("hudModel").value<QObject *>() != &model)
        root->setProperty("hudModel", QVariant::fromValue<QObject *>(&model));
    // Exposure reaches the window as queued events, each saying what the window system
    // thought when it was sent. Shown again before the last hide has come through, the
    // window takes an exposure of its old surface for the new one: on Wayland Qt Quick then
    // draws into a surface the compositor has not configured, a protocol error that ends the
    // connection; on X11 Qt takes the window for still mapped and skips its window manager
    // state. So the window comes up once the hide is through.
    if (!m_view->isVisible() && m_view->isExposed()) {
        m_revealTimer.start();
        return;
    }
    reveal();
}

void QuickHUDPanel::reveal()
{
    m_revealTimer.stop();
    place();
    m_view->show();
    // Above the other always-on-top windows too, without activating anything.
    m_view->raise();
}

void QuickHUDPanel::dismiss()
{
    m_revealTimer.stop();
    if (m_view)
        m_view->hide();
}

bool QuickHUDPanel::isVisible() const
{
    return m_view && (m_view->isVisible() || m_revealTimer.isActive());
}

bool QuickHUDPanel::eventFilter(QObject *watched, QEvent *event)
{
    // The hide's own unexposure comes after every exposure sent before it.
    if (m_revealTimer.isActive() && event->type() == QEvent::Expose && !m_view->isExposed())
        reveal();
    return QObject::eventFilter(watched, event);
}

QQuickWindow *QuickHUDPanel::window() const
{
    return m_view.get();
}
