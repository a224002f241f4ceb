import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Murmel

// Cleanup: which voice Claude rewrites in, with which model and key, and the user's own
// voices.
ColumnLayout {
    id: tab

    spacing: 16
    Component.onCompleted: ApiKey.refresh()

    SettingsSection {
        SettingsRow {
            id: styleRow
            label: qsTr("Cleanup style")
            help: qsTr("How Claude rewrites the transcript, or Off to keep it raw.")
            ChoiceBox {
                objectName: "cleanupModePicker"
                choices: Settings.cleanupModes
                current: Settings.cleanupMode
                help: styleRow.help
                Accessible.name: styleRow.label
                onChosen: value => Settings.cleanupMode = value
            }
        }
        SettingsNote {
            text: qsTr("Off keeps the raw transcript on your computer. The built-in modes and your own styles below send it to Claude to rewrite in that voice.")
        }
        SettingsRow {
            id: modelRow
            label: qsTr("Cleanup model")
            help: qsTr("Which Claude model cleans up the text.")
            ChoiceBox {
                objectName: "cleanupModelPicker"
                choices: Settings.cleanupModels
                current: Settings.cleanupModel
                help: modelRow.help
                Accessible.name: modelRow.label
                onChosen: value => Settings.cleanupModel = value
            }
        }
        SettingsRow {
            label: qsTr("Anthropic API key")
            TextField {
                id: keyField
                objectName: "apiKeyField"
                visible: !ApiKey.stored
                placeholderText: qsTr("Anthropic API key")
                echoMode: TextInput.Password
                implicitWidth: 240
                Accessible.name: qsTr("Anthropic API key")
                onAccepted: ApiKey.save(text)
            }
            MurButton {
                objectName: "saveApiKeyButton"
                visible: !ApiKey.stored
                enabled: !ApiKey.busy
                text: qsTr("Save")
                Accessible.name: qsTr("Save the key to your keyring")
                ToolTip.visible: hovered
                ToolTip.text: qsTr("Save the key to your keyring")
                onClicked: ApiKey.save(keyField.text)
            }
            Row {
                visible: ApiKey.stored
                spacing: 6
                LineIcon { name: "checkmark.seal.fill"; color: Theme.confirm; anchors.verticalCenter: parent.verticalCenter }
                Label { text: qsTr("Key stored in your keyring"); color: Theme.confirm }
            }
            Connections {
                target: ApiKey
                function onSaved() { keyField.clear() }
            }
        }
        Label {
            visible: ApiKey.error !== ""
            text: ApiKey.error
            color: Theme.pink
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
    }

    SettingsSection {
        title: qsTr("Your styles")
        SettingsNote {
            text: qsTr("Create your own cleanup voices with a name and an instruction. They join the built-in modes in the Style picker above.")
        }
        Repeater {
            model: Styles
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
                        placeholderText: qsTr("Style name")
                        Accessible.name: qsTr("Style name")
                        Layout.fillWidth: true
                        onTextEdited: Styles.setFirst(styleItem.itemId, text)
                    }
                    MurButton {
                        iconName: "trash"
                        Accessible.name: qsTr("Delete this style")
                        help: qsTr("Delete this style")
                        onClicked: Styles.remove(styleItem.itemId)
                    }
                }
                TextArea {
                    id: promptArea
                    text: styleItem.prompt
                    placeholderText: qsTr("How Claude should rewrite it, in your words…")
                    Accessible.name: qsTr("Style instruction")
                    wrapMode: TextEdit.Wrap
                    Layout.fillWidth: true
                    // From two to six lines, then it scrolls.
                    Layout.preferredHeight: Math.min(Math.max(contentHeight, 2 * font.pixelSize * 1.4),
                                                     6 * font.pixelSize * 1.4) + topPadding + bottomPadding
                    // Tab moves on, as everywhere else on the screen, instead of typing a tab.
                    Keys.onTabPressed: nextItemInFocusChain(true).forceActiveFocus(Qt.TabFocusReason)
                    Keys.onBacktabPressed: nextItemInFocusChain(false).forceActiveFocus(Qt.BacktabFocusReason)
                    onTextChanged: if (text !== styleItem.prompt) Styles.setSecond(styleItem.itemId, text)
                    background: Rectangle { color: Theme.bg; border.color: Theme.line; radius: 4 }
                }
            }
        }
        MurButton {
            objectName: "addStyleButton"
            text: qsTr("Add style")
            Accessible.name: text
            ToolTip.visible: hovered
            ToolTip.text: qsTr("Create a custom cleanup style")
            onClicked: Styles.add()
        }
    }
}
