import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Murmel

// The settings screen's tab bar: one button per tab, in order; the open tab lives in the
// navigation state, so it survives leaving the screen.
RowLayout {
    id: bar
    required property QtObject settings
    spacing: 4

    Repeater {
        model: bar.settings.tabs
        delegate: Button {
            required property var modelData
            objectName: "tab_" + modelData.value
            text: modelData.label
            flat: true
            checkable: true
            checked: bar.settings.settingsTab === modelData.value
            onClicked: {
                bar.settings.settingsTab = modelData.value
                checked = Qt.binding(() => bar.settings.settingsTab === modelData.value)
            }
            Accessible.name: modelData.label + " settings"
            Accessible.role: Accessible.PageTab
            ToolTip.visible: hovered
            ToolTip.text: "Show the " + modelData.label + " settings"
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
