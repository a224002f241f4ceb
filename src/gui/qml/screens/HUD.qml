import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Murmel

// The dictation display: one row on a dark rounded plate. Listening shows the eye as a stop
// button and the level bars; working a spinner; done a check mark with the confirmation;
// aiming the click pointer with what a click will do.
Item {
    id: root

    // What to show, and the controller whose requestStop() the eye button calls (none:
    // the button does nothing).
    required property HUDModel hudModel
    required property HUDController controller

    readonly property int mode: hudModel ? hudModel.state : HUDModel.State.listening

    implicitWidth: 260
    implicitHeight: 60

    Rectangle {
        id: plate
        objectName: "plate"
        anchors.centerIn: parent
        width: Math.min(root.width - 8, Math.max(210, row.implicitWidth + 32))
        height: 44
        radius: 14
        color: Theme.panel
        border.width: 1
        border.color: Theme.lineStrong

        Behavior on width {
            enabled: !Theme.reduceMotion
            NumberAnimation {
                duration: Theme.easeDuration
                easing.type: Easing.BezierSpline
                easing.bezierCurve: Theme.easeCurve
            }
        }

        RowLayout {
            id: row
            anchors.centerIn: parent
            spacing: 10

            RoundButton {
                id: stopButton
                objectName: "stopButton"
                visible: root.mode === HUDModel.State.listening
                flat: true
                padding: 4
                implicitWidth: 30
                implicitHeight: 30
                focusPolicy: Qt.NoFocus
                contentItem: MUREye {
                    size: 22
                    glowing: true
                }
                background: Rectangle {
                    radius: width / 2
                    color: stopButton.down ? Theme.lineStrong : stopButton.hovered ? Theme.line : "transparent"
                }
                Accessible.name: qsTr("Stop dictation")
                // Beside the button: the display is too low for a tip above or below it, and
                // one pushed back over the button would take the click meant for it.
                ToolTip {
                    parent: stopButton
                    x: stopButton.width + 6
                    y: (stopButton.height - height) / 2
                    text: qsTr("Stop dictation")
                    visible: stopButton.hovered
                    delay: 600
                }
                onClicked: {
                    if (root.controller)
                        root.controller.requestStop()
                }
            }

            SoundWaveBars {
                objectName: "levelBars"
                visible: root.mode === HUDModel.State.listening
                count: 7
                level: root.hudModel ? root.hudModel.level : 0
            }

            Item {
                id: spinner
                objectName: "spinner"
                visible: root.mode === HUDModel.State.working
                implicitWidth: 16
                implicitHeight: 16
                Accessible.role: Accessible.ProgressBar
                Accessible.name: qsTr("Transcribing")

                Canvas {
                    id: arc
                    anchors.fill: parent
                    readonly property color colour: Theme.muted
                    onColourChanged: requestPaint()
                    onPaint: {
                        const ctx = getContext("2d")
                        ctx.reset()
                        ctx.lineWidth = 2
                        ctx.lineCap = "round"
                        ctx.strokeStyle = colour
                        ctx.beginPath()
                        ctx.arc(width / 2, height / 2, width / 2 - 1.5, 0, 1.5 * Math.PI)
                        ctx.stroke()
                    }
                    RotationAnimator on rotation {
                        running: spinner.visible
                        from: 0
                        to: 360
                        duration: 900
                        loops: Animation.Infinite
                    }
                }
            }

            CheckGlyph {
                objectName: "checkMark"
                visible: root.mode === HUDModel.State.done
                size: 16
                color: Theme.confirm
            }

            CursorClickGlyph {
                objectName: "clickPointer"
                visible: root.mode === HUDModel.State.aiming
                size: 18
                color: Theme.cyan
            }

            Label {
                id: caption
                objectName: "caption"
                text: root.mode === HUDModel.State.listening ? qsTr("Listening")
                    : root.mode === HUDModel.State.working ? qsTr("Transcribing")
                    : root.hudModel ? root.hudModel.confirmText : ""
                color: root.mode === HUDModel.State.done ? Theme.confirm
                     : root.mode === HUDModel.State.aiming ? Theme.ink : Theme.muted
                // The longer confirmations ("Click a text field to insert · Esc cancels") do
                // not fit one line of the panel: they take two smaller lines instead of
                // losing their end.
                font.pixelSize: oneLine.advanceWidth > captionWidth ? 11 : 13
                font.weight: Font.Medium
                wrapMode: Text.WordWrap
                maximumLineCount: 2
                elide: Text.ElideRight
                Layout.maximumWidth: captionWidth

                readonly property real captionWidth: 196

                TextMetrics {
                    id: oneLine
                    font.family: caption.font.family
                    font.pixelSize: 13
                    font.weight: Font.Medium
                    text: caption.text
                }
            }
        }
    }
}
