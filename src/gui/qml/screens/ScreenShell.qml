import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// The frame of every screen but home: a "Back" button and the title (with an optional
// accessory beside it) above the screen's content.
FocusScope {
    id: shell

    property string title
    property Component accessory: null
    default property alias content: body.data

    signal back()

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 20
        spacing: 16

        RowLayout {
            spacing: 14
            Layout.fillWidth: true

            MurButton {
                objectName: "backButton"
                text: qsTr("Back")
                iconName: "chevron.left"
                help: qsTr("Back to home (Ctrl+[)")
                onClicked: shell.back()
            }
            Label {
                objectName: "screenTitle"
                visible: shell.title !== ""
                text: shell.title
                color: Theme.ink
                font.pixelSize: 20
                font.weight: Font.DemiBold
                Accessible.role: Accessible.Heading
            }
            Loader {
                active: shell.accessory !== null
                sourceComponent: shell.accessory
                Layout.fillWidth: true
            }
            Item { Layout.fillWidth: shell.accessory === null }
        }

        Item {
            id: body
            Layout.fillWidth: true
            Layout.fillHeight: true
        }
    }
}
