import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Murmel

// The file screen over the one file model: a drop zone until a file arrives, then the
// file's header with what each phase has to show. The whole screen takes dropped files;
// the model decides what to do with them (a file arriving while one is worked on is
// ignored there).
Item {
    id: screen

    required property QtObject chooser // the desktop's file dialogs (FileChooser)

    // A drag hovers over the screen.
    property bool targeted: drop.containsDrag
    readonly property int phase: FileTranscription.phase
    readonly property bool reduceMotion: Theme.reduceMotion

    // The progress shown: the model's figure moved on smoothly between its reports.
    property real shownProgress: 0
    property real clock: 0

    function chooseFile() {
        chooser.chooseFile(qsTr("Choose an audio or video file"), FileTranscription.acceptedNameFilters(),
                           url => FileTranscription.handle(url))
    }

    function exportAs(ext) {
        chooser.chooseSaveFile(ext === "srt" ? qsTr("Export subtitles") : qsTr("Export plain text"),
                               FileTranscription.proposedExportUrl(ext),
                               ext === "srt" ? qsTr("Subtitles (*.srt)") : qsTr("Plain text (*.txt)"),
                               url => FileTranscription.saveExport(url, ext))
    }

    DropArea {
        id: drop
        anchors.fill: parent
        keys: ["text/uri-list"]
        // Only the first file counts, and a drop is always taken, even an empty one.
        onDropped: drag => {
            drag.accept(Qt.CopyAction)
            if (drag.hasUrls && drag.urls.length > 0)
                FileTranscription.handle(drag.urls[0])
        }
    }

    FrameAnimation {
        running: screen.phase === FileTranscription.Phase.transcribing && Theme.onScreen(screen)
        onTriggered: {
            screen.clock += frameTime
            screen.shownProgress = FileTranscription.live.smoothed(FileTranscription.live.now())
        }
    }
    Connections {
        target: FileTranscription.live
        function onFractionChanged() { screen.shownProgress = FileTranscription.live.smoothed(FileTranscription.live.now()) }
    }

    Rectangle {
        anchors.fill: parent
        radius: 14
        color: screen.targeted ? Qt.rgba(125 / 255, 226 / 255, 1, 0.06) : "transparent"
        border.width: screen.targeted ? 2 : 0
        border.color: Theme.cyan
        Behavior on color { ColorAnimation { duration: screen.reduceMotion ? 0 : 150 } }
    }

    // Empty: the drop zone.
    ColumnLayout {
        objectName: "dropZone"
        visible: screen.phase === FileTranscription.Phase.empty
        anchors.centerIn: parent
        spacing: 12

        Rectangle {
            Layout.alignment: Qt.AlignHCenter
            width: 340
            height: 200
            radius: 16
            color: Theme.panel
            border.width: 1
            border.color: screen.targeted ? Theme.cyan : Theme.lineStrong

            ColumnLayout {
                anchors.centerIn: parent
                spacing: 10
                LineIcon {
                    name: "waveform"
                    size: 40
                    color: screen.targeted ? Theme.cyan : Theme.accent
                    Layout.alignment: Qt.AlignHCenter
                }
                Label {
                    text: qsTr("Drop audio or video")
                    color: Theme.ink
                    font.pixelSize: 17
                    font.weight: Font.DemiBold
                    Layout.alignment: Qt.AlignHCenter
                }
                Label {
                    text: "mp3 · m4a · wav · mp4 · mov"
                    color: Theme.muted
                    font.pixelSize: 12
                    Layout.alignment: Qt.AlignHCenter
                }
            }
        }
        MurButton {
            objectName: "chooseFileButton"
            text: qsTr("Choose file")
            primary: true
            help: qsTr("Choose an audio or video file to transcribe")
            Layout.alignment: Qt.AlignHCenter
            onClicked: screen.chooseFile()
        }
    }

    // Failed: what went wrong, and a way on.
    ColumnLayout {
        objectName: "failure"
        visible: screen.phase === FileTranscription.Phase.failed
        anchors.centerIn: parent
        width: Math.min(parent.width - 40, 440)
        spacing: 12
        LineIcon {
            name: "exclamationmark.triangle"
            size: 36
            color: Theme.pink
            Layout.alignment: Qt.AlignHCenter
        }
        Label {
            text: FileTranscription.failureMessage
            color: Theme.ink
            wrapMode: Text.Wrap
            horizontalAlignment: Text.AlignHCenter
            Layout.fillWidth: true
        }
        MurButton {
            objectName: "tryAnotherButton"
            text: qsTr("Try another file")
            help: qsTr("Choose a different file to transcribe")
            Layout.alignment: Qt.AlignHCenter
            onClicked: screen.chooseFile()
        }
    }

    // Decoding, transcribing and done: the file's header above the phase's content.
    ColumnLayout {
        visible: screen.phase === FileTranscription.Phase.decoding || screen.phase === FileTranscription.Phase.transcribing || screen.phase === FileTranscription.Phase.done
        anchors.fill: parent
        spacing: 14

        ColumnLayout {
            spacing: 4
            Layout.fillWidth: true
            Label {
                objectName: "fileTitle"
                text: FileTranscription.title
                color: Theme.ink
                font.pixelSize: 18
                font.weight: Font.DemiBold
                elide: Text.ElideMiddle
                Layout.fillWidth: true
                Accessible.role: Accessible.Heading
            }
            Label {
                objectName: "metaLine"
                text: FileTranscription.metaLine.toUpperCase()
                visible: text !== ""
                color: Theme.muted
                font.pixelSize: 11
                font.letterSpacing: 1.2
            }
        }

        Label {
            objectName: "readingLine"
            visible: screen.phase === FileTranscription.Phase.decoding
            text: qsTr("Reading the file…")
            color: Theme.body
            // Takes the room the other phases fill, so the header stays at the top.
            verticalAlignment: Text.AlignTop
            Layout.fillHeight: true
        }

        // Transcribing: the readout and the words so far.
        ColumnLayout {
            visible: screen.phase === FileTranscription.Phase.transcribing
            spacing: 10
            Layout.fillWidth: true
            Layout.fillHeight: true

            Rectangle {
                Layout.fillWidth: true
                Layout.preferredHeight: 120
                radius: 12
                color: Theme.panel
                border.color: Theme.line
                ColumnLayout {
                    anchors.fill: parent
                    anchors.margins: 14
                    spacing: 6
                    WaveformView {
                        objectName: "waveform"
                        envelope: FileTranscription.envelope
                        progress: screen.shownProgress
                        time: screen.clock
                        Layout.fillWidth: true
                        Layout.fillHeight: true
                    }
                    RowLayout {
                        Label {
                            objectName: "percent"
                            text: FileTranscription.percentText(screen.shownProgress)
                            color: Theme.ink
                            font.pixelSize: 15
                            font.weight: Font.DemiBold
                            Accessible.name: qsTr("Progress %1").arg(text)
                        }
                        Label {
                            text: qsTr("Transcribing on your computer…")
                            color: Theme.body
                            font.pixelSize: 12
                            Layout.fillWidth: true
                            horizontalAlignment: Text.AlignRight
                        }
                    }
                }
            }
            ScrollView {
                Layout.fillWidth: true
                Layout.fillHeight: true
                clip: true
                TextArea {
                    objectName: "liveText"
                    readOnly: true
                    selectByMouse: true
                    wrapMode: Text.Wrap
                    text: FileTranscription.live.text !== "" ? FileTranscription.live.text : qsTr("Listening for the first words…")
                    color: FileTranscription.live.text !== "" ? Theme.ink : Theme.muted
                    background: null
                    Accessible.name: qsTr("Live transcript")
                }
            }
        }

        // Done: the transcript and what to do with it.
        ColumnLayout {
            visible: screen.phase === FileTranscription.Phase.done
            spacing: 10
            Layout.fillWidth: true
            Layout.fillHeight: true

            Rectangle {
                Layout.fillWidth: true
                Layout.fillHeight: true
                radius: 12
                color: Theme.panel
                border.color: Theme.line
                ListView {
                    id: segmentList
                    objectName: "segmentList"
                    anchors.fill: parent
                    anchors.margins: 12
                    clip: true
                    spacing: 8
                    model: FileTranscription.segments
                    activeFocusOnTab: true
                    Accessible.role: Accessible.List
                    Accessible.name: qsTr("Transcript")
                    ScrollBar.vertical: ScrollBar {}
                    delegate: RowLayout {
                        required property var modelData
                        width: segmentList.width - 12
                        spacing: 12
                        Label {
                            text: modelData.time
                            color: Theme.muted
                            font.pixelSize: 12
                            Layout.alignment: Qt.AlignTop
                            Layout.preferredWidth: 44
                        }
                        TextEdit {
                            text: modelData.text
                            readOnly: true
                            selectByMouse: true
                            wrapMode: Text.Wrap
                            color: Theme.ink
                            selectionColor: Theme.lineStrong
                            font.pixelSize: 14
                            Layout.fillWidth: true
                        }
                    }
                }
            }

            RowLayout {
                spacing: 8
                Layout.fillWidth: true
                MurButton {
                    objectName: "copyAllButton"
                    text: qsTr("Copy all")
                    iconName: "doc.on.doc"
                    help: qsTr("Copy the full transcript to the clipboard")
                    onClicked: FileTranscription.copyAll()
                }
                MurButton {
                    id: exportButton
                    objectName: "exportButton"
                    text: qsTr("Export")
                    iconName: "square.and.arrow.up"
                    help: qsTr("Export as plain text or subtitles")
                    Accessible.name: qsTr("Export transcript")
                    onClicked: exportMenu.open()
                    Menu {
                        id: exportMenu
                        objectName: "exportMenu"
                        // Upwards: the actions sit at the bottom of the window.
                        y: -height
                        MenuItem {
                            text: qsTr("Plain text (.txt)")
                            onTriggered: screen.exportAs("txt")
                        }
                        MenuItem {
                            text: qsTr("Subtitles (.srt)")
                            onTriggered: screen.exportAs("srt")
                        }
                    }
                }
                MurButton {
                    objectName: "insertButton"
                    visible: FileTranscription.canInsertByClicking
                    text: qsTr("Insert by clicking")
                    iconName: "cursorarrow.click"
                    help: qsTr("Then click any text field, in any app, and the transcript is pasted right there.")
                    onClicked: FileTranscription.insertByClicking()
                }
                Label {
                    objectName: "noClickInsert"
                    visible: !FileTranscription.canInsertByClicking
                    text: qsTr("This desktop does not let Murmel see clicks in other apps: copy, then paste.")
                    color: Theme.muted
                    font.pixelSize: 12
                }
                RowLayout {
                    objectName: "copiedMark"
                    visible: FileTranscription.justCopied
                    spacing: 4
                    CheckGlyph { size: 14 }
                    Label { text: qsTr("Copied"); color: Theme.confirm; font.pixelSize: 12 }
                }
                Item { Layout.fillWidth: true }
                MurButton {
                    objectName: "anotherFileButton"
                    iconName: "plus"
                    help: qsTr("Transcribe another file")
                    Accessible.name: qsTr("Transcribe another file")
                    onClicked: screen.chooseFile()
                }
            }
        }
    }
}
