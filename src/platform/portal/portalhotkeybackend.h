#pragma once

#include "core/desktop/hotkeybackend.h"

#include <QDBusConnection>
#include <QString>

class QDBusMessage;

// The global hotkey through the desktop's GlobalShortcuts portal, the way Wayland
// desktops let an application have a system-wide shortcut: one session with one
// shortcut, "dictate", whose preferred trigger is the hotkey. The desktop may ask the
// user to confirm it or let them pick another trigger; whatever they choose, an
// activation is reported as the hotkey going down and a deactivation as it coming up,
// carrying the hotkey's own key and modifiers. The desktop sends no auto-repeat.
//
// Binding is asynchronous: watch() starts it and returns, isActive() turns true when the
// desktop confirms, a refusal arrives through conflict(), and a desktop without a working
// portal through unusable(). Main thread only; nothing waits on the bus.
class PortalHotkeyBackend final : public HotkeyBackend
{
    Q_OBJECT

public:
    // The session bus normally; tests hand in a private bus with a stand-in portal.
    explicit PortalHotkeyBackend(QDBusConnection bus = QDBusConnection::sessionBus(), QObject *parent = nullptr);
    // Closes the session, so the desktop forgets the shortcut.
    ~PortalHotkeyBackend() override;

    QString name() const override;
    // The portal answers for the GlobalShortcuts interface (its "version" property).
    bool isAvailable() const override;
    bool watch(const std::optional<Shortcut> &shortcut) override;
    bool isActive() const override { return m_stage == Stage::bound; }

    // The hotkey in the shortcut notation the desktops share: "CTRL+ALT+space",
    // "LOGO+F1"; empty when the key has no name there.
    static QString preferredTrigger(const Shortcut &shortcut);

private Q_SLOTS:
    void onResponse(const QDBusMessage &message);
    void onActivated(const QDBusMessage &message);
    void onDeactivated(const QDBusMessage &message);
    void onSessionClosed(const QDBusMessage &message);

private:
    enum class Stage { idle, creatingSession, binding, bound };

    void createSession();
    void bindShortcuts();
    void closeSession();
    // Sends a portal call that answers through a Request object's Response signal.
    void request(const QString &method, const QList<QVariant> &arguments, const QString &token);
    void listenForResponse(const QString &path);
    void stopListeningForResponse();
    // What a failure takes away: this hotkey (the desktop refused it), or the whole backend
    // (the desktop's service cannot bind anything here; the next backend takes over).
    enum class Failure { hotkey, backend };
    void fail(const QString &message, Failure failure = Failure::hotkey);
    void setStage(Stage stage);
    QString newToken();
    bool isOurs(const QDBusMessage &message) const;

    QDBusConnection m_bus;
    std::optional<Shortcut> m_shortcut;
    Stage m_stage = Stage::idle;
    QString m_sessionHandle;
    // The Request object whose answer is awaited; a Response from any other is stale.
    QString m_pendingRequest;
    // The hotkey the user declined in the desktop's dialog: asking again for the same one
    // would put the dialog up at every retry.
    std::optional<Shortcut> m_declined;
    QString m_declinedMessage;
    bool m_listeningForActivation = false;
    bool m_keyDown = false;
    int m_tokenCounter = 0;
};
