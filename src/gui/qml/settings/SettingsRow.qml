import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Murmel

// One labelled row: the label on the left, its control on the right, and the help text
// shown when the pointer rests on the row.
RowLayout {
    id: row
    property string label
    property string help
    default property alias control: slot.data

    Layout.fillWidth: true
    spacing: 12

    Label {
        id: caption
        text: row.label
        color: Theme.ink
        // One line: a wrapping label's height settles only after the layout has placed
        // the control beside it, and Qt 6.4 does not place it again.
        elide: Text.ElideRight
        Layout.fillWidth: true
        HoverHandler { id: hover }
        ToolTip.visible: hover.hovered && row.help !== ""
        ToolTip.text: row.help
    }
    Row {
        id: slot
        spacing: 8
        Layout.alignment: Qt.AlignVCenter | Qt.AlignRight
    }
}
