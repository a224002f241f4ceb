import QtQuick
import QtQuick.Controls.Basic
import Murmel

// A picker over a list of {value, label} entries that shows `current` and reports the
// entry the user chose; entries marked as dividers are drawn as a line and cannot be chosen.
ComboBox {
    id: box
    property var choices: []
    property var current
    property string help
    signal chosen(var value)

    model: choices
    textRole: "label"
    valueRole: "value"
    currentIndex: choices.findIndex(entry => !entry.divider && entry.value === current)
    displayText: currentIndex >= 0 ? choices[currentIndex].label : qsTr("")
    implicitContentWidthPolicy: ComboBox.WidestText
    onActivated: index => box.chosen(choices[index].value)

    delegate: ItemDelegate {
        required property var modelData
        required property int index
        width: box.width
        enabled: !modelData.divider
        height: modelData.divider ? 9 : implicitHeight
        text: modelData.divider ? "" : modelData.label
        highlighted: box.highlightedIndex === index
        background: Rectangle {
            color: modelData.divider ? "transparent" : (parent.highlighted ? Theme.lineStrong : Theme.panel)
            Rectangle {
                visible: modelData.divider
                anchors.verticalCenter: parent.verticalCenter
                width: parent.width
                height: 1
                color: Theme.lineStrong
            }
        }
    }

    ToolTip.visible: hovered && help !== ""
    ToolTip.text: help
    Accessible.description: help
}
