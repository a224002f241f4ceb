#include "core/dictation/hotkeyrecorder.h"

#include "core/desktop/keyboardlayout.h"
#include "core/dictation/hotkeymonitor.h"
#include "core/dictation/keynames.h"

namespace {

constexpr int escapeKeyCode = 1;
// X11 and XKB number keys from 8, the kernel from 0.
constexpr int xkbKeyCodeOffset = 8;

} // namespace

HotkeyRecorder::HotkeyRecorder(HotkeyMonitor &monitor, Preferences &preferences, const KeyboardLayout *layout,
                               QObject *parent)
    : QObject(parent)
    , m_monitor(monitor)
    , m_preferences(preferences)
    , m_layout(layout)
    , m_display(activeDisplay())
{
    // The monitor may pick up the stored hotkey after this control was made.
    connect(&m_monitor, &HotkeyMonitor::shortcutChanged, this, [this] {
        if (!m_recording)
            setState(false, activeDisplay());
    });
}

QString HotkeyRecorder::pressKeyText()
{
    return QStringLiteral("Press a key…");
}

QString HotkeyRecorder::notSetText()
{
    return QStringLiteral("Not set");
}

QString HotkeyRecorder::helpText()
{
    return QStringLiteral("Click, then press any key or combo. Even a single Page Up works. Esc cancels.");
}

QString HotkeyRecorder::accessibilityLabel()
{
    return QStringLiteral("Dictation hotkey");
}

QString HotkeyRecorder::recordingAccessibilityValue()
{
    return QStringLiteral("Recording, press a key, or Escape to cancel");
}

QString HotkeyRecorder::clearText()
{
    return QStringLiteral("Clear the hotkey");
}

QString HotkeyRecorder::rowLabel()
{
    return QStringLiteral("Hotkey");
}

QString HotkeyRecorder::accessibilityValue() const
{
    return m_recording ? recordingAccessibilityValue() : m_display;
}

QString HotkeyRecorder::activeDisplay() const
{
    const std::optional<Shortcut> shortcut = m_monitor.shortcut();
    return shortcut ? shortcut->display : notSetText();
}

void HotkeyRecorder::setState(bool recording, const QString &display)
{
    const QString oldValue = accessibilityValue();
    const bool recordingChanges = recording != m_recording;
    const bool displayChanges = display != m_display;
    m_recording = recording;
    m_display = display;
    if (recordingChanges)
        Q_EMIT recordingChanged();
    if (displayChanges)
        Q_EMIT displayChanged();
    if (accessibilityValue() != oldValue)
        Q_EMIT accessibilityValueChanged();
}

void HotkeyRecorder::toggle()
{
    if (m_recording)
        cancel();
    else
        setState(true, pressKeyText());
}

bool HotkeyRecorder::capture(int keyCode, int modifiers, const QString &characters)
{
    if (!m_recording)
        return false;
    // A modifier on its own is the start of a combination, not one.
    if (KeyNames::isModifierKey(keyCode))
        return true;
    const int held = modifiers & Shortcut::modifierMask;
    if (keyCode == escapeKeyCode && held == 0) {
        cancel();
        return true;
    }
    if (!HotkeyMonitor::isValid(keyCode, held))
        return true;
    const Shortcut shortcut{keyCode, held, KeyNames::display(keyCode, held, characters)};
    m_monitor.setShortcut(shortcut);
    HotkeyMonitor::save(m_preferences, shortcut);
    setState(true, shortcut.display);
    cancel();
    return true;
}

bool HotkeyRecorder::captureQtKey(int nativeScanCode, int qtModifiers)
{
    if (!m_recording)
        return false;
    // Platforms without scan codes report 0: nothing can be recorded, but the key is
    // still kept from the window.
    const int keyCode = nativeScanCode - xkbKeyCodeOffset;
    if (keyCode <= 0)
        return true;
    const QString characters = m_layout ? m_layout->characters(keyCode) : QString();
    return capture(keyCode, KeyNames::modifiersFrom(Qt::KeyboardModifiers::fromInt(qtModifiers)), characters);
}

void HotkeyRecorder::cancel()
{
    const QString display = m_display == pressKeyText() ? activeDisplay() : m_display;
    setState(false, display);
}

void HotkeyRecorder::clear()
{
    m_monitor.setShortcut(std::nullopt);
    HotkeyMonitor::save(m_preferences, std::nullopt);
    setState(false, notSetText());
}
