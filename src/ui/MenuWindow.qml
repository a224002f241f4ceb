import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Window
import Murmel

// The tray icon's small window: the status, the dictation button and the ways into the
// main window. It sits in the top right corner of the screen, where panels keep their
// icons, and goes away as soon as it loses the focus, like a menu.
ApplicationWindow {
    id: root
    objectName: "menuWindow"
    title: "Murmel menu"
    width: 280
    height: column.implicitHeight + 32
    flags: Qt.Tool | Qt.FramelessWindowHint | Qt.WindowStaysOnTopHint
    color: Theme.bg
    visible: false

    function present() {
        x = Screen.virtualX + Screen.desktopAvailableWidth - width - 12
        y = Screen.virtualY + 36
        show()
        raise()
        requestActivate()
    }

    onActiveChanged: if (!active) hide()

    Shortcut {
        sequence: "Escape"
        onActivated: root.hide()
    }
    Shortcut {
        sequence: "Ctrl+Q"
        onActivated: Commands.quit()
    }

    Rectangle {
        anchors.fill: parent
        color: "transparent"
        border.width: 1
        border.color: Theme.lineStrong
        radius: 10
    }

    ColumnLayout {
        id: column
        anchors.fill: parent
        anchors.margins: 16
        spacing: 10

        RowLayout {
            spacing: 10
            Label {
                text: "MURMEL"
                color: Theme.ink
                font.pixelSize: 15
                font.weight: Font.Bold
                font.letterSpacing: 2
            }
            Label {
                text: Dictation.statusLabel
                color: Theme.body
                font.pixelSize: 12
                Layout.fillWidth: true
            }
        }

        Button {
            text: Dictation.recording ? "Stop" : "Start dictation"
            enabled: Dictation.recording || Dictation.statusLabel === "Ready"
            ToolTip.visible: hovered
            ToolTip.text: "Start or stop dictation"
            Layout.fillWidth: true
            onClicked: Dictation.toggle()
        }

        Button {
            text: "Transcribe a file…"
            ToolTip.visible: hovered
            ToolTip.text: "Open a file to transcribe"
            Layout.fillWidth: true
            onClicked: { root.hide(); Commands.dockTranscribeFile() }
        }

        ColumnLayout {
            visible: ModelStore.downloading !== ""
            spacing: 4
            Layout.fillWidth: true
            Label {
                text: "Downloading " + ModelStore.downloadingName
                color: Theme.body
                font.pixelSize: 12
            }
            ProgressBar {
                value: ModelStore.progress
                Layout.fillWidth: true
            }
        }

        RowLayout {
            spacing: 4
            Label { text: "Hold your"; color: Theme.muted; font.pixelSize: 12 }
            Button {
                text: "hotkey"
                flat: true
                padding: 0
                font.pixelSize: 12
                ToolTip.visible: hovered
                ToolTip.text: "Change the hotkey"
                onClicked: { root.hide(); Commands.setHotkey() }
            }
            Label { text: "to talk."; color: Theme.muted; font.pixelSize: 12 }
        }

        Label {
            visible: Dictation.lastError !== ""
            text: Dictation.lastError
            color: Theme.body
            font.pixelSize: 11
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }

        RowLayout {
            Layout.fillWidth: true
            Button {
                text: "Settings"
                ToolTip.visible: hovered
                ToolTip.text: "Open Settings (Ctrl+,)"
                Layout.fillWidth: true
                onClicked: { root.hide(); Commands.setHotkey() }
            }
            Button {
                text: "Quit"
                ToolTip.visible: hovered
                ToolTip.text: "Quit Murmel (Ctrl+Q)"
                Layout.fillWidth: true
                onClicked: Commands.quit()
            }
        }
    }
}
