import QtQuick

// A row of vertical bars that follow the microphone level and ripple even while it holds
// still, the middle bars taller than the outer ones.
Item {
    id: root

    property real level: 0
    property int count: 5
    property bool reduceMotion: Theme.reduceMotion
    // Seconds since 2001-01-01 00:00 UTC, advanced on every frame while the bars show.
    property real time: root.now()

    readonly property real rowHeight: 26
    readonly property real barWidth: 3
    readonly property real barSpacing: 3

    implicitWidth: count > 0 ? count * barWidth + (count - 1) * barSpacing : 0
    implicitHeight: rowHeight

    function now() {
        return Date.now() / 1000 - 978307200
    }

    // The height of bar `index` of `count` at time `t` for the level `level`. Anything that
    // is not a number in 0 … 1 is clamped (a meter that reports NaN counts as silence).
    function barHeight(index, count, t, level) {
        const clamped = level > 0 ? Math.min(level, 1) : 0
        let height
        if (root.reduceMotion) {
            height = clamped * 22 + 4
        } else {
            const wave = Math.abs(Math.sin(7 * t + 0.55 * index))
            const centre = 1 - Math.abs(index - (count - 1) / 2) / count
            height = (0.6 * wave + 0.4) * (0.75 * clamped + 0.25) * (0.4 * centre + 0.6) * 26
        }
        return Math.max(height, 4)
    }

    // The bars run from cyan through violet to pink, the recording colours.
    function barColor(index, count) {
        if (count < 2)
            return Theme.cyan
        const f = index / (count - 1)
        const mix = (a, b, t) => Qt.rgba(a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t, 1)
        return f <= 0.5 ? mix(Theme.cyan, Theme.violet, f * 2) : mix(Theme.violet, Theme.pink, (f - 0.5) * 2)
    }

    FrameAnimation {
        running: !root.reduceMotion && Theme.onScreen(root)
        onTriggered: root.time = root.now()
    }

    Row {
        height: root.rowHeight
        anchors.verticalCenter: parent.verticalCenter
        spacing: root.barSpacing

        Repeater {
            model: root.count
            delegate: Rectangle {
                required property int index
                y: (root.rowHeight - height) / 2
                width: root.barWidth
                height: root.barHeight(index, root.count, root.time, root.level)
                radius: width / 2
                color: root.barColor(index, root.count)
            }
        }
    }
}
