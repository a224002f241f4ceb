import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Murmel

// The home screen: the eye, the status, the one big dictation button and the ways to
// everything else. It only shows and asks; the dictation controller decides, and the main
// window leads where the tiles say.
Item {
    id: home

    signal transcribeFile()
    signal showHistory()
    signal showSettings()
    signal changeHotkey()

    readonly property bool recording: Dictation.status === Dictation.Status.recording

    // A tile leading to another screen.
    component Tile: Button {
        id: tile
        property string iconName
        property string help
        focusPolicy: Qt.StrongFocus
        ToolTip.visible: hovered
        ToolTip.delay: 600
        ToolTip.text: help
        Accessible.name: text
        Accessible.description: help
        Keys.onReturnPressed: clicked()
        Layout.fillWidth: true
        // Equal shares, whatever the labels' lengths.
        Layout.preferredWidth: 1
        Layout.preferredHeight: 92
        contentItem: ColumnLayout {
            spacing: 10
            LineIcon {
                name: tile.iconName
                size: 24
                color: tile.hovered ? Theme.cyan : Theme.accent
                Layout.alignment: Qt.AlignHCenter
            }
            Label {
                text: tile.text
                color: Theme.ink
                font.pixelSize: 13
                Layout.alignment: Qt.AlignHCenter
            }
        }
        background: Rectangle {
            radius: 12
            color: tile.down ? Theme.lineStrong : Theme.panel
            border.width: tile.visualFocus ? 2 : 1
            border.color: tile.visualFocus ? Theme.cyan : (tile.hovered ? Theme.lineStrong : Theme.line)
        }
    }

    ColumnLayout {
        anchors.centerIn: parent
        width: Math.min(parent.width - 48, 460)
        spacing: 14

        GlitchEye {
            objectName: "homeEye"
            size: 112
            glowing: home.recording
            activeFocusOnTab: true
            Layout.alignment: Qt.AlignHCenter
            onTapped: HomeEgg.tap()
            Keys.onSpacePressed: tap()
        }
        Label {
            objectName: "eggMessage"
            text: HomeEgg.message
            opacity: text !== "" ? 1 : 0
            color: Theme.violet
            font.pixelSize: 12
            Layout.alignment: Qt.AlignHCenter
            Behavior on opacity { NumberAnimation { duration: Theme.reduceMotion ? 0 : Theme.easeDuration } }
        }
        ChromeText {
            text: qsTr("MURMEL")
            pixelSize: 34
            letterSpacing: 8
            Layout.alignment: Qt.AlignHCenter
            Accessible.name: qsTr("Murmel")
        }
        Label {
            objectName: "statusLine"
            text: Dictation.statusLabel
            color: home.recording ? Theme.pink : Theme.body
            font.pixelSize: 13
            font.letterSpacing: 1
            Layout.alignment: Qt.AlignHCenter
            Accessible.role: Accessible.StaticText
        }

        MurButton {
            objectName: "dictationButton"
            primary: true
            text: home.recording ? qsTr("Stop dictation") : qsTr("Start dictation")
            iconName: home.recording ? "stop.fill" : "mic.fill"
            help: qsTr("Start or stop dictation. You can also press your global hotkey anywhere.")
            enabled: Dictation.status !== Dictation.Status.working
            Layout.fillWidth: true
            Layout.topMargin: 6
            Layout.preferredHeight: 44
            onClicked: Dictation.toggle()
        }

        RowLayout {
            spacing: 10
            Layout.fillWidth: true
            Tile {
                objectName: "fileTile"
                text: qsTr("Transcribe a file")
                iconName: "waveform"
                help: qsTr("Open an audio or video file to transcribe (Ctrl+O)")
                onClicked: home.transcribeFile()
            }
            Tile {
                objectName: "historyTile"
                text: qsTr("History")
                iconName: "clock.arrow.circlepath"
                help: qsTr("Browse your past transcripts (Ctrl+3)")
                onClicked: home.showHistory()
            }
            Tile {
                objectName: "settingsTile"
                text: qsTr("Settings")
                iconName: "gearshape"
                help: qsTr("Open Settings (Ctrl+,)")
                onClicked: home.showSettings()
            }
        }

        ColumnLayout {
            objectName: "downloadLine"
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
                Accessible.name: qsTr("Download progress")
            }
        }

        Label {
            objectName: "lastError"
            visible: text !== ""
            text: Dictation.lastError
            color: Theme.body
            font.pixelSize: 12
            wrapMode: Text.Wrap
            horizontalAlignment: Text.AlignHCenter
            Layout.fillWidth: true
        }

        RowLayout {
            spacing: 4
            Layout.alignment: Qt.AlignHCenter
            Label { text: qsTr("Hold your"); color: Theme.muted; font.pixelSize: 12 }
            Button {
                objectName: "hotkeyLink"
                id: hotkeyLink
                text: qsTr("hotkey")
                flat: true
                padding: 0
                focusPolicy: Qt.StrongFocus
                ToolTip.visible: hovered
                ToolTip.text: qsTr("Change the hotkey")
                Accessible.name: qsTr("Change the hotkey")
                Keys.onReturnPressed: clicked()
                onClicked: home.changeHotkey()
                contentItem: Label {
                    text: hotkeyLink.text
                    color: Theme.cyan
                    font.pixelSize: 12
                    font.underline: hotkeyLink.hovered || hotkeyLink.visualFocus
                }
                background: Item {}
            }
            Label { text: qsTr("to talk, or use the buttons above."); color: Theme.muted; font.pixelSize: 12 }
        }
    }
}
