import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Murmel

// About: the eye, the product and its version.
ColumnLayout {
    id: tab
    required property QtObject settings

    spacing: 12

    MUREye {
        id: eye
        objectName: "aboutEye"
        size: 96
        Layout.alignment: Qt.AlignHCenter
        Accessible.role: Accessible.Button
        Accessible.name: "Murmel's eye"
        activeFocusOnTab: true
        TapHandler { onTapped: tab.settings.tapEye() }
        Keys.onSpacePressed: tab.settings.tapEye()
    }
    Label {
        objectName: "eggMessage"
        visible: tab.settings.eggMessage !== ""
        text: tab.settings.eggMessage
        color: Theme.violet
        Layout.alignment: Qt.AlignHCenter
    }
    Label {
        objectName: "versionLabel"
        text: "Murmel " + tab.settings.version + " (" + tab.settings.build + ")"
        color: Theme.ink
        font.pixelSize: 16
        Layout.alignment: Qt.AlignHCenter
    }
    Button {
        objectName: "websiteButton"
        text: "Website"
        Accessible.name: "Open Murmel's website"
        ToolTip.visible: hovered
        ToolTip.text: "Open Murmel's website"
        Layout.alignment: Qt.AlignHCenter
        onClicked: Qt.openUrlExternally(tab.settings.website)
    }
}
