import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Murmel

// The main window. Until the full screens arrive it shows the speech models, so a first
// run can fetch one; every value comes from the model store.
ApplicationWindow {
    id: window
    width: 520
    height: 380
    visible: true
    title: "Murmel"
    color: "#101114"

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 24
        spacing: 12

        Label {
            text: "Speech models"
            color: "#f2f2f2"
            font.pixelSize: 20
            font.weight: Font.DemiBold
        }

        Repeater {
            model: ModelList
            delegate: RowLayout {
                required property string rawValue
                required property string displayName
                required property string sizeLabel
                required property string downloadState
                Layout.fillWidth: true
                spacing: 12

                Label {
                    text: displayName
                    color: "#f2f2f2"
                    Layout.fillWidth: true
                }
                Label {
                    text: sizeLabel
                    color: "#9a9ca3"
                }
                Button {
                    text: downloadState === "ready" ? "Ready" : downloadState === "downloading"
                        ? Math.round(ModelStore.progress * 100) + "%" : "Download"
                    enabled: downloadState === "missing" && ModelStore.downloading === ""
                    Accessible.name: downloadState === "missing" ? "Download " + displayName : displayName + ", " + downloadState
                    onClicked: ModelList.download(rawValue)
                }
            }
        }

        Label {
            visible: ModelStore.lastError !== ""
            text: ModelStore.lastError
            color: "#ff6b6b"
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }

        Item { Layout.fillHeight: true }
    }
}
