import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Murmel
import Murmel.Shell

// The main window with its menus and shortcuts. Closing it only hides it: Murmel keeps
// running in the tray.
ApplicationWindow {
    id: window
    width: 780
    height: 640
    visible: true
    title: qsTr("Murmel")
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
    palette.toolTipBase: Theme.panel
    palette.toolTipText: Theme.ink

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

    // A menu entry for one of the application's commands, with its title and whether it can
    // be given now.
    component CommandAction: Action {
        required property MurAction command
        text: command.text
        enabled: command.enabled
        onTriggered: command.trigger()
    }

    menuBar: MenuBar {
        Menu {
            delegate: MenuEntry {}
            title: qsTr("&File")
            CommandAction { command: Commands.transcribeFile; shortcut: "Ctrl+O" }
            MenuSeparator {}
            CommandAction { command: Commands.openSettings; shortcut: "Ctrl+," }
            MenuSeparator {}
            CommandAction { command: Commands.quit; shortcut: "Ctrl+Q" }
        }
        Menu {
            delegate: MenuEntry {}
            title: qsTr("&Dictation")
            CommandAction { command: Commands.toggleDictation; shortcut: "Ctrl+Shift+D" }
            MenuSeparator {}
            CommandAction { command: Commands.setHotkey }
        }
        Menu {
            delegate: MenuEntry {}
            title: qsTr("&View")
            CommandAction { command: Commands.showHome; shortcut: "Ctrl+1" }
            CommandAction {
                command: Commands.transcribeFile
                text: qsTr("Transcribe a File")
                shortcut: "Ctrl+2"
            }
            CommandAction { command: Commands.showHistory; shortcut: "Ctrl+3" }
            MenuSeparator {}
            CommandAction { command: Commands.back; shortcut: "Ctrl+[" }
        }
        Menu {
            delegate: MenuEntry {}
            title: qsTr("&Help")
            CommandAction { command: Commands.openHelp; shortcut: "F1" }
            CommandAction { command: Commands.contactSupport }
            CommandAction { command: Commands.checkForUpdates }
        }
    }

    // The settings tab bar from the keyboard, as in browsers and desktop settings. Kept
    // here rather than in the screen: a screen on its way out would make the keys ambiguous.
    Shortcut {
        enabled: Nav.screen === Nav.MurScreen.settings && !Onboarding.showing
        sequences: ["Ctrl+PgDown", "Ctrl+Tab"]
        onActivated: Nav.moveSettingsTab(1)
    }
    Shortcut {
        enabled: Nav.screen === Nav.MurScreen.settings && !Onboarding.showing
        sequences: ["Ctrl+PgUp", "Ctrl+Shift+Tab", "Ctrl+Backtab"]
        onActivated: Nav.moveSettingsTab(-1)
    }

    // Back has a second key, the one browsers and file managers use.
    Shortcut {
        sequence: "Alt+Left"
        onActivated: Commands.back.trigger()
    }

    // The palette follows the desktop's contrast and motion settings.
    Binding { target: Theme; property: "highContrast"; value: Appearance.highContrast }
    Binding { target: Theme; property: "reduceMotion"; value: Appearance.reduceMotion }

    // The window's content: onboarding until it is done, then the screen Nav names. Screens
    // are made afresh on every visit, so their search, selection and scroll position start
    // over; what must survive (the file being transcribed, the settings tab) lives in the
    // objects behind them.
    Item {
        id: rootView
        objectName: "rootView"
        anchors.fill: parent

        Loader {
            id: screenLoader
            objectName: "screenLoader"
            anchors.fill: parent
            focus: !Onboarding.showing
            opacity: Onboarding.showing ? 0 : 1
            visible: opacity > 0
            Behavior on opacity {
                NumberAnimation {
                    duration: Theme.reduceMotion ? 0 : Theme.easeDuration
                    easing.type: Easing.BezierSpline
                    easing.bezierCurve: Theme.easeCurve
                }
            }
            sourceComponent: {
                switch (Nav.screen) {
                case Nav.MurScreen.file: return fileScreen
                case Nav.MurScreen.history: return historyScreen
                case Nav.MurScreen.settings: return settingsScreen
                default: return homeScreen
                }
            }
        }

        Loader {
            id: onboardingLoader
            objectName: "onboardingLoader"
            anchors.fill: parent
            active: Onboarding.showing || opacity > 0
            focus: Onboarding.showing
            opacity: Onboarding.showing ? 1 : 0
            visible: opacity > 0
            Behavior on opacity {
                NumberAnimation {
                    duration: Theme.reduceMotion ? 0 : Theme.easeDuration
                    easing.type: Easing.BezierSpline
                    easing.bezierCurve: Theme.easeCurve
                }
            }
            sourceComponent: OnboardingView {}
        }
    }

    Component {
        id: homeScreen
        HomeView {
            objectName: "homeView"
            onTranscribeFile: Commands.transcribeFile.trigger()
            onShowHistory: Commands.showHistory.trigger()
            onShowSettings: Commands.openSettings.trigger()
            onChangeHotkey: Commands.setHotkey.trigger()
        }
    }
    Component {
        id: fileScreen
        ScreenShell {
            objectName: "fileScreen"
            title: qsTr("Transcribe a file")
            onBack: Commands.back.trigger()
            FileTranscriptionWindow {
                anchors.fill: parent
                chooser: FileChooser
            }
        }
    }
    Component {
        id: historyScreen
        ScreenShell {
            objectName: "historyScreen"
            title: qsTr("History")
            onBack: Commands.back.trigger()
            HistoryView {
                anchors.fill: parent
                history: Histories.make()
            }
        }
    }
    Component {
        id: settingsScreen
        ScreenShell {
            objectName: "settingsScreen"
            onBack: Commands.back.trigger()
            accessory: Component { SettingsTabs {} }

            SettingsView {
                anchors.fill: parent
            }
        }
    }

    // The answer of "Check for Updates…". Murmel never installs anything itself: a newer
    // version comes with the address to get it from.
    Dialog {
        id: updateDialog
        objectName: "updateDialog"
        title: qsTr("Software Update")
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
                visible: Updates.state === Updates.State.available && Updates.notes !== ""
                text: Updates.notes
                color: Theme.body
                wrapMode: Text.Wrap
                Layout.fillWidth: true
            }
            Button {
                visible: Updates.state === Updates.State.available && Updates.downloadUrl.toString() !== ""
                text: qsTr("Get Murmel %1").arg(Updates.latestVersion)
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
