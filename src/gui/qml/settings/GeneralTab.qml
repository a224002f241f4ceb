import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Murmel

// General: the hotkey and how dictation lands, sounds, how long transcripts stay, and what
// this desktop lets Murmel do.
ColumnLayout {
    id: tab
    required property QtObject settings
    required property QtObject permissions
    required property QtObject desktopHotkey
    required property QtObject recorder

    spacing: 16
    Component.onCompleted: permissions.refresh()
    // The rows follow the desktop while they are shown: a sound server that starts or
    // stops turns the microphone row at once.
    Timer {
        interval: 2000
        repeat: true
        running: tab.visible
        onTriggered: tab.permissions.refresh()
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
            Label { text: "Granted"; color: Theme.confirm }
        }
        MurButton {
            visible: !permissionRow.granted
            text: "Grant"
            Accessible.name: permissionRow.grantName
            Accessible.description: permissionRow.grantHelp
            ToolTip.visible: hovered
            ToolTip.text: permissionRow.grantHelp
            onClicked: permissionRow.grantRequested()
        }
    }

    SettingsSection {
        title: "Dictation"
        SettingsRow {
            label: tab.recorder.rowLabel
            help: tab.recorder.helpText
            HotkeyRecorderField { recorder: tab.recorder }
        }
        SettingsRow {
            id: holdRow
            label: "Hold the hotkey to talk"
            help: tab.desktopHotkey.holdToTalkPossible
                  ? "Hold the hotkey to talk and release to stop. Off means press once to start, again to stop."
                  : "Holding needs the key's release, which this desktop does not pass to Murmel: press once to start, again to stop."
            MurSwitch {
                objectName: "holdToTalkSwitch"
                enabled: tab.desktopHotkey.holdToTalkPossible
                checked: tab.settings.holdToTalk
                onToggled: {
                    tab.settings.holdToTalk = checked
                    // The user's toggle replaced the binding; the stored value decides again.
                    checked = Qt.binding(() => tab.settings.holdToTalk)
                }
                Accessible.name: holdRow.label
                Accessible.description: holdRow.help
                ToolTip.visible: hovered
                ToolTip.text: holdRow.help
            }
        }
        SettingsRow {
            id: safeRow
            label: "Use clipboard safe insert"
            help: "Keep your clipboard unchanged. After dictating, choose Insert Last Murmel Dictation (murmel insert-last) in the active app."
            MurSwitch {
                objectName: "clipboardSafeInsertSwitch"
                checked: tab.settings.clipboardSafeInsert
                onToggled: {
                    tab.settings.clipboardSafeInsert = checked
                    // The user's toggle replaced the binding; the stored value decides again.
                    checked = Qt.binding(() => tab.settings.clipboardSafeInsert)
                }
                Accessible.name: safeRow.label
                Accessible.description: safeRow.help
                ToolTip.visible: hovered
                ToolTip.text: safeRow.help
            }
        }
        SettingsNote {
            visible: tab.settings.clipboardSafeInsert
            text: "After dictating, choose Insert Last Murmel Dictation (murmel insert-last) in the active app. You can assign it a keyboard shortcut in the desktop's settings."
        }
        SettingsRow {
            id: loginRow
            label: "Open Murmel at login"
            help: "Start Murmel automatically when you log in, so your hotkey is always ready."
            MurSwitch {
                objectName: "launchAtLoginSwitch"
                checked: tab.settings.launchAtLogin
                onToggled: {
                    tab.settings.launchAtLogin = checked
                    // The user's toggle replaced the binding; the stored value decides again.
                    checked = Qt.binding(() => tab.settings.launchAtLogin)
                }
                Accessible.name: loginRow.label
                Accessible.description: loginRow.help
                ToolTip.visible: hovered
                ToolTip.text: loginRow.help
            }
        }
        SettingsRow {
            id: languageRow
            label: "Language"
            help: "The language you dictate in. Auto detects it for you."
            ChoiceBox {
                objectName: "languagePicker"
                choices: tab.settings.languages
                current: tab.settings.language
                help: languageRow.help
                Accessible.name: "Dictation language"
                onChosen: value => tab.settings.language = value
            }
        }
    }

    SettingsSection {
        title: "Sounds"
        SettingsRow {
            id: soundsRow
            label: "Play UI sounds"
            help: "Play interface sound effects for start, stop, and done."
            MurSwitch {
                objectName: "soundsSwitch"
                checked: tab.settings.soundsEnabled
                onToggled: {
                    tab.settings.soundsEnabled = checked
                    // The user's toggle replaced the binding; the stored value decides again.
                    checked = Qt.binding(() => tab.settings.soundsEnabled)
                }
                Accessible.name: soundsRow.label
                Accessible.description: soundsRow.help
                ToolTip.visible: hovered
                ToolTip.text: soundsRow.help
            }
        }
        SettingsRow {
            id: voiceRow
            label: "Speak cues in the robotic voice"
            help: "Speak status cues aloud, like “It's ready” when a file finishes."
            MurSwitch {
                objectName: "voiceSwitch"
                checked: tab.settings.voiceEnabled
                onToggled: {
                    tab.settings.voiceEnabled = checked
                    // The user's toggle replaced the binding; the stored value decides again.
                    checked = Qt.binding(() => tab.settings.voiceEnabled)
                }
                Accessible.name: voiceRow.label
                Accessible.description: voiceRow.help
                ToolTip.visible: hovered
                ToolTip.text: voiceRow.help
            }
        }
    }

    SettingsSection {
        title: "Transcripts"
        SettingsRow {
            id: retentionRow
            label: "Keep transcripts for"
            help: "How long to keep saved transcripts before they are removed."
            ChoiceBox {
                objectName: "retentionPicker"
                choices: tab.settings.retentionChoices
                current: tab.settings.retentionDays
                help: retentionRow.help
                Accessible.name: retentionRow.label
                onChosen: value => tab.settings.retentionDays = value
            }
        }
        MurButton {
            objectName: "openHistoryButton"
            text: "Open history"
            Accessible.name: text
            Accessible.description: "Open the list of past transcripts"
            ToolTip.visible: hovered
            ToolTip.text: "Open the list of past transcripts"
            onClicked: tab.settings.openHistory()
        }
    }

    SettingsSection {
        title: "Permissions"
        PermissionRow {
            label: "Accessibility, to paste at your cursor"
            granted: tab.permissions.pasteAvailable
            onGrantRequested: tab.permissions.grant("paste")
            grantName: "Grant Accessibility permission"
            grantHelp: "Check again whether this desktop lets Murmel paste at your cursor"
        }
        PermissionRow {
            label: "Input Monitoring, for the global hotkey"
            granted: tab.permissions.hotkeyActive
            onGrantRequested: tab.permissions.grant("hotkey")
            grantName: "Grant Input Monitoring permission"
            grantHelp: "Ask the desktop again for the global hotkey, so it works anywhere"
        }
        HotkeyHelp { desktopHotkey: tab.desktopHotkey }
        SettingsRow {
            label: "Microphone, to hear you"
            Label {
                text: tab.permissions.microphoneAvailable ? "✓ Available" : "No microphone found"
                color: tab.permissions.microphoneAvailable ? Theme.confirm : Theme.pink
            }
        }
        SettingsNote {
            text: "Murmel also needs the microphone, which your computer offers as soon as one is connected."
        }
    }

    Label {
        visible: tab.settings.lastError !== ""
        text: tab.settings.lastError
        color: Theme.pink
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }
}
