import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Murmel

// About: the eye, the product and its version.
ColumnLayout {
    id: tab

    spacing: 12

    GlitchEye {
        id: eye
        objectName: "aboutEye"
        size: 96
        Layout.alignment: Qt.AlignHCenter
        // Room for the eye's glow below the tab bar.
        Layout.topMargin: 20
        activeFocusOnTab: true
        onTapped: AboutEgg.tap()
        Keys.onSpacePressed: tap()
    }
    Label {
        objectName: "eggMessage"
        visible: AboutEgg.message !== ""
        text: AboutEgg.message
        color: Theme.violet
        Layout.alignment: Qt.AlignHCenter
    }
    Label {
        objectName: "versionLabel"
        text: qsTr("Murmel %1 (%2)").arg(Settings.version).arg(Settings.build)
        color: Theme.ink
        font.pixelSize: 16
        Layout.alignment: Qt.AlignHCenter
    }
    MurButton {
        objectName: "websiteButton"
        text: qsTr("Website")
        Accessible.name: qsTr("Open Murmel's website")
        ToolTip.visible: hovered
        ToolTip.text: qsTr("Open Murmel's website")
        Layout.alignment: Qt.AlignHCenter
        onClicked: Qt.openUrlExternally(Settings.website)
    }
}
