#include "gui/viewmodels/desktophotkey.h"

#include "core/base/logging.h"
#include "core/desktop/commandshortcut.h"
#include "core/dictation/desktopshortcut.h"
#include "core/dictation/hotkeymonitor.h"

#include <QCoroTask>
#include <QPointer>

#include <utility>

DesktopHotkey::DesktopHotkey(HotkeyMonitor &hotkeys, Desktop desktop, CommandShortcut *gnome, QObject *parent)
    : QObject(parent)
    , m_hotkeys(hotkeys)
    , m_desktop(desktop)
    , m_gnome(desktop == Desktop::gnome ? gnome : nullptr)
    , m_command(DesktopShortcut::toggleCommand())
{
    connect(&m_hotkeys, &HotkeyMonitor::activeChanged, this, &DesktopHotkey::changed);
    connect(&m_hotkeys, &HotkeyMonitor::conflictChanged, this, &DesktopHotkey::changed);
    connect(&m_hotkeys, &HotkeyMonitor::shortcutChanged, this, &DesktopHotkey::followHotkey);
}

bool DesktopHotkey::works() const
{
    return m_hotkeys.reach() == HotkeyMonitor::Reach::everywhere || (m_gnomeSet && m_hotkeys.shortcut());
}

QString DesktopHotkey::problem() const
{
    if (works())
        return {};
    const std::optional<Shortcut> shortcut = m_hotkeys.shortcut();
    if (!shortcut)
        return tr("No hotkey is set.");
    if (!m_hotkeys.conflict().isEmpty())
        return m_hotkeys.conflict();
    if (m_hotkeys.reach() == HotkeyMonitor::Reach::x11Windows)
        return tr("This desktop offers Murmel no global hotkey: %1 works only while an X11 application has the focus.")
            .arg(shortcut->display);
    return tr("This desktop offers Murmel no global hotkey.");
}

DesktopHotkey::Way DesktopHotkey::way() const
{
    if (m_hotkeys.reach() == HotkeyMonitor::Reach::everywhere || !m_hotkeys.shortcut())
        return Way::none;
    switch (m_desktop) {
    case Desktop::x11:
        // Another X client holds the keys; the conflict says so, and other keys are the way.
        return Way::none;
    case Desktop::gnome:
        return m_gnomeSupported ? Way::gnome : Way::other;
    case Desktop::wlroots:
        return Way::wlroots;
    case Desktop::kde:
    case Desktop::other:
        return Way::other;
    }
    return Way::other;
}

QString DesktopHotkey::swayLine() const
{
    const std::optional<Shortcut> shortcut = m_hotkeys.shortcut();
    return shortcut ? DesktopShortcut::swayBinding(*shortcut, m_command) : QString();
}

bool DesktopHotkey::holdToTalkPossible() const
{
    return m_hotkeys.reach() == HotkeyMonitor::Reach::everywhere;
}

void DesktopHotkey::refresh()
{
    if (!m_gnome)
        return;
    [](QPointer<DesktopHotkey> self, CommandShortcut *gnome) -> QCoro::Task<> {
        const bool supported = co_await gnome->isSupported();
        const bool set = supported && (co_await gnome->binding()).has_value();
        if (!self || (supported == self->m_gnomeSupported && set == self->m_gnomeSet))
            co_return;
        self->m_gnomeSupported = supported;
        self->m_gnomeSet = set;
        Q_EMIT self->changed();
    }(this, m_gnome);
}

void DesktopHotkey::addGnomeShortcut()
{
    const std::optional<Shortcut> shortcut = m_hotkeys.shortcut();
    if (!m_gnome || !shortcut || m_busy)
        return;
    m_busy = true;
    Q_EMIT changed();
    [](QPointer<DesktopHotkey> self, CommandShortcut *gnome, Shortcut keys, QString command) -> QCoro::Task<> {
        const bool written = co_await gnome->set(keys, command);
        if (!self)
            co_return;
        if (written)
            qCInfo(lcApp).noquote() << "GNOME keyboard shortcut" << keys.display << "now runs" << command;
        self->m_gnomeSet = written;
        self->finishWrite();
    }(this, m_gnome, *shortcut, m_command);
}

void DesktopHotkey::removeGnomeShortcut()
{
    if (!m_gnome || m_busy)
        return;
    m_busy = true;
    Q_EMIT changed();
    [](QPointer<DesktopHotkey> self, CommandShortcut *gnome) -> QCoro::Task<> {
        const bool removed = co_await gnome->remove();
        if (!self)
            co_return;
        self->m_gnomeSet = !removed;
        self->finishWrite();
    }(this, m_gnome);
}

void DesktopHotkey::finishWrite()
{
    m_busy = false;
    Q_EMIT changed();
    // The hotkey changed while GNOME was being written: the shortcut follows the latest keys.
    if (std::exchange(m_followAgain, false))
        followHotkey();
}

void DesktopHotkey::followHotkey()
{
    // The desktop's shortcut is Murmel's hotkey by other means: it changes and goes with it.
    if (m_busy) {
        m_followAgain = true;
        return;
    }
    if (m_gnomeSet) {
        if (m_hotkeys.shortcut())
            addGnomeShortcut();
        else
            removeGnomeShortcut();
    }
    Q_EMIT changed();
}
