import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Murmel

// Cleanup: which voice Claude rewrites in, with which model and key, and the user's own
// voices.
ColumnLayout {
    id: tab
    required property QtObject settings
    required property QtObject apiKey
    required property QtObject styles

    spacing: 16
    Component.onCompleted: apiKey.refresh()

    SettingsSection {
        SettingsRow {
            id: styleRow
            label: "Cleanup style"
            help: "How Claude rewrites the transcript, or Off to keep it raw."
            ChoiceBox {
                objectName: "cleanupModePicker"
                choices: tab.settings.cleanupModes
                current: tab.settings.cleanupMode
                help: styleRow.help
                Accessible.name: styleRow.label
                onChosen: value => tab.settings.cleanupMode = value
            }
        }
        SettingsNote {
            text: "Off keeps the raw transcript on your computer. The built-in modes and your own styles below send it to Claude to rewrite in that voice."
        }
        SettingsRow {
            id: modelRow
            label: "Cleanup model"
            help: "Which Claude model cleans up the text."
            ChoiceBox {
                objectName: "cleanupModelPicker"
                choices: tab.settings.cleanupModels
                current: tab.settings.cleanupModel
                help: modelRow.help
                Accessible.name: modelRow.label
                onChosen: value => tab.settings.cleanupModel = value
            }
        }
        SettingsRow {
            label: "Anthropic API key"
            TextField {
                id: keyField
                objectName: "apiKeyField"
                visible: !tab.apiKey.stored
                placeholderText: "Anthropic API key"
                echoMode: TextInput.Password
                implicitWidth: 240
                Accessible.name: "Anthropic API key"
                onAccepted: tab.apiKey.save(text)
            }
            MurButton {
                objectName: "saveApiKeyButton"
                visible: !tab.apiKey.stored
                enabled: !tab.apiKey.busy
                text: "Save"
                Accessible.name: "Save the key to your keyring"
                ToolTip.visible: hovered
                ToolTip.text: "Save the key to your keyring"
                onClicked: tab.apiKey.save(keyField.text)
            }
            Row {
                visible: tab.apiKey.stored
                spacing: 6
                LineIcon { name: "checkmark.seal.fill"; color: Theme.confirm; anchors.verticalCenter: parent.verticalCenter }
                Label { text: "Key stored in your keyring"; color: Theme.confirm }
            }
            Connections {
                target: tab.apiKey
                function onSaved() { keyField.clear() }
            }
        }
        Label {
            visible: tab.apiKey.error !== ""
            text: tab.apiKey.error
            color: Theme.pink
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
    }

    SettingsSection {
        title: "Your styles"
        SettingsNote {
            text: "Create your own cleanup voices with a name and an instruction. They join the built-in modes in the Style picker above."
        }
        Repeater {
            model: tab.styles
            delegate: ColumnLayout {
                id: styleItem
                required property string itemId
                required property string name
                required property string prompt
                Layout.fillWidth: true
                spacing: 6
                RowLayout {
                    Layout.fillWidth: true
                    TextField {
                        text: styleItem.name
                        placeholderText: "Style name"
                        Accessible.name: "Style name"
                        Layout.fillWidth: true
                        onTextEdited: tab.styles.setFirst(styleItem.itemId, text)
                    }
                    MurButton {
                        iconName: "trash"
                        Accessible.name: "Delete this style"
                        help: "Delete this style"
                        onClicked: tab.styles.remove(styleItem.itemId)
                    }
                }
                TextArea {
                    id: promptArea
                    text: styleItem.prompt
                    placeholderText: "How Claude should rewrite it, in your words…"
                    Accessible.name: "Style instruction"
                    wrapMode: TextEdit.Wrap
                    Layout.fillWidth: true
                    // From two to six lines, then it scrolls.
                    Layout.preferredHeight: Math.min(Math.max(contentHeight, 2 * font.pixelSize * 1.4),
                                                     6 * font.pixelSize * 1.4) + topPadding + bottomPadding
                    // Tab moves on, as everywhere else on the screen, instead of typing a tab.
                    Keys.onTabPressed: nextItemInFocusChain(true).forceActiveFocus(Qt.TabFocusReason)
                    Keys.onBacktabPressed: nextItemInFocusChain(false).forceActiveFocus(Qt.BacktabFocusReason)
                    onTextChanged: if (text !== styleItem.prompt) tab.styles.setSecond(styleItem.itemId, text)
                    background: Rectangle { color: Theme.bg; border.color: Theme.line; radius: 4 }
                }
            }
        }
        MurButton {
            objectName: "addStyleButton"
            text: "Add style"
            Accessible.name: text
            ToolTip.visible: hovered
            ToolTip.text: "Create a custom cleanup style"
            onClicked: tab.styles.add()
        }
    }
}
