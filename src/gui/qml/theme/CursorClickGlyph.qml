import QtQuick

// A pointer with three short rays at its tip: "click where the text should go". Drawn here
// because a bare desktop has no icon theme to borrow one from.
Canvas {
    id: root

    property real size: 18
    property color color: Theme.cyan

    implicitWidth: size
    implicitHeight: size

    onColorChanged: requestPaint()
    onSizeChanged: requestPaint()
    onPaint: {
        const ctx = getContext("2d")
        ctx.reset()
        const u = width / 18
        ctx.fillStyle = root.color
        ctx.strokeStyle = root.color
        ctx.lineJoin = "round"
        ctx.lineCap = "round"

        // The arrow, tip at (7, 7).
        ctx.beginPath()
        ctx.moveTo(7 * u, 7 * u)
        ctx.lineTo(7 * u, 17 * u)
        ctx.lineTo(9.6 * u, 14.4 * u)
        ctx.lineTo(11.4 * u, 17.6 * u)
        ctx.lineTo(13 * u, 16.8 * u)
        ctx.lineTo(11.3 * u, 13.6 * u)
        ctx.lineTo(15 * u, 13.4 * u)
        ctx.closePath()
        ctx.fill()

        // The click rays around the tip.
        ctx.lineWidth = Math.max(1, 1.4 * u)
        ctx.beginPath()
        ctx.moveTo(4.2 * u, 4.2 * u)
        ctx.lineTo(2 * u, 2 * u)
        ctx.moveTo(7 * u, 3.6 * u)
        ctx.lineTo(7 * u, 1 * u)
        ctx.moveTo(3.6 * u, 7 * u)
        ctx.lineTo(1 * u, 7 * u)
        ctx.stroke()
    }
}
