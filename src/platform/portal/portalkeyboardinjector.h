#pragma once

#include "core/desktop/keyboardinjector.h"
#include "platform/x11/keyturns.h"

#include <QCoroTask>
#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <functional>

class QDBusMessage;

// Keys through the desktop's RemoteDesktop portal (GNOME, KDE): a session with keyboard
// access, which the desktop grants once in its own dialog. The grant is kept as the
// portal's restore token, so later sessions (the next start of Murmel) open without the
// dialog; the session lasts as long as Murmel's bus connection.
//
// Keys are sent as key symbols, so the paste chord does not depend on the layout; typing
// is refused, with nothing sent, for text with a character the layout lacks (`covers`),
// since the desktop drops such keys without saying so.
//
// Main thread only.
class PortalKeyboardInjector final : public QObject, public KeyboardInjector
{
    Q_OBJECT

public:
    struct Grant
    {
        // The restore token of the last grant, empty when there is none.
        std::function<QString()> read;
        std::function<void(const QString &)> write;
    };
    // Whether the user's layout has a key for each of the key symbols; absent: it has.
    using Coverage = std::function<bool(const QList<uint32_t> &keysyms)>;

    PortalKeyboardInjector(QDBusConnection bus, Grant grant, Coverage covers = {}, QObject *parent = nullptr);
    // Closes the session.
    ~PortalKeyboardInjector() override;

    // Opens a session. Unless `mayAsk`, only with the token of an earlier grant, so no dialog
    // appears unasked. Resolves with whether keys can be sent now.
    QCoro::Task<bool> openSession(bool mayAsk);

    bool isTrusted() const override { return !m_session.isEmpty(); }
    bool reaches(FocusProbe::Window window) const override;
    QCoro::Task<bool> paste(PasteKeys keys) override;
    QCoro::Task<bool> type(QString text) override;

Q_SIGNALS:
    // The session opened or closed.
    void trustChanged();

private Q_SLOTS:
    void onSessionClosed(const QDBusMessage &message);

private:
    QCoro::Task<bool> sendKeysyms(QList<QPair<uint32_t, bool>> keys);
    void setSession(const QString &session);

    QDBusConnection m_bus;
    Grant m_grant;
    Coverage m_covers;
    QString m_session;
    bool m_opening = false;
    KeyTurns m_turns;
};
