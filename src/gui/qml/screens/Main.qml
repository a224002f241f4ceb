import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Murmel

// The main window with its menus and shortcuts. Closing it only hides it: Murmel keeps
// running in the tray.
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
            // A build without a release manifest is updated by the package manager.
            Action {
                text: Updates.canCheck ? "Check for Updates…" : "Updates Come Through Your Package Manager"
                enabled: Updates.canCheck
                onTriggered: Commands.checkForUpdates()
            }
        }
    }

    // The settings tab bar from the keyboard, as in browsers and desktop settings. Kept
    // here rather than in the screen: a screen on its way out would make the keys ambiguous.
    function moveSettingsTab(by) {
        const tabs = Settings.tabs
        const at = tabs.findIndex(tab => tab.value === Settings.settingsTab)
        Settings.settingsTab = tabs[(at + by + tabs.length) % tabs.length].value
    }
    Shortcut {
        enabled: Nav.screenName === "settings" && !Onboarding.showing
        sequences: ["Ctrl+PgDown", "Ctrl+Tab"]
        onActivated: window.moveSettingsTab(1)
    }
    Shortcut {
        enabled: Nav.screenName === "settings" && !Onboarding.showing
        sequences: ["Ctrl+PgUp", "Ctrl+Shift+Tab", "Ctrl+Backtab"]
        onActivated: window.moveSettingsTab(-1)
    }

    // Back has a second key, the one browsers and file managers use.
    Shortcut {
        sequence: "Alt+Left"
        onActivated: Commands.back()
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
                switch (Nav.screenName) {
                case "file": return fileScreen
                case "history": return historyScreen
                case "settings": return settingsScreen
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
            sourceComponent: OnboardingView {
                onboarding: Onboarding
                permissions: Permissions
                desktopHotkey: DesktopHotkey
                settings: Settings
                catalog: ModelList
                models: ModelStore
            }
        }
    }

    Component {
        id: homeScreen
        HomeView {
            objectName: "homeView"
            dictation: Dictation
            models: ModelStore
            egg: HomeEgg
            onTranscribeFile: Commands.transcribeFile()
            onShowHistory: Commands.showHistory()
            onShowSettings: Commands.openSettings()
            onChangeHotkey: Commands.setHotkey()
        }
    }
    Component {
        id: fileScreen
        ScreenShell {
            objectName: "fileScreen"
            title: "Transcribe a file"
            onBack: Commands.back()
            FileTranscriptionWindow {
                anchors.fill: parent
                model: FileTranscription
                chooser: FileChooser
            }
        }
    }
    Component {
        id: historyScreen
        ScreenShell {
            objectName: "historyScreen"
            title: "History"
            onBack: Commands.back()
            HistoryView {
                anchors.fill: parent
                history: Histories.create()
            }
        }
    }
    Component {
        id: settingsScreen
        ScreenShell {
            objectName: "settingsScreen"
            onBack: Commands.back()
            accessory: Component { SettingsTabs { settings: Settings } }

            SettingsView {
                anchors.fill: parent
                settings: Settings
                permissions: Permissions
                desktopHotkey: DesktopHotkey
                recorder: HotkeyRecorder
                models: ModelList
                apiKey: ApiKey
                styles: Styles
                rules: DictionaryRules
                egg: AboutEgg
            }
        }
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
