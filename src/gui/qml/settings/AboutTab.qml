import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Murmel

// About: the eye, the product and its version.
ColumnLayout {
    id: tab
    required property QtObject settings
    required property QtObject egg           // EyeEgg

    spacing: 12

    GlitchEye {
        id: eye
        objectName: "aboutEye"
        size: 96
        Layout.alignment: Qt.AlignHCenter
        // Room for the eye's glow below the tab bar.
        Layout.topMargin: 20
        activeFocusOnTab: true
        onTapped: tab.egg.tap()
        Keys.onSpacePressed: tap()
    }
    Label {
        objectName: "eggMessage"
        visible: tab.egg.message !== ""
        text: tab.egg.message
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
    MurButton {
        objectName: "websiteButton"
        text: "Website"
        Accessible.name: "Open Murmel's website"
        ToolTip.visible: hovered
        ToolTip.text: "Open Murmel's website"
        Layout.alignment: Qt.AlignHCenter
        onClicked: Qt.openUrlExternally(tab.settings.website)
    }
}
