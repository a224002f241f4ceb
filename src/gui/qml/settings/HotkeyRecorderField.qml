import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Murmel

// The hotkey recorder: one click listens for the next key press, which becomes the hotkey;
// Esc alone cancels. While listening every key goes to the recorder, never to the window.
RowLayout {
    id: field
    spacing: 6

    Button {
        id: main
        objectName: "hotkeyButton"
        text: HotkeyRecorder.display
        checkable: false
        Accessible.name: HotkeyRecorder.accessibilityLabel
        Accessible.description: HotkeyRecorder.accessibilityValue
        ToolTip.visible: hovered
        ToolTip.text: HotkeyRecorder.helpText
        onClicked: HotkeyRecorder.toggle()

        Keys.onPressed: event => {
            if (HotkeyRecorder.recording)
                event.accepted = HotkeyRecorder.captureQtKey(event.nativeScanCode, event.modifiers)
        }
        // Losing the focus while listening would leave a recording nobody can finish.
        onActiveFocusChanged: if (!activeFocus && HotkeyRecorder.recording) HotkeyRecorder.cancel()
        Connections {
            target: HotkeyRecorder
            function onRecordingChanged() { if (HotkeyRecorder.recording) main.forceActiveFocus() }
        }
    }
    Button {
        objectName: "clearHotkeyButton"
        visible: !HotkeyRecorder.recording
        text: qsTr("✕")
        flat: true
        Accessible.name: HotkeyRecorder.clearText
        ToolTip.visible: hovered
        ToolTip.text: HotkeyRecorder.clearText
        onClicked: HotkeyRecorder.clear()
    }
}
