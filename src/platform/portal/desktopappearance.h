#pragma once

#include <QDBusConnection>
#include <QDBusVariant>
#include <QObject>
#include <QString>
#include <QVariant>

#include <optional>

// The desktop's wishes for increased contrast and reduced motion, read from the XDG
// Settings portal and followed live as the user changes them. Each desktop keeps them
// under its own keys; any one of them asking is enough:
//   high contrast  org.freedesktop.appearance contrast = 1,
//                  org.gnome.desktop.a11y.interface high-contrast = true
//   reduce motion  org.gnome.desktop.interface enable-animations = false,
//                  org.kde.kdeglobals.KDE AnimationDurationFactor = 0
//
// Main thread only. Nothing waits on the bus: start() sends the first read and returns, the
// values arrive later with their change signals. Without a portal both stay false, the
// status says so and the log says it once.
class DesktopAppearance final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool highContrast READ highContrast NOTIFY highContrastChanged)
    Q_PROPERTY(bool reduceMotion READ reduceMotion NOTIFY reduceMotionChanged)
    Q_PROPERTY(Status status READ status NOTIFY statusChanged)

public:
    enum class Status {
        // start() has not been called, or the first answer has not arrived.
        reading,
        // The portal answered; the properties follow it.
        following,
        // No portal on the bus, or it cannot read settings: both wishes are false.
        unavailable,
    };
    Q_ENUM(Status)

    // The session bus normally; tests hand in a private bus with a stand-in portal.
    explicit DesktopAppearance(QDBusConnection bus = QDBusConnection::sessionBus(), QObject *parent = nullptr);

    // Subscribes to changes and asks for the current values. Call once.
    void start();

    bool highContrast() const { return m_highContrast; }
    bool reduceMotion() const { return m_reduceMotion; }
    Status status() const { return m_status; }

Q_SIGNALS:
    void highContrastChanged();
    void reduceMotionChanged();
    void statusChanged();

private Q_SLOTS:
    void onSettingChanged(const QString &nameSpace, const QString &key, const QDBusVariant &value);

private:
    void readAll();
    // The fallback for portals older than ReadAll: one Read per key.
    void readEach();
    void apply(const QString &nameSpace, const QString &key, const QVariant &value);
    void update();
    void giveUp(const QString &reason);
    void setStatus(Status status);

    QDBusConnection m_bus;
    // What each key said; unset when the desktop does not have it.
    std::optional<bool> m_contrastHigh;
    std::optional<bool> m_gnomeHighContrast;
    std::optional<bool> m_gnomeAnimations;
    std::optional<double> m_kdeAnimationFactor;
    bool m_highContrast = false;
    bool m_reduceMotion = false;
    Status m_status = Status::reading;
    bool m_started = false;
    int m_pendingReads = 0;
    bool m_anyReadAnswered = false;
};
