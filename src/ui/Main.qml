import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Murmel

// The main window with its menus and shortcuts. Closing it only hides it: Murmel keeps
// running in the tray. Until the full screens arrive its content lists the speech models,
// so a first run can fetch one; every value comes from the model store.
ApplicationWindow {
    id: window
    width: 780
    height: 640
    visible: true
    title: "Murmel"
    color: Theme.bg

    palette.window: Theme.panel
    palette.windowText: Theme.ink
    palette.base: Theme.panel
    palette.text: Theme.ink
    palette.button: Theme.panel
    palette.buttonText: Theme.ink
    palette.highlight: Theme.lineStrong
    palette.highlightedText: Theme.ink
    palette.light: Theme.lineStrong
    palette.mid: Theme.line
    palette.dark: Theme.muted

    // A menu entry that shows its keys on the right, as desktop menus do.
    component MenuEntry: MenuItem {
        id: entry
        contentItem: RowLayout {
            spacing: 24
            Label {
                text: entry.text.replace("&", "")
                color: entry.enabled ? Theme.ink : Theme.muted
                Layout.fillWidth: true
            }
            Label {
                text: entry.action && entry.action.shortcut ? String(entry.action.shortcut) : ""
                color: Theme.muted
            }
        }
    }

    menuBar: MenuBar {
        Menu {
            delegate: MenuEntry {}
            title: "&File"
            Action {
                text: "Transcribe a File…"
                shortcut: "Ctrl+O"
                onTriggered: Commands.transcribeFile()
            }
            MenuSeparator {}
            Action {
                text: "Settings…"
                shortcut: "Ctrl+,"
                onTriggered: Commands.openSettings()
            }
            MenuSeparator {}
            Action {
                text: "Quit Murmel"
                shortcut: "Ctrl+Q"
                onTriggered: Commands.quit()
            }
        }
        Menu {
            delegate: MenuEntry {}
            title: "&Dictation"
            Action {
                text: Commands.dictationTitle
                enabled: Commands.dictationEnabled
                shortcut: "Ctrl+Shift+D"
                onTriggered: Commands.toggleDictation()
            }
            MenuSeparator {}
            Action {
                text: "Set Hotkey…"
                onTriggered: Commands.setHotkey()
            }
        }
        Menu {
            delegate: MenuEntry {}
            title: "&View"
            Action {
                text: "Home"
                shortcut: "Ctrl+1"
                onTriggered: Commands.showHome()
            }
            Action {
                text: "Transcribe a File"
                shortcut: "Ctrl+2"
                onTriggered: Commands.transcribeFile()
            }
            Action {
                text: "History"
                shortcut: "Ctrl+3"
                onTriggered: Commands.showHistory()
            }
            MenuSeparator {}
            Action {
                text: "Back"
                shortcut: "Ctrl+["
                onTriggered: Commands.back()
            }
        }
        Menu {
            delegate: MenuEntry {}
            title: "&Help"
            Action {
                text: "Murmel Help"
                shortcut: "F1"
                onTriggered: Commands.openHelp()
            }
            Action {
                text: "Contact Support"
                onTriggered: Commands.contactSupport()
            }
            Action {
                text: "Check for Updates…"
                onTriggered: Commands.checkForUpdates()
            }
        }
    }

    // Back has a second key, the one browsers and file managers use.
    Shortcut {
        sequence: "Alt+Left"
        onActivated: Commands.back()
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 24
        spacing: 12

        Label {
            text: "Speech models"
            color: Theme.ink
            font.pixelSize: 20
            font.weight: Font.DemiBold
        }

        Repeater {
            model: ModelList
            delegate: RowLayout {
                required property string rawValue
                required property string displayName
                required property string sizeLabel
                required property string downloadState
                Layout.fillWidth: true
                spacing: 12

                Label {
                    text: displayName
                    color: Theme.ink
                    Layout.fillWidth: true
                }
                Label {
                    text: sizeLabel
                    color: Theme.body
                }
                Button {
                    text: downloadState === "ready" ? "Ready" : downloadState === "downloading"
                        ? Math.round(ModelStore.progress * 100) + "%" : "Download"
                    enabled: downloadState === "missing" && ModelStore.downloading === ""
                    Accessible.name: downloadState === "missing" ? "Download " + displayName : displayName + ", " + downloadState
                    onClicked: ModelList.download(rawValue)
                }
            }
        }

        Label {
            visible: ModelStore.lastError !== ""
            text: ModelStore.lastError
            color: Theme.pink
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }

        Item { Layout.fillHeight: true }
    }

    // The answer of "Check for Updates…". Murmel never installs anything itself: a newer
    // version comes with the address to get it from.
    Dialog {
        id: updateDialog
        objectName: "updateDialog"
        title: "Software Update"
        modal: true
        anchors.centerIn: parent
        width: Math.min(window.width - 80, 440)
        standardButtons: Dialog.Close

        ColumnLayout {
            anchors.fill: parent
            spacing: 10
            Label {
                text: Updates.message
                color: Theme.ink
                wrapMode: Text.Wrap
                Layout.fillWidth: true
            }
            Label {
                visible: Updates.newerVersionAvailable && Updates.notes !== ""
                text: Updates.notes
                color: Theme.body
                wrapMode: Text.Wrap
                Layout.fillWidth: true
            }
            Button {
                visible: Updates.newerVersionAvailable && Updates.downloadUrl.toString() !== ""
                text: "Get Murmel " + Updates.latestVersion
                onClicked: Qt.openUrlExternally(Updates.downloadUrl)
            }
        }
    }

    Connections {
        target: Updates
        function onFinished() { updateDialog.open() }
    }

    MenuWindow {
        id: menuWindow
        palette: window.palette
    }

    Connections {
        target: Commands
        function onMenuWindowRequested() { menuWindow.present() }
    }
}
