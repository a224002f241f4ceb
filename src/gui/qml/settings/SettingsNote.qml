import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Murmel

// An explanation under a row or above an editor.
Label {
    color: Theme.body
    font.pixelSize: 12
    wrapMode: Text.Wrap
    Layout.fillWidth: true
}
