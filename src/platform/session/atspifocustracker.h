#pragma once

#include "core/desktop/focusprobe.h"

#include <QCoroTask>
#include <QDBusConnection>
#include <QObject>
#include <QString>

class QDBusMessage;

// Remembers whether the element that last took the keyboard focus accepts text, as the
// accessibility tree (AT-SPI) tells it. AT-SPI cannot be asked what has the focus now, so
// the focus events are followed from start() on; the answer is a hint, since many
// applications expose nothing, and focus can move to one of those without an event.
//
// Main thread only. Every bus call is asynchronous, so nothing here ever blocks. Without
// an accessibility bus (no at-spi2-core, or no session bus) the answer stays unknown.
class AtspiFocusTracker final : public QObject
{
    Q_OBJECT

public:
    // `sessionBus` is where the accessibility bus is looked up (org.a11y.Bus).
    explicit AtspiFocusTracker(QDBusConnection sessionBus = QDBusConnection::sessionBus(),
                               QObject *parent = nullptr);
    ~AtspiFocusTracker() override;

    // Connects to the accessibility bus and subscribes to focus events; finished() follows.
    void start();
    // Whether start() reached the accessibility bus and subscribed.
    bool isTracking() const { return m_tracking; }

    // What is known about the focused element. `windowProcess` is the process id of the
    // window that has the X focus (0 when unknown): when the last focus event came from
    // another process, the focus has since moved somewhere silent and the answer is unknown.
    FocusProbe::Editable editable(qint64 windowProcess = 0) const;

Q_SIGNALS:
    // start() has done what it could; isTracking() says whether it worked.
    void started();
    // A focus event was examined (for tests and diagnostics).
    void focusExamined();

private Q_SLOTS:
    void onStateChanged(const QDBusMessage &message);

private:
    QCoro::Task<void> connectToAccessibilityBus();
    QCoro::Task<void> examine(QString service, QString path, quint64 serial);

    QDBusConnection m_sessionBus;
    QString m_connectionName;
    bool m_tracking = false;
    // The element that has the focus, by bus name and object path, and what it said.
    QString m_focusService;
    QString m_focusPath;
    qint64 m_focusProcess = 0;
    FocusProbe::Editable m_editable = FocusProbe::Editable::unknown;
    // Numbers focus events, so a slow answer about an element that has lost the focus
    // since is dropped.
    quint64 m_serial = 0;
};
