#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <QCoroTask>
#include <QDateTime>
#include <QObject>
#include <QString>

class KeyboardInjector;

// Holds the latest dictation for a while instead of pasting it, so the user's clipboard
// stays as it was; `murmel insert-last` (the D-Bus method InsertLastDictation) later types
// it into the focused window. Only one dictation is held: a newer one replaces it.
//
// Main thread only. Who empties the hold besides a successful request: the dictation
// controller when a new recording starts, and whoever switches the clipboard-safe
// preference off (the settings screen), by calling clear(): the preferences have no change
// signal to watch, and a value switched off from the command line has nothing held to
// guard, since holding needs the running application.
class ClipboardSafeInsertService final : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;

    struct PendingDictation
    {
        QString text;
        QDateTime expiresAt;
    };

    // Why a request returned nothing; each case has the text the requester shows.
    enum class Error {
        notReady,   // nothing held, an empty text, or the hold has expired
        notReturned // the text could not be typed; it stays held for another try
    };

    // How long a held dictation can be inserted.
    static constexpr std::chrono::seconds lifetime{120};

    // `clock` gives the current time; the system clock unless a test steps it by hand.
    explicit ClipboardSafeInsertService(KeyboardInjector &injector, Clock clock = systemClock(),
                                        QObject *parent = nullptr);

    static Clock systemClock();
    static QString description(Error error);

    // Holds `text` until now + lifetime, replacing whatever was held.
    void hold(const QString &text);
    void clear();
    // The held dictation, expired or not, or nothing. While a request is typing the held
    // text it is out of the slot, so a second request cannot type it twice.
    std::optional<PendingDictation> pending() const { return m_pending; }

    // Types the held text into the focused window and empties the hold; an error when
    // there was nothing valid to type or typing failed.
    QCoro::Task<std::optional<Error>> insertLastDictation();

private:
    KeyboardInjector &m_injector;
    Clock m_clock;
    std::optional<PendingDictation> m_pending;
    // Counts every change of the slot, so a request that failed puts its text back only
    // when nothing newer was held or cleared while it typed.
    quint64 m_generation = 0;
};
