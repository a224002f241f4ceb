import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Murmel

// Support: how to reach us.
ColumnLayout {
    id: tab
    required property QtObject settings

    spacing: 16

    SettingsSection {
        Label {
            text: "Questions, bugs, or ideas?"
            color: Theme.ink
            font.pixelSize: 15
        }
        TextEdit {
            objectName: "supportAddress"
            text: tab.settings.supportAddress
            readOnly: true
            selectByMouse: true
            color: Theme.accentSoft
            selectionColor: Theme.lineStrong
            Accessible.name: "Support address"
            Accessible.role: Accessible.StaticText
        }
        MurButton {
            objectName: "emailSupportButton"
            text: "Email support"
            Accessible.name: text
            Accessible.description: "Email support with your app version prefilled"
            ToolTip.visible: hovered
            ToolTip.text: "Email support with your app version prefilled"
            onClicked: Qt.openUrlExternally(tab.settings.supportMailUrl)
        }
        SettingsNote {
            text: "The email opens with your app version filled in, so we can help faster."
        }
    }
}
