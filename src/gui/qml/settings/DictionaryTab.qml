import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Murmel

// Dictionary: what Murmel tends to hear, and the term that should land instead.
ColumnLayout {
    id: tab

    spacing: 16

    SettingsSection {
        SettingsNote {
            text: qsTr("Fixes wordings on every dictation, right on your computer, before the text lands. Type what Murmel tends to hear, then the exact term you want. Works even with cleanup off, and tells Claude the correct spelling when cleanup is on.")
        }
        SettingsNote {
            visible: DictionaryRules.count === 0
            text: qsTr("No words yet. Add one, like “brindle wick” → “BrindleWick”.")
        }
        Repeater {
            model: DictionaryRules
            delegate: RowLayout {
                id: rule
                required property string itemId
                required property string heard
                required property string wanted
                Layout.fillWidth: true
                TextField {
                    text: rule.heard
                    placeholderText: qsTr("what it hears")
                    Accessible.name: qsTr("Heard word or phrase")
                    Layout.fillWidth: true
                    onTextEdited: DictionaryRules.setFirst(rule.itemId, text)
                }
                Label {
                    text: qsTr("→")
                    color: Theme.muted
                    Accessible.ignored: true
                }
                TextField {
                    text: rule.wanted
                    placeholderText: qsTr("correct term")
                    Accessible.name: qsTr("Correct term")
                    Layout.fillWidth: true
                    onTextEdited: DictionaryRules.setSecond(rule.itemId, text)
                }
                MurButton {
                    iconName: "trash"
                    Accessible.name: qsTr("Remove this word")
                    help: qsTr("Remove this word")
                    onClicked: DictionaryRules.remove(rule.itemId)
                }
            }
        }
        MurButton {
            objectName: "addWordButton"
            text: qsTr("Add word")
            Accessible.name: text
            ToolTip.visible: hovered
            ToolTip.text: qsTr("Add a dictionary rule")
            onClicked: DictionaryRules.add()
        }
    }
}
