import QtQuick
import QtQuick.Controls.Basic

// An on/off switch in the theme's colours: a dim track when off, the cyan accent when on,
// with a focus ring for the keyboard.
AbstractButton {
    id: control
    checkable: true
    focusPolicy: Qt.StrongFocus
    implicitWidth: 40
    implicitHeight: 22
    Accessible.role: Accessible.CheckBox
    Accessible.checkable: true
    Accessible.checked: checked
    Keys.onReturnPressed: toggle(), toggled()

    background: Rectangle {
        radius: height / 2
        color: control.checked ? Theme.cyan : Theme.lineStrong
        opacity: control.enabled ? 1 : 0.5
        border.width: control.visualFocus ? 2 : 0
        border.color: Theme.ink

        Rectangle {
            x: control.checked ? parent.width - width - 3 : 3
            anchors.verticalCenter: parent.verticalCenter
            width: 16
            height: 16
            radius: 8
            color: control.checked ? Theme.onChrome : Theme.ink
            Behavior on x {
                enabled: !Theme.reduceMotion
                NumberAnimation { duration: 120 }
            }
        }
    }
}
