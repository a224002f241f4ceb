#include "platform/session/atspiannouncer.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QVariantMap>

namespace {

// AT-SPI's politeness levels; a status change waits for the reader to finish its sentence.
constexpr int livePolite = 1;

} // namespace

AtspiAnnouncer::AtspiAnnouncer(QString connectionName)
    : m_connectionName(std::move(connectionName))
{
}

void AtspiAnnouncer::announce(const QString &text)
{
    QDBusConnection bus(m_connectionName);
    if (!bus.isConnected() || text.isEmpty())
        return;
    // The application's root accessible, which every AT-SPI event of an application may
    // name when no single widget is the source.
    QDBusMessage event = QDBusMessage::createSignal(QStringLiteral("/org/a11y/atspi/accessible/root"),
                                                    QStringLiteral("org.a11y.atspi.Event.Object"),
                                                    QStringLiteral("Announcement"));
    event << QString() << livePolite << 0 << QVariant::fromValue(QDBusVariant(text)) << QVariantMap();
    bus.send(event);
}
