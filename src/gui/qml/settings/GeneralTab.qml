import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Murmel

// General: the hotkey and how dictation lands, sounds, how long transcripts stay, and what
// this desktop lets Murmel do.
ColumnLayout {
    id: tab

    spacing: 16
    Component.onCompleted: Permissions.refresh()
    // The rows follow the desktop while they are on screen: a sound server that starts or
    // stops turns the microphone row at once.
    Timer {
        interval: 2000
        repeat: true
        running: Theme.onScreen(tab)
        onTriggered: Permissions.refresh()
    }

    component PermissionRow: SettingsRow {
        id: permissionRow
        property bool granted
        property string grantHelp
        property string grantName
        signal grantRequested()
        Row {
            visible: permissionRow.granted
            spacing: 6
            LineIcon { name: "checkmark.circle.fill"; color: Theme.confirm; anchors.verticalCenter: parent.verticalCenter }
            Label { text: qsTr("Granted"); color: Theme.confirm }
        }
        MurButton {
            visible: !permissionRow.granted
            text: qsTr("Grant")
            Accessible.name: permissionRow.grantName
            Accessible.description: permissionRow.grantHelp
            ToolTip.visible: hovered
            ToolTip.text: permissionRow.grantHelp
            onClicked: permissionRow.grantRequested()
        }
    }

    SettingsSection {
        title: qsTr("Dictation")
        SettingsRow {
            label: HotkeyRecorder.rowLabel
            help: HotkeyRecorder.helpText
            HotkeyRecorderField {}
        }
        SettingsRow {
            id: holdRow
            label: qsTr("Hold the hotkey to talk")
            help: DesktopHotkey.holdToTalkPossible
                  ? qsTr("Hold the hotkey to talk and release to stop. Off means press once to start, again to stop.")
                  : qsTr("Holding needs the key's release, which this desktop does not pass to Murmel: press once to start, again to stop.")
            MurSwitch {
                objectName: "holdToTalkSwitch"
                enabled: DesktopHotkey.holdToTalkPossible
                checked: Settings.holdToTalk
                onToggled: {
                    Settings.holdToTalk = checked
                    // The user's toggle replaced the binding; the stored value decides again.
                    checked = Qt.binding(() => Settings.holdToTalk)
                }
                Accessible.name: holdRow.label
                Accessible.description: holdRow.help
                ToolTip.visible: hovered
                ToolTip.text: holdRow.help
            }
        }
        SettingsRow {
            id: safeRow
            label: qsTr("Use clipboard safe insert")
            help: qsTr("Keep your clipboard unchanged. After dictating, choose Insert Last Murmel Dictation (murmel insert-last) in the active app.")
            MurSwitch {
                objectName: "clipboardSafeInsertSwitch"
                checked: Settings.clipboardSafeInsert
                onToggled: {
                    Settings.clipboardSafeInsert = checked
                    // The user's toggle replaced the binding; the stored value decides again.
                    checked = Qt.binding(() => Settings.clipboardSafeInsert)
                }
                Accessible.name: safeRow.label
                Accessible.description: safeRow.help
                ToolTip.visible: hovered
                ToolTip.text: safeRow.help
            }
        }
        SettingsNote {
            visible: Settings.clipboardSafeInsert
            text: qsTr("After dictating, choose Insert Last Murmel Dictation (murmel insert-last) in the active app. You can assign it a keyboard shortcut in the desktop's settings.")
        }
        SettingsRow {
            id: loginRow
            label: qsTr("Open Murmel at login")
            help: qsTr("Start Murmel automatically when you log in, so your hotkey is always ready.")
            MurSwitch {
                objectName: "launchAtLoginSwitch"
                checked: Settings.launchAtLogin
                onToggled: {
                    Settings.launchAtLogin = checked
                    // The user's toggle replaced the binding; the stored value decides again.
                    checked = Qt.binding(() => Settings.launchAtLogin)
                }
                Accessible.name: loginRow.label
                Accessible.description: loginRow.help
                ToolTip.visible: hovered
                ToolTip.text: loginRow.help
            }
        }
        SettingsRow {
            id: languageRow
            label: qsTr("Language")
            help: qsTr("The language you dictate in. Auto detects it for you.")
            ChoiceBox {
                objectName: "languagePicker"
                choices: Settings.languages
                current: Settings.language
                help: languageRow.help
                Accessible.name: qsTr("Dictation language")
                onChosen: value => Settings.language = value
            }
        }
    }

    SettingsSection {
        title: qsTr("Sounds")
        SettingsRow {
            id: soundsRow
            label: qsTr("Play UI sounds")
            help: qsTr("Play interface sound effects for start, stop, and done.")
            MurSwitch {
                objectName: "soundsSwitch"
                checked: Settings.soundsEnabled
                onToggled: {
                    Settings.soundsEnabled = checked
                    // The user's toggle replaced the binding; the stored value decides again.
                    checked = Qt.binding(() => Settings.soundsEnabled)
                }
                Accessible.name: soundsRow.label
                Accessible.description: soundsRow.help
                ToolTip.visible: hovered
                ToolTip.text: soundsRow.help
            }
        }
        SettingsRow {
            id: voiceRow
            label: qsTr("Speak cues in the robotic voice")
            help: qsTr("Speak status cues aloud, like “It's ready” when a file finishes.")
            MurSwitch {
                objectName: "voiceSwitch"
                checked: Settings.voiceEnabled
                onToggled: {
                    Settings.voiceEnabled = checked
                    // The user's toggle replaced the binding; the stored value decides again.
                    checked = Qt.binding(() => Settings.voiceEnabled)
                }
                Accessible.name: voiceRow.label
                Accessible.description: voiceRow.help
                ToolTip.visible: hovered
                ToolTip.text: voiceRow.help
            }
        }
    }

    SettingsSection {
        title: qsTr("Transcripts")
        SettingsRow {
            id: retentionRow
            label: qsTr("Keep transcripts for")
            help: qsTr("How long to keep saved transcripts before they are removed.")
            ChoiceBox {
                objectName: "retentionPicker"
                choices: Settings.retentionChoices
                current: Settings.retentionDays
                help: retentionRow.help
                Accessible.name: retentionRow.label
                onChosen: value => Settings.retentionDays = value
            }
        }
        MurButton {
            objectName: "openHistoryButton"
            text: qsTr("Open history")
            Accessible.name: text
            Accessible.description: qsTr("Open the list of past transcripts")
            ToolTip.visible: hovered
            ToolTip.text: qsTr("Open the list of past transcripts")
            onClicked: Settings.openHistory()
        }
    }

    SettingsSection {
        title: qsTr("Permissions")
        PermissionRow {
            label: qsTr("Accessibility, to paste at your cursor")
            granted: Permissions.pasteAvailable
            onGrantRequested: Permissions.grant(Permissions.Kind.paste)
            grantName: qsTr("Grant Accessibility permission")
            grantHelp: qsTr("Check again whether this desktop lets Murmel paste at your cursor")
        }
        PermissionRow {
            label: qsTr("Input Monitoring, for the global hotkey")
            granted: Permissions.hotkeyActive
            onGrantRequested: Permissions.grant(Permissions.Kind.hotkey)
            grantName: qsTr("Grant Input Monitoring permission")
            grantHelp: qsTr("Ask the desktop again for the global hotkey, so it works anywhere")
        }
        HotkeyHelp {}
        SettingsRow {
            label: qsTr("Microphone, to hear you")
            Label {
                text: Permissions.microphoneAvailable ? qsTr("✓ Available") : qsTr("No microphone found")
                color: Permissions.microphoneAvailable ? Theme.confirm : Theme.pink
            }
        }
        SettingsNote {
            text: qsTr("Murmel also needs the microphone, which your computer offers as soon as one is connected.")
        }
    }

    Label {
        visible: Settings.lastError !== ""
        text: Settings.lastError
        color: Theme.pink
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }
}
