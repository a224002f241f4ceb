#pragma once

#include <QObject>
#include <QString>

class HotkeyMonitor;
class KeyboardLayout;
class Preferences;

// The settings control that records a new dictation hotkey: one click starts recording,
// the next key press (with whatever modifiers are held) becomes the hotkey at once and is
// stored; Esc alone cancels and keeps the old one. While recording, the view hands every
// key press to capture() or captureQtKey() and drops the ones they consume, so nothing
// types into the window.
//
// Main thread only. The monitor, the preferences and the layout must outlive the recorder;
// the layout may be null, and keys are then named by their special name or code only.
class HotkeyRecorder final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool recording READ isRecording NOTIFY recordingChanged)
    // The main button's text: "Press a key…" while recording, else the hotkey or "Not set".
    Q_PROPERTY(QString display READ display NOTIFY displayChanged)
    Q_PROPERTY(QString accessibilityValue READ accessibilityValue NOTIFY accessibilityValueChanged)
    Q_PROPERTY(QString helpText READ helpText CONSTANT)
    Q_PROPERTY(QString accessibilityLabel READ accessibilityLabel CONSTANT)
    Q_PROPERTY(QString clearText READ clearText CONSTANT)
    Q_PROPERTY(QString rowLabel READ rowLabel CONSTANT)

public:
    HotkeyRecorder(HotkeyMonitor &monitor, Preferences &preferences, const KeyboardLayout *layout,
                   QObject *parent = nullptr);

    bool isRecording() const { return m_recording; }
    QString display() const { return m_display; }
    QString accessibilityValue() const;

    static QString pressKeyText();
    static QString notSetText();
    static QString helpText();
    static QString accessibilityLabel();
    static QString recordingAccessibilityValue();
    static QString clearText();
    static QString rowLabel();

    // The main button: starts recording, or cancels a recording in progress.
    Q_INVOKABLE void toggle();
    // A key press while recording, as an evdev code, Shortcut modifier bits and the key's
    // characters without modifiers. True when the press was meant for the recorder (and
    // must not reach the window): every press while recording, even one that records
    // nothing, such as a lone modifier key.
    Q_INVOKABLE bool capture(int keyCode, int modifiers, const QString &characters);
    // The same for a Qt key event: its native scan code (the X11 or XKB key code, the
    // evdev code plus 8) and its Qt modifiers; the characters come from the layout.
    Q_INVOKABLE bool captureQtKey(int nativeScanCode, int qtModifiers);
    // Stops recording; the button shows the active hotkey again.
    Q_INVOKABLE void cancel();
    // Turns the hotkey off at once and removes it from the preferences; the next start of
    // the application uses the default again.
    Q_INVOKABLE void clear();

Q_SIGNALS:
    void recordingChanged();
    void displayChanged();
    void accessibilityValueChanged();

private:
    QString activeDisplay() const;
    void setState(bool recording, const QString &display);

    HotkeyMonitor &m_monitor;
    Preferences &m_preferences;
    const KeyboardLayout *m_layout;
    bool m_recording = false;
    QString m_display;
};
