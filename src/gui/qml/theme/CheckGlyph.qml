import QtQuick

// A check mark, drawn here because a bare desktop has no icon theme to borrow one from.
Canvas {
    id: root

    property real size: 16
    property color color: Theme.confirm

    implicitWidth: size
    implicitHeight: size

    onColorChanged: requestPaint()
    onSizeChanged: requestPaint()
    onPaint: {
        const ctx = getContext("2d")
        ctx.reset()
        ctx.lineWidth = Math.max(1.5, size * 0.14)
        ctx.lineCap = "round"
        ctx.lineJoin = "round"
        ctx.strokeStyle = root.color
        ctx.beginPath()
        ctx.moveTo(width * 0.18, height * 0.52)
        ctx.lineTo(width * 0.42, height * 0.76)
        ctx.lineTo(width * 0.84, height * 0.26)
        ctx.stroke()
    }
}
