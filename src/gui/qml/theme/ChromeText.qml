import QtQuick
import Qt5Compat.GraphicalEffects as Effects

// A title filled with the chrome gradient, left to right across the text, with a light
// sheen that sweeps over it now and then. With reduced motion the sheen stays away.
Item {
    id: root

    property string text
    property real pixelSize: 32
    property real letterSpacing: 0
    property int weight: Font.Bold
    property bool reduceMotion: Theme.reduceMotion

    // Where the middle of the sheen is, as a fraction of the width; outside 0 … 1 between
    // sweeps. Exposed so a still frame can be chosen.
    property real sheenPosition: -1

    implicitWidth: label.implicitWidth
    implicitHeight: label.implicitHeight

    Accessible.role: Accessible.StaticText
    Accessible.name: text

    Text {
        id: label
        anchors.fill: parent
        // Only its shape is used: the gradients below are masked by it.
        visible: false
        text: root.text
        color: "white"
        font.pixelSize: root.pixelSize
        font.letterSpacing: root.letterSpacing
        font.weight: root.weight
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        renderType: Text.QtRendering
    }

    Effects.LinearGradient {
        id: chrome
        objectName: "chromeFill"
        anchors.fill: label
        source: label
        start: Qt.point(0, 0)
        end: Qt.point(width, 0)
        gradient: Gradient {
            GradientStop { position: Theme.chromeStops[0].position; color: Theme.chromeStops[0].color }
            GradientStop { position: Theme.chromeStops[1].position; color: Theme.chromeStops[1].color }
            GradientStop { position: Theme.chromeStops[2].position; color: Theme.chromeStops[2].color }
            GradientStop { position: Theme.chromeStops[3].position; color: Theme.chromeStops[3].color }
            GradientStop { position: Theme.chromeStops[4].position; color: Theme.chromeStops[4].color }
            GradientStop { position: Theme.chromeStops[5].position; color: Theme.chromeStops[5].color }
            GradientStop { position: Theme.chromeStops[6].position; color: Theme.chromeStops[6].color }
            GradientStop { position: Theme.chromeStops[7].position; color: Theme.chromeStops[7].color }
            GradientStop { position: Theme.chromeStops[8].position; color: Theme.chromeStops[8].color }
        }
    }

    // The sheen: a narrow, slightly slanted band of light, also masked by the text. Outside
    // its start and end points the gradient keeps its transparent end colours.
    Effects.LinearGradient {
        id: sheen
        objectName: "sheen"
        anchors.fill: label
        source: label
        visible: !root.reduceMotion && root.sheenPosition > -0.5 && root.sheenPosition < 1.5
        readonly property real band: Math.max(24, root.pixelSize * 1.2)
        readonly property real centre: root.sheenPosition * width
        start: Qt.point(centre - band / 2, 0)
        end: Qt.point(centre + band / 2, band * 0.3)
        gradient: Gradient {
            GradientStop { position: 0.0; color: Qt.rgba(1, 1, 1, 0) }
            GradientStop { position: 0.5; color: Qt.rgba(1, 1, 1, 0.55) }
            GradientStop { position: 1.0; color: Qt.rgba(1, 1, 1, 0) }
        }
    }

    // The sheen passes shortly after the title comes on screen and then once a minute. Each
    // pass is a burst of frames; between passes nothing moves, so an idle window draws
    // nothing, and a closed or minimised one keeps no clock running at all.
    readonly property bool onScreen: text.length > 0 && Theme.onScreen(root)
    readonly property bool sheenScheduled: pacer.running || sweep.running
    property int sweepsShown: 0

    Timer {
        id: pacer
        interval: root.sweepsShown === 0 ? 2600 : 60000
        running: !root.reduceMotion && root.onScreen && !sweep.running
        onTriggered: {
            root.sweepsShown += 1
            sweep.start()
        }
    }

    NumberAnimation {
        id: sweep
        target: root
        property: "sheenPosition"
        from: -0.3
        to: 1.3
        duration: 1400
        easing.type: Easing.InOutQuad
        onStopped: root.sheenPosition = -1
    }

    onOnScreenChanged: {
        if (!onScreen) {
            sweepsShown = 0
            sweep.stop()
        }
    }
    onReduceMotionChanged: {
        if (reduceMotion)
            sweep.stop()
    }
}
