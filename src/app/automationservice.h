#pragma once

#include <QCoroTask>
#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>

class ClipboardSafeInsertService;
class QDBusMessage;

// Murmel's automation interface on the session bus: the object /app/murmel/Murmel with the
// interface app.murmel.Murmel, under the bus name app.murmel.Murmel. Scripts, the desktop's
// own keyboard shortcuts and the `murmel` commands reach the running application here.
//
// Main thread only. Methods that take time answer later (a delayed reply), so the event
// loop keeps turning meanwhile. Failures come back as D-Bus errors named
// app.murmel.Murmel.Error.* whose message is the text to show the user.
class AutomationService final : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.murmel.Murmel")

public:
    static QString serviceName() { return QStringLiteral("app.murmel.Murmel"); }
    static QString objectPath() { return QStringLiteral("/app/murmel/Murmel"); }
    static QString interfaceName() { return QStringLiteral("app.murmel.Murmel"); }
    // Nothing was held, or the hold expired.
    static QString notReadyError() { return QStringLiteral("app.murmel.Murmel.Error.NotReady"); }
    // The held text could not be typed; it is still held.
    static QString notReturnedError()
    {
        return QStringLiteral("app.murmel.Murmel.Error.NotReturned");
    }

    explicit AutomationService(ClipboardSafeInsertService &safeInsert, QObject *parent = nullptr);

    // Exports the object and takes the bus name. False when either failed, for instance
    // because another Murmel already owns the name; the reason is logged.
    bool registerOn(QDBusConnection connection);

public Q_SLOTS:
    // Types the dictation held for the clipboard-safe insert into the focused window.
    Q_SCRIPTABLE void InsertLastDictation();

private:
    QCoro::Task<void> answerInsertLastDictation(QDBusConnection connection, QDBusMessage request);

    ClipboardSafeInsertService &m_safeInsert;
};
