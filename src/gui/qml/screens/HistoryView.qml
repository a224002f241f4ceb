import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Murmel

// The history screen: the search field and the kind filter over the list of transcripts,
// and the selected one in full beside it. `history` is a HistoryViewModel made for this
// visit of the screen, so the search, the filter and the selection start empty each time.
Item {
    id: view
    required property HistoryViewModel history

    RowLayout {
        anchors.fill: parent
        spacing: 16

        ColumnLayout {
            // The list keeps its width; the detail takes what is left.
            Layout.preferredWidth: 300
            Layout.maximumWidth: 300
            Layout.fillHeight: true
            spacing: 8

            // A damaged or unsaved history says so, rather than looking empty or complete.
            Label {
                objectName: "historyProblem"
                visible: text !== ""
                text: view.history.problem
                color: Theme.pink
                wrapMode: Text.Wrap
                Layout.fillWidth: true
                Accessible.role: Accessible.AlertMessage
                Accessible.name: text
            }

            RowLayout {
                Layout.fillWidth: true
                TextField {
                    id: search
                    objectName: "searchField"
                    placeholderText: qsTr("Search transcripts")
                    Accessible.name: qsTr("Search transcripts")
                    Layout.fillWidth: true
                    onTextChanged: view.history.query = text
                }
                MurButton {
                    objectName: "clearSearchButton"
                    visible: search.text !== ""
                    text: qsTr("✕")
                    flat: true
                    Accessible.name: qsTr("Clear search")
                    ToolTip.visible: hovered
                    ToolTip.text: qsTr("Clear the search")
                    onClicked: search.clear()
                }
            }

            RowLayout {
                spacing: 4
                Repeater {
                    model: view.history.kindFilters
                    delegate: Button {
                        required property var modelData
                        text: modelData.label
                        checkable: true
                        checked: view.history.kindFilter === modelData.value
                        onClicked: {
                            view.history.kindFilter = modelData.value
                            checked = Qt.binding(() => view.history.kindFilter === modelData.value)
                        }
                        Accessible.name: modelData.label
                        Accessible.description: modelData.help
                        ToolTip.visible: hovered
                        ToolTip.text: modelData.help
                    }
                }
            }

            ListView {
                id: list
                objectName: "historyList"
                Layout.fillWidth: true
                Layout.fillHeight: true
                clip: true
                model: view.history
                activeFocusOnTab: count > 0
                keyNavigationEnabled: true
                Accessible.name: qsTr("Transcripts")
                Accessible.role: Accessible.List
                onCurrentIndexChanged: if (activeFocus && currentItem) view.history.selection = currentItem.recordId

                delegate: ItemDelegate {
                    id: row
                    required property string recordId
                    required property string kindIcon
                    required property string title
                    required property string dateText
                    required property int index
                    width: ListView.view.width
                    // The list is one stop for Tab; the arrow keys move within it.
                    focusPolicy: Qt.NoFocus
                    highlighted: view.history.selection === recordId
                    Accessible.name: title + ", " + dateText
                    onClicked: {
                        list.currentIndex = index
                        view.history.selection = recordId
                    }
                    background: Rectangle {
                        color: row.highlighted ? Theme.lineStrong : (row.hovered ? Theme.line : "transparent")
                        radius: 6
                    }
                    contentItem: RowLayout {
                        spacing: 8
                        LineIcon { name: row.kindIcon; color: Theme.muted }
                        ColumnLayout {
                            spacing: 2
                            Layout.fillWidth: true
                            Label {
                                text: row.title
                                color: Theme.ink
                                elide: Text.ElideRight
                                Layout.fillWidth: true
                            }
                            Label {
                                text: row.dateText
                                color: Theme.muted
                                font.pixelSize: 11
                            }
                        }
                    }
                    TapHandler {
                        acceptedButtons: Qt.RightButton
                        onTapped: rowMenu.popup()
                    }
                    Menu {
                        id: rowMenu
                        MenuItem {
                            text: qsTr("Copy")
                            onTriggered: view.history.copy(row.recordId)
                        }
                        MenuItem {
                            text: qsTr("Delete")
                            onTriggered: view.history.remove(row.recordId)
                        }
                    }
                }

                ColumnLayout {
                    objectName: "listPlaceholder"
                    anchors.centerIn: parent
                    visible: view.history.placeholder !== ""
                    LineIcon {
                        name: view.history.placeholderIcon
                        color: Theme.muted
                        size: 28
                        Layout.alignment: Qt.AlignHCenter
                    }
                    Label {
                        text: view.history.placeholder
                        color: Theme.body
                        Layout.alignment: Qt.AlignHCenter
                    }
                }
            }
        }

        Rectangle {
            Layout.fillHeight: true
            width: 1
            color: Theme.line
        }

        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true

            ColumnLayout {
                objectName: "detailPlaceholder"
                anchors.centerIn: parent
                visible: view.history.selection === ""
                LineIcon {
                    name: "document"
                    color: Theme.muted
                    size: 28
                    Layout.alignment: Qt.AlignHCenter
                }
                Label {
                    text: qsTr("Select a transcript")
                    color: Theme.body
                    Layout.alignment: Qt.AlignHCenter
                }
            }

            ColumnLayout {
                objectName: "detail"
                anchors.fill: parent
                visible: view.history.selection !== ""
                spacing: 8

                Label {
                    text: view.history.selectedTitle
                    color: Theme.ink
                    font.pixelSize: 17
                    font.weight: Font.DemiBold
                    wrapMode: Text.Wrap
                    Layout.fillWidth: true
                }
                Label {
                    text: view.history.selectedDate
                    color: Theme.muted
                    font.pixelSize: 12
                }
                RowLayout {
                    spacing: 8
                    MurButton {
                        objectName: "copyButton"
                        text: qsTr("Copy")
                        Accessible.name: text
                        Accessible.description: qsTr("Copy this transcript to the clipboard")
                        ToolTip.visible: hovered
                        ToolTip.text: qsTr("Copy this transcript to the clipboard")
                        onClicked: view.history.copy(view.history.selection)
                    }
                    MurButton {
                        objectName: "deleteButton"
                        text: qsTr("Delete")
                        Accessible.name: text
                        Accessible.description: qsTr("Delete this transcript")
                        ToolTip.visible: hovered
                        ToolTip.text: qsTr("Delete this transcript")
                        onClicked: view.history.remove(view.history.selection)
                    }
                }
                ScrollView {
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    TextArea {
                        objectName: "detailText"
                        text: view.history.selectedText
                        readOnly: true
                        selectByMouse: true
                        wrapMode: TextEdit.Wrap
                        color: Theme.ink
                        Accessible.name: qsTr("Transcript text")
                        background: null
                    }
                }
            }
        }
    }
}
