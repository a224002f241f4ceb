import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Murmel

// Dictionary: what Murmel tends to hear, and the term that should land instead.
ColumnLayout {
    id: tab
    required property QtObject rules

    spacing: 16

    SettingsSection {
        SettingsNote {
            text: "Fixes wordings on every dictation, right on your computer, before the text lands. Type what Murmel tends to hear, then the exact term you want. Works even with cleanup off, and tells Claude the correct spelling when cleanup is on."
        }
        SettingsNote {
            visible: tab.rules.count === 0
            text: "No words yet. Add one, like “brindle wick” → “BrindleWick”."
        }
        Repeater {
            model: tab.rules
            delegate: RowLayout {
                id: rule
                required property string itemId
                required property string heard
                required property string wanted
                Layout.fillWidth: true
                TextField {
                    text: rule.heard
                    placeholderText: "what it hears"
                    Accessible.name: "Heard word or phrase"
                    Layout.fillWidth: true
                    onTextEdited: tab.rules.setFirst(rule.itemId, text)
                }
                Label {
                    text: "→"
                    color: Theme.muted
                    Accessible.ignored: true
                }
                TextField {
                    text: rule.wanted
                    placeholderText: "correct term"
                    Accessible.name: "Correct term"
                    Layout.fillWidth: true
                    onTextEdited: tab.rules.setSecond(rule.itemId, text)
                }
                MurButton {
                    iconName: "trash"
                    Accessible.name: "Remove this word"
                    help: "Remove this word"
                    onClicked: tab.rules.remove(rule.itemId)
                }
            }
        }
        MurButton {
            objectName: "addWordButton"
            text: "Add word"
            Accessible.name: text
            ToolTip.visible: hovered
            ToolTip.text: "Add a dictionary rule"
            onClicked: tab.rules.add()
        }
    }
}
