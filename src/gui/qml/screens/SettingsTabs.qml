import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Murmel

// The settings screen's tab bar: one button per tab, in order; the open tab lives in the
// navigation state, so it survives leaving the screen.
RowLayout {
    id: bar
    spacing: 4

    Repeater {
        model: Settings.tabs
        delegate: Button {
            required property var modelData
            text: modelData.label
            flat: true
            checkable: true
            checked: Nav.settingsTab === modelData.value
            onClicked: {
                Nav.settingsTab = modelData.value
                checked = Qt.binding(() => Nav.settingsTab === modelData.value)
            }
            Accessible.name: qsTr("%1 settings").arg(modelData.label)
            Accessible.role: Accessible.PageTab
            ToolTip.visible: hovered
            ToolTip.text: qsTr("Show the %1 settings").arg(modelData.label)
            contentItem: Label {
                text: parent.text
                color: parent.checked ? Theme.ink : Theme.body
                font.weight: parent.checked ? Font.DemiBold : Font.Normal
                horizontalAlignment: Text.AlignHCenter
            }
            background: Rectangle {
                radius: 6
                color: parent.checked ? Theme.lineStrong : "transparent"
                border.color: parent.activeFocus ? Theme.accent : "transparent"
            }
        }
    }
}
