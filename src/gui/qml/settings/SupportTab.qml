import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Murmel

// Support: how to reach us.
ColumnLayout {
    id: tab

    spacing: 16

    SettingsSection {
        Label {
            text: qsTr("Questions, bugs, or ideas?")
            color: Theme.ink
            font.pixelSize: 15
        }
        TextEdit {
            objectName: "supportAddress"
            text: Settings.supportAddress
            readOnly: true
            selectByMouse: true
            color: Theme.accentSoft
            selectionColor: Theme.lineStrong
            Accessible.name: qsTr("Support address")
            Accessible.role: Accessible.StaticText
        }
        MurButton {
            objectName: "emailSupportButton"
            text: qsTr("Email support")
            Accessible.name: text
            Accessible.description: qsTr("Email support with your app version prefilled")
            ToolTip.visible: hovered
            ToolTip.text: qsTr("Email support with your app version prefilled")
            onClicked: Qt.openUrlExternally(Settings.supportMailUrl)
        }
        SettingsNote {
            text: qsTr("The email opens with your app version filled in, so we can help faster.")
        }
    }
}
