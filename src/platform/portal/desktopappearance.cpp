#include "platform/portal/desktopappearance.h"

#include "core/base/logging.h"

#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");

const QString appearanceNamespace = QStringLiteral("org.freedesktop.appearance");
const QString gnomeA11yNamespace = QStringLiteral("org.gnome.desktop.a11y.interface");
const QString gnomeInterfaceNamespace = QStringLiteral("org.gnome.desktop.interface");
const QString kdeNamespace = QStringLiteral("org.kde.kdeglobals.KDE");

const QString contrastKey = QStringLiteral("contrast");
const QString highContrastKey = QStringLiteral("high-contrast");
const QString animationsKey = QStringLiteral("enable-animations");
const QString animationFactorKey = QStringLiteral("AnimationDurationFactor");

struct Setting
{
    const QString &nameSpace;
    const QString &key;
};

const Setting watchedSettings[] = {
    {appearanceNamespace, contrastKey},
    {gnomeA11yNamespace, highContrastKey},
    {gnomeInterfaceNamespace, animationsKey},
    {kdeNamespace, animationFactorKey},
};

// Read() of the first portal versions wraps the value in a second variant; ReadAll and the
// change signal do not. Peel until the value itself shows.
QVariant unwrapped(QVariant value)
{
    while (value.metaType() == QMetaType::fromType<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    return value;
}

// A desktop that stores settings as text hands "true" or "0" over as strings.
std::optional<bool> toBool(const QVariant &value)
{
    if (value.metaType() == QMetaType::fromType<bool>())
        return value.toBool();
    if (value.metaType() == QMetaType::fromType<QString>()) {
        const QString text = value.toString().trimmed().toLower();
        if (text == u"true")
            return true;
        if (text == u"false")
            return false;
    }
    return std::nullopt;
}

std::optional<double> toNumber(const QVariant &value)
{
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok || value.metaType() == QMetaType::fromType<bool>())
        return std::nullopt;
    return number;
}

// Errors that mean nobody can answer, as opposed to a setting the desktop lacks.
bool portalMissing(const QDBusError &error)
{
    switch (error.type()) {
    case QDBusError::ServiceUnknown:
    case QDBusError::UnknownObject:
    case QDBusError::UnknownInterface:
    case QDBusError::UnknownMethod:
    case QDBusError::NoReply:
    case QDBusError::Timeout:
    case QDBusError::Disconnected:
        return true;
    default:
        return false;
    }
}

} // namespace

DesktopAppearance::DesktopAppearance(QDBusConnection bus, QObject *parent)
    : QObject(parent)
    , m_bus(std::move(bus))
{
}

void DesktopAppearance::start()
{
    if (m_started)
        return;
    m_started = true;
    if (!m_bus.isConnected()) {
        giveUp(QStringLiteral("no session bus"));
        return;
    }
    // Subscribed before reading, so a change made while the read is under way is not lost:
    // it either lands in the answer or arrives as a signal afterwards.
    m_bus.connect(portalService, portalPath, settingsInterface, QStringLiteral("SettingChanged"), this,
                  SLOT(onSettingChanged(QString, QString, QDBusVariant)));
    readAll();
}

void DesktopAppearance::readAll()
{
    QDBusMessage call = QDBusMessage::createMethodCall(portalService, portalPath, settingsInterface,
                                                       QStringLiteral("ReadAll"));
    call << QStringList{appearanceNamespace, gnomeA11yNamespace, gnomeInterfaceNamespace, kdeNamespace};
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        const QDBusMessage reply = watcher->reply();
        if (reply.type() == QDBusMessage::ErrorMessage) {
            const QDBusError error(reply);
            if (error.type() == QDBusError::UnknownMethod) {
                readEach();
                return;
            }
            giveUp(error.message());
            return;
        }
        // a{sa{sv}}: namespace → key → value.
        const QDBusArgument argument = reply.arguments().value(0).value<QDBusArgument>();
        argument.beginMap();
        while (!argument.atEnd()) {
            QString nameSpace;
            QVariantMap values;
            argument.beginMapEntry();
            argument >> nameSpace >> values;
            argument.endMapEntry();
            for (auto it = values.cbegin(); it != values.cend(); ++it)
                apply(nameSpace, it.key(), it.value());
        }
        argument.endMap();
        setStatus(Status::following);
        update();
    });
}

