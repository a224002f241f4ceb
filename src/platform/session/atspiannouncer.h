#pragma once

#include "core/desktop/announcer.h"

#include <QString>

// Announcements for screen readers over AT-SPI. Qt 6.4's bridge drops QAccessible::Alert,
// so the announcement event that newer bridges send is sent here by hand, on the connection
// Qt's bridge itself keeps to the accessibility bus: it only exists while assistive
// technology is active, and the event must come from the connection that owns our tree.
class AtspiAnnouncer final : public Announcer
{
public:
    // The name under which Qt's bridge registers its accessibility bus connection.
    static QString bridgeConnectionName() { return QStringLiteral("a11y"); }

    explicit AtspiAnnouncer(QString connectionName = bridgeConnectionName());

    void announce(const QString &text) override;

private:
    QString m_connectionName;
};
