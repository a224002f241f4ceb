import QtQuick
import QtQuick.Controls.Basic

// The screens' button: a quiet outlined one, or with `primary` the one filled button of a
// screen. `help` is the hover text and the screen reader's description; a keyboard focus
// ring shows which button Space or Return would press.
Button {
    id: control

    property string iconName
    property string help
    property bool primary: false
    property real iconSize: 16

    padding: 8
    leftPadding: 14
    rightPadding: 14
    focusPolicy: Qt.StrongFocus

    ToolTip.visible: help !== "" && hovered
    ToolTip.delay: 600
    ToolTip.text: help
    // Set explicitly: once the description creates the attached object, the button no
    // longer passes its text on as the name by itself.
    Accessible.name: text
    Accessible.description: help

    Keys.onReturnPressed: clicked()
    Keys.onEnterPressed: clicked()

    contentItem: Item {
        implicitWidth: row.implicitWidth
        implicitHeight: row.implicitHeight
        Row {
            id: row
            anchors.centerIn: parent
            spacing: 8
            LineIcon {
                visible: control.iconName !== ""
                name: control.iconName
                size: control.iconSize
                color: control.primary ? Theme.onChrome : (control.enabled ? Theme.accent : Theme.muted)
                anchors.verticalCenter: parent.verticalCenter
            }
            Label {
                visible: control.text !== ""
                text: control.text
                color: control.primary ? Theme.onChrome : (control.enabled ? Theme.ink : Theme.muted)
                font.pixelSize: 14
                font.weight: control.primary ? Font.DemiBold : Font.Normal
                anchors.verticalCenter: parent.verticalCenter
            }
        }
    }

    background: Rectangle {
        implicitHeight: 34
        radius: 8
        opacity: control.enabled ? 1 : 0.5
        color: control.primary ? (control.down ? Theme.accent : Theme.accentSoft)
                               : (control.down ? Theme.lineStrong : (control.hovered ? Theme.line : Theme.panel))
        border.width: control.visualFocus ? 2 : 1
        border.color: control.visualFocus ? Theme.cyan : (control.primary ? "transparent" : Theme.lineStrong)
    }
}
