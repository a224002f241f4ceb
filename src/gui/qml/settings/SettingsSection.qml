import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Murmel

// A titled group of rows on a settings tab.
ColumnLayout {
    id: section
    property string title
    default property alias rows: body.data

    Layout.fillWidth: true
    spacing: 8

    Label {
        visible: section.title !== ""
        text: section.title
        color: Theme.accent
        font.pixelSize: 13
        font.weight: Font.DemiBold
        Accessible.role: Accessible.Heading
    }
    Rectangle {
        Layout.fillWidth: true
        implicitHeight: body.implicitHeight + 24
        color: Theme.panel
        border.color: Theme.line
        radius: 8
        ColumnLayout {
            id: body
            // Only the width is tied to the panel: the panel's height follows the rows,
            // never the other way round, so no row is stretched by a stale height.
            x: 12
            y: 12
            width: parent.width - 24
            spacing: 10
        }
    }
}
