import QtQuick

// The eye of Murmel: a violet ring around an iris that runs from cyan to pink. Glowing, it
// wears a soft halo and the iris breathes, unless motion is reduced.
Item {
    id: root

    property real size: 64
    property bool glowing: false
    property bool reduceMotion: Theme.reduceMotion

    readonly property bool onScreen: Theme.onScreen(root)

    implicitWidth: size
    implicitHeight: size

    // Drawn on the 18-unit grid of the tray icon, so the small and large eyes match.
    readonly property real unit: size / 18
    readonly property color ringColor: Qt.rgba(0.55, 0.44, 0.91, 1)
    readonly property color irisFrom: Qt.rgba(0.49, 0.886, 1.0, 1)
    readonly property color irisTo: Qt.rgba(1.0, 0.48, 0.74, 1)

    Rectangle {
        anchors.centerIn: parent
        width: root.size * 1.2
        height: width
        radius: width / 2
        color: Theme.violet
        opacity: root.glowing ? 0.16 : 0
        visible: opacity > 0
    }

    Canvas {
        id: ring
        anchors.fill: parent
        onPaint: {
            const ctx = getContext("2d")
            ctx.reset()
            ctx.lineWidth = 1.5 * root.unit
            ctx.strokeStyle = root.ringColor
            ctx.beginPath()
            ctx.arc(width / 2, height / 2, width / 2 - 1.25 * root.unit, 0, 2 * Math.PI)
            ctx.stroke()
        }
    }

    Canvas {
        id: iris
        anchors.fill: parent
        transformOrigin: Item.Center
        onPaint: {
            const ctx = getContext("2d")
            ctx.reset()
            const r = width / 2 - 6.25 * root.unit
            const cx = width / 2
            const cy = height / 2
            // −60° from the horizontal: from lower left to upper right.
            const dx = 0.5 * r
            const dy = 0.866 * r
            const gradient = ctx.createLinearGradient(cx - dx, cy + dy, cx + dx, cy - dy)
            gradient.addColorStop(0, root.irisFrom)
            gradient.addColorStop(1, root.irisTo)
            ctx.fillStyle = gradient
            ctx.beginPath()
            ctx.arc(cx, cy, r, 0, 2 * Math.PI)
            ctx.fill()
        }

        SequentialAnimation on scale {
            running: root.glowing && !root.reduceMotion && root.onScreen
            loops: Animation.Infinite
            alwaysRunToEnd: true
            NumberAnimation { from: 1.0; to: 1.12; duration: 900; easing.type: Easing.InOutSine }
            NumberAnimation { from: 1.12; to: 1.0; duration: 900; easing.type: Easing.InOutSine }
        }
    }

    onSizeChanged: {
        ring.requestPaint()
        iris.requestPaint()
    }
}
