import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Window
import Murmel
import Murmel.Shell

// The tray icon's small window: the status, the dictation button and the ways into the
// main window. It sits in the top right corner of the screen, where panels keep their
// icons, and goes away as soon as it loses the focus, like a menu.
ApplicationWindow {
    id: root
    objectName: "menuWindow"
    title: qsTr("Murmel menu")
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
        onActivated: Commands.quit.trigger()
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
            ChromeText {
                text: qsTr("MURMEL")
                pixelSize: 16
                letterSpacing: 3
                Accessible.name: qsTr("Murmel")
            }
            Label {
                text: Dictation.statusLabel
                color: Dictation.status === Dictation.Status.recording ? Theme.pink : Theme.body
                font.pixelSize: 12
                Layout.fillWidth: true
            }
        }

        MurButton {
            readonly property bool recording: Dictation.status === Dictation.Status.recording
            primary: true
            text: recording ? qsTr("Stop") : qsTr("Start dictation")
            iconName: recording ? "stop.fill" : "mic.fill"
            enabled: Commands.toggleDictation.enabled
            help: qsTr("Start or stop dictation")
            Layout.fillWidth: true
            onClicked: Commands.toggleDictation.trigger()
        }

        // A row leading into the main window.
        Button {
            id: fileRow
            text: qsTr("Transcribe a file…")
            focusPolicy: Qt.StrongFocus
            ToolTip.visible: hovered
            ToolTip.text: qsTr("Open a file to transcribe")
            Accessible.name: text
            Accessible.description: qsTr("Open a file to transcribe")
            Layout.fillWidth: true
            onClicked: { root.hide(); Commands.transcribeFile.trigger() }
            contentItem: RowLayout {
                spacing: 8
                LineIcon { name: "waveform"; color: Theme.accent }
                Label { text: fileRow.text; color: Theme.ink; Layout.fillWidth: true }
                LineIcon { name: "chevron.right"; size: 12; color: Theme.muted }
            }
            background: Rectangle {
                implicitHeight: 34
                radius: 8
                color: fileRow.down ? Theme.lineStrong : (fileRow.hovered ? Theme.line : "transparent")
                border.width: fileRow.visualFocus ? 2 : 0
                border.color: Theme.cyan
            }
        }

        ColumnLayout {
            visible: ModelStore.downloading !== ""
            spacing: 4
            Layout.fillWidth: true
            Label {
                text: qsTr("Downloading %1").arg(ModelStore.downloadingName)
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
            Label { text: qsTr("Hold your"); color: Theme.muted; font.pixelSize: 12 }
            Button {
                id: hotkeyLink
                text: qsTr("hotkey")
                flat: true
                padding: 0
                focusPolicy: Qt.StrongFocus
                ToolTip.visible: hovered
                ToolTip.text: qsTr("Change the hotkey")
                Accessible.name: qsTr("Change the hotkey")
                onClicked: { root.hide(); Commands.setHotkey.trigger() }
                contentItem: Label {
                    text: hotkeyLink.text
                    color: Theme.cyan
                    font.pixelSize: 12
                    font.underline: hotkeyLink.hovered || hotkeyLink.visualFocus
                }
                background: Item {}
            }
            Label { text: qsTr("to talk."); color: Theme.muted; font.pixelSize: 12 }
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
            MurButton {
                text: qsTr("Settings")
                help: qsTr("Open Settings (Ctrl+,)")
                Layout.fillWidth: true
                // Settings open on the General tab, where the hotkey is.
                onClicked: { root.hide(); Commands.setHotkey.trigger() }
            }
            MurButton {
                text: qsTr("Quit")
                help: qsTr("Quit Murmel (Ctrl+Q)")
                Layout.fillWidth: true
                onClicked: Commands.quit.trigger()
            }
        }
    }
}
