#include "core/dictation/hotkeymonitor.h"

#include "core/base/logging.h"
#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"
#include "core/desktop/hotkeybackend.h"

#include <QJsonObject>
#include <QJsonValue>

#include <cmath>

namespace {

const QString keyCodeEntry = QStringLiteral("keyCode");
const QString modifiersEntry = QStringLiteral("modifiers");
const QString displayEntry = QStringLiteral("display");

// The highest evdev key code (KEY_MAX); nothing above it is a key.
constexpr int highestKeyCode = 0x2ff;

// A JSON number that is an int: the store keeps integers as doubles, so 57.5 or 1e12
// under "keyCode" is a value of the wrong type rather than something to round.
std::optional<int> integerValue(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::trunc(number) != number || std::fabs(number) > 2147483647.0)
        return std::nullopt;
    return static_cast<int>(number);
}

} // namespace

HotkeyMonitor::HotkeyMonitor(Preferences &preferences, const QList<HotkeyBackend *> &backends, QObject *parent)
    : QObject(parent)
    , m_preferences(preferences)
{
    // Backends are tried in order, each when the one before is unavailable or fails, and the
    // log says which one won and why the others did not, so a hotkey that does nothing can be
    // explained from it.
    for (HotkeyBackend *backend : backends) {
        if (backend)
            m_standby.append(backend);
    }
    useNext();
}

void HotkeyMonitor::useNext()
{
    while (!m_standby.isEmpty() && !m_standby.constFirst()->isAvailable()) {
        qCInfo(lcDictation) << "Global hotkey backend" << m_standby.constFirst()->name()
                            << "is not available in this session";
        m_standby.removeFirst();
    }
    if (m_standby.isEmpty()) {
        qCWarning(lcDictation) << "No way to watch a global hotkey in this session; bind \"murmel dictation toggle\""
                                  " in the desktop's own shortcut settings instead";
        return;
    }
    m_backend = m_standby.takeFirst();
    qCInfo(lcDictation) << "Global hotkey through" << m_backend->name();
    connect(m_backend, &HotkeyBackend::keyEvent, this, &HotkeyMonitor::handle);
    connect(m_backend, &HotkeyBackend::conflict, this, [this](const QString &message) {
        qCWarning(lcDictation) << "Global hotkey refused:" << message;
        setConflict(message);
        updateActive();
    });
    connect(m_backend, &HotkeyBackend::unusable, this, &HotkeyMonitor::fallBack);
    connect(m_backend, &HotkeyBackend::activeChanged, this, [this] { updateActive(); });
    // A backend that goes away takes the hotkey with it, but not the process.
    connect(m_backend, &QObject::destroyed, this, [this] {
        m_backend = nullptr;
        updateActive();
    });
}

void HotkeyMonitor::fallBack(const QString &reason)
{
    HotkeyBackend *failed = m_backend;
    if (!failed || sender() != failed)
        return;
    disconnect(failed, nullptr, this, nullptr);
    m_backend = nullptr;
    failed->watch(std::nullopt);
    qCWarning(lcDictation).noquote() << "Global hotkey backend" << failed->name() << "failed:" << reason;
    useNext();
    if (!m_backend) {
        setConflict(reason);
    } else if (m_watching && m_shortcut) {
        watchCurrent();
        return;
    }
    updateActive();
}

HotkeyMonitor::~HotkeyMonitor()
{
    if (m_backend && m_watching) {
        disconnect(m_backend, nullptr, this, nullptr);
        m_backend->watch(std::nullopt);
    }
}

HotkeyMonitor::Reach HotkeyMonitor::reach() const
{
    if (!m_active || !m_backend)
        return Reach::none;
    return m_backend->reachesEveryWindow() ? Reach::everywhere : Reach::x11Windows;
}

QString HotkeyMonitor::backendName() const
{
    return m_backend ? m_backend->name() : QString();
}

Shortcut HotkeyMonitor::defaultShortcut()
{
    return {57, Shortcut::control | Shortcut::alt, QStringLiteral("Ctrl+Alt+Space")};
}

bool HotkeyMonitor::isValid(int keyCode, int modifiers)
{
    return keyCode > 0 && keyCode <= highestKeyCode && (modifiers & ~Shortcut::modifierMask) == 0;
}

void HotkeyMonitor::start()
{
    if (!m_shortcut) {
        m_shortcut = load(m_preferences).value_or(defaultShortcut());
        Q_EMIT shortcutChanged();
    }
    ensureTap();
}

void HotkeyMonitor::ensureTap()
{
    m_watching = true;
    if (!m_backend || m_backend->isActive() || !m_shortcut)
        return;
    watchCurrent();
}

void HotkeyMonitor::setShortcut(const std::optional<Shortcut> &shortcut)
{
    if (shortcut == m_shortcut)
        return;
    m_shortcut = shortcut;
    Q_EMIT shortcutChanged();
    if (m_watching && m_backend)
        watchCurrent();
}

void HotkeyMonitor::watchCurrent()
{
    if (m_backend->watch(m_shortcut))
        setConflict({});
    updateActive();
}

void HotkeyMonitor::updateActive()
{
    const bool active = m_backend && m_shortcut && m_backend->isActive();
    if (active)
        setConflict({});
    if (active == m_active)
        return;
    m_active = active;
    Q_EMIT activeChanged();
}

void HotkeyMonitor::setConflict(const QString &message)
{
    if (message == m_conflict)
        return;
    m_conflict = message;
    Q_EMIT conflictChanged();
}

void HotkeyMonitor::handle(const HotkeyEvent &event)
{
    if (!m_shortcut)
        return;
    // Exact match: Ctrl+Alt+Shift+Space is not Ctrl+Alt+Space, and a key that comes up
    // after one of its modifiers was let go is no release of the combination.
    if (event.keyCode != m_shortcut->keyCode || (event.modifiers & Shortcut::modifierMask) != m_shortcut->modifiers)
        return;
    // Copies, so a callback that replaces the callbacks does not destroy itself mid-call.
    if (event.type == HotkeyEvent::Type::keyUp) {
        if (const auto callback = onKeyUp)
            callback();
        return;
    }
    if (event.autoRepeat)
        return;
    if (const auto callback = onKeyDown)
        callback();
}

std::optional<Shortcut> HotkeyMonitor::load(const Preferences &preferences)
{
    const std::optional<QJsonObject> stored = preferences.dictionary(PreferenceKeys::dictateHotkey);
    if (!stored)
        return std::nullopt;
    const std::optional<int> keyCode = integerValue(stored->value(keyCodeEntry));
    const std::optional<int> modifiers = integerValue(stored->value(modifiersEntry));
    const QJsonValue display = stored->value(displayEntry);
    if (!keyCode || !modifiers || !display.isString() || !isValid(*keyCode, *modifiers))
        return std::nullopt;
    return Shortcut{*keyCode, *modifiers, display.toString()};
}

bool HotkeyMonitor::save(Preferences &preferences, const std::optional<Shortcut> &shortcut)
{
    QString error;
    const bool saved = shortcut
        ? preferences.setDictionary(PreferenceKeys::dictateHotkey, QJsonObject{{keyCodeEntry, shortcut->keyCode},
                                                                                {modifiersEntry, shortcut->modifiers},
                                                                                {displayEntry, shortcut->display}},
                                    &error)
        : preferences.remove(PreferenceKeys::dictateHotkey, &error);
    if (!saved)
        qCWarning(lcDictation) << "The hotkey was not saved:" << error;
    return saved;
}