void DesktopAppearance::readEach()
{
    m_pendingReads = int(std::size(watchedSettings));
    for (const Setting &setting : watchedSettings) {
        QDBusMessage call = QDBusMessage::createMethodCall(portalService, portalPath, settingsInterface,
                                                           QStringLiteral("Read"));
        call << setting.nameSpace << setting.key;
        auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, setting] {
            watcher->deleteLater();
            const QDBusMessage reply = watcher->reply();
            if (reply.type() == QDBusMessage::ErrorMessage) {
                // A key the desktop does not have answers NotFound; that is an answer too.
                if (!portalMissing(QDBusError(reply)))
                    m_anyReadAnswered = true;
            } else {
                m_anyReadAnswered = true;
                apply(setting.nameSpace, setting.key, reply.arguments().value(0));
            }
            if (--m_pendingReads > 0)
                return;
            if (m_anyReadAnswered) {
                setStatus(Status::following);
                update();
            } else {
                giveUp(QDBusError(reply).message());
            }
        });
    }
}

void DesktopAppearance::onSettingChanged(const QString &nameSpace, const QString &key, const QDBusVariant &value)
{
    // A portal that answers now after failing at start (it was restarting, or came up after
    // us) is read afresh rather than pieced together from single changes.
    if (m_status == Status::unavailable) {
        setStatus(Status::reading);
        readAll();
        return;
    }
    apply(nameSpace, key, value.variant());
    // A change that arrives before the first answer waits for it, so the properties never
    // show a half-read state.
    if (m_status == Status::following)
        update();
}

void DesktopAppearance::apply(const QString &nameSpace, const QString &key, const QVariant &value)
{
    const QVariant plain = unwrapped(value);
    if (nameSpace == appearanceNamespace && key == contrastKey) {
        // 0 is "no preference", 1 "higher contrast"; anything else is not ours to guess.
        const std::optional<double> contrast = toNumber(plain);
        m_contrastHigh = contrast ? std::optional<bool>(*contrast == 1) : std::nullopt;
    } else if (nameSpace == gnomeA11yNamespace && key == highContrastKey) {
        m_gnomeHighContrast = toBool(plain);
    } else if (nameSpace == gnomeInterfaceNamespace && key == animationsKey) {
        m_gnomeAnimations = toBool(plain);
    } else if (nameSpace == kdeNamespace && key == animationFactorKey) {
        m_kdeAnimationFactor = toNumber(plain);
    }
}

void DesktopAppearance::update()
{
    const bool highContrast = m_contrastHigh.value_or(false) || m_gnomeHighContrast.value_or(false);
    // KDE's slider stores "instant" as a factor of exactly 0.
    const bool reduceMotion = !m_gnomeAnimations.value_or(true)
        || (m_kdeAnimationFactor.has_value() && *m_kdeAnimationFactor <= 0);
    if (highContrast != m_highContrast) {
        m_highContrast = highContrast;
        Q_EMIT highContrastChanged();
    }
    if (reduceMotion != m_reduceMotion) {
        m_reduceMotion = reduceMotion;
        Q_EMIT reduceMotionChanged();
    }
}

void DesktopAppearance::giveUp(const QString &reason)
{
    qCInfo(lcPlatform) << "No desktop settings portal, so contrast and motion keep their defaults:" << reason;
    m_contrastHigh.reset();
    m_gnomeHighContrast.reset();
    m_gnomeAnimations.reset();
    m_kdeAnimationFactor.reset();
    update();
    setStatus(Status::unavailable);
}

void DesktopAppearance::setStatus(Status status)
{
    if (status == m_status)
        return;
    m_status = status;
    Q_EMIT statusChanged();
}
