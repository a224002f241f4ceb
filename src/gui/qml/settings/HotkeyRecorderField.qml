import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Murmel

// The hotkey recorder: one click listens for the next key press, which becomes the hotkey;
// Esc alone cancels. While listening every key goes to the recorder, never to the window.
RowLayout {
    id: field
    required property QtObject recorder
    spacing: 6

    Button {
        id: main
        objectName: "hotkeyButton"
        text: field.recorder.display
        checkable: false
        Accessible.name: field.recorder.accessibilityLabel
        Accessible.description: field.recorder.accessibilityValue
        ToolTip.visible: hovered
        ToolTip.text: field.recorder.helpText
        onClicked: field.recorder.toggle()

        Keys.onPressed: event => {
            if (field.recorder.recording)
                event.accepted = field.recorder.captureQtKey(event.nativeScanCode, event.modifiers)
        }
        // Losing the focus while listening would leave a recording nobody can finish.
        onActiveFocusChanged: if (!activeFocus && field.recorder.recording) field.recorder.cancel()
        Connections {
            target: field.recorder
            function onRecordingChanged() { if (field.recorder.recording) main.forceActiveFocus() }
        }
    }
    Button {
        objectName: "clearHotkeyButton"
        visible: !field.recorder.recording
        text: "✕"
        flat: true
        Accessible.name: field.recorder.clearText
        ToolTip.visible: hovered
        ToolTip.text: field.recorder.clearText
        onClicked: field.recorder.clear()
    }
}
