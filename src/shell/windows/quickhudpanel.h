#pragma once

#include "core/desktop/hudpanel.h"

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QTimer>

#include <memory>

class HUDController;
class QQuickView;
class QQuickWindow;

// The dictation display as a frameless, always-on-top Qt Quick window that never takes the
// keyboard focus, showing "qrc:/Murmel/HUD.qml" (the Murmel QML module must be linked into
// the program). Main thread only, under a QGuiApplication.
//
// The window is created by the first present() and kept for the life of the panel. If the
// QML cannot be loaded, the failure is logged once and the panel stays invisible; the
// dictation goes on without a display. A present() right after a dismiss() may put the window
// up a moment later, once the window system has taken the window down; isVisible() is true
// from the present() on.
class QuickHUDPanel final : public QObject, public HUDPanel
{
    Q_OBJECT

public:
    static constexpr int width = 260;
    static constexpr int height = 60;
    // Distance between the panel's bottom edge and the bottom of the available area, which
    // clears a bottom panel or dock.
    static constexpr int bottomMargin = 96;

    // `unmanaged`: bypass the window manager (override-redirect), for XWayland under a
    // compositor that focuses managed X11 windows whatever their hints (sway).
    explicit QuickHUDPanel(bool unmanaged = false, QObject *parent = nullptr);
    ~QuickHUDPanel() override;

    // The controller whose requestStop() the eye button calls; set it before the first
    // present(). Without one the button does nothing.
    void setController(HUDController *controller);

    void present(HUDModel &model) override;
    void dismiss() override;
    bool isVisible() const override;

    // The window once present() has made it, otherwise null. Click-to-insert asks it to tell
    // our own window from the application the user clicks into.
    QQuickWindow *window() const;

    // The panel's place on a screen whose available area is `available`: centred, its
    // bottom edge bottomMargin above the area's bottom.
    static QRect placement(const QRect &available);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool create(HUDModel &model);
    void place();
    void reveal();

    // Runs while a present() waits for the window system to take in the last dismiss(). It
    // outlives the view, whose events it is checked against.
    QTimer m_revealTimer;
    std::unique_ptr<QQuickView> m_view;
    QPointer<HUDController> m_controller;
    bool m_failed = false;
    bool m_unmanaged = false;
};
