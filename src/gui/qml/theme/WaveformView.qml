import QtQuick

// The waveform of a file being transcribed: its loudness envelope as bars mirrored about
// the middle line, the part already transcribed in the accent colours and the rest muted.
// The bar at the front of the progress pulses with `time`, unless motion is reduced.
Item {
    id: root

    // Loudness per stretch of the file, 0 … 1, oldest first.
    property var envelope: []
    // The transcribed fraction, 0 … 1.
    property real progress: 0
    // Seconds, from the owner's clock.
    property real time: 0
    property bool reduceMotion: Theme.reduceMotion

    readonly property real barWidth: 3
    readonly property real barSpacing: 2
    readonly property real minimumBarHeight: 2

    implicitWidth: 320
    implicitHeight: 56

    readonly property real clampedProgress: progress > 0 ? Math.min(progress, 1) : 0

    // As many bars as fit, but never more than there are values.
    readonly property int barCount: {
        const values = envelope ? envelope.length : 0
        if (values === 0 || width <= 0)
            return 0
        const fitting = Math.max(1, Math.floor((width + barSpacing) / (barWidth + barSpacing)))
        return Math.min(values, fitting)
    }

    // The envelope reduced to one level per bar: the loudest value of each stretch, so a
    // short burst of speech still shows.
    readonly property var levels: {
        const result = []
        const values = envelope ? envelope.length : 0
        for (let bar = 0; bar < barCount; ++bar) {
            const from = Math.floor(bar * values / barCount)
            const to = Math.max(from + 1, Math.floor((bar + 1) * values / barCount))
            let loudest = 0
            for (let i = from; i < to; ++i) {
                const value = Number(envelope[i])
                if (value > loudest)
                    loudest = Math.min(value, 1)
            }
            result.push(loudest)
        }
        return result
    }

    // Bars whose middle lies within the transcribed part.
    readonly property int markedCount: Math.floor(clampedProgress * barCount + 0.5)

    readonly property real pulse: reduceMotion ? 1 : 0.55 + 0.45 * Math.abs(Math.sin(time * 3))

    function accentAt(fraction) {
        const mix = (a, b, t) => Qt.rgba(a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t, 1)
        return fraction <= 0.5 ? mix(Theme.cyan, Theme.violet, fraction * 2)
                               : mix(Theme.violet, Theme.pink, (fraction - 0.5) * 2)
    }

    Accessible.role: Accessible.ProgressBar
    Accessible.name: qsTr("Transcription progress")
    Accessible.description: qsTr("%1%").arg(Math.round(clampedProgress * 100))

    Row {
        id: bars
        height: root.height
        x: Math.max(0, (root.width - implicitWidth) / 2)
        spacing: root.barSpacing

        Repeater {
            model: root.barCount
            delegate: Rectangle {
                required property int index
                objectName: "waveBar"
                readonly property bool marked: index < root.markedCount
                readonly property bool front: index === root.markedCount - 1 && root.markedCount < root.barCount
                readonly property real level: root.levels[index] !== undefined ? root.levels[index] : 0
                width: root.barWidth
                height: Math.max(root.minimumBarHeight, level * root.height)
                // Centred on the middle line, so the upper half mirrors the lower.
                y: (root.height - height) / 2
                radius: width / 2
                color: marked ? root.accentAt(root.barCount > 1 ? index / (root.barCount - 1) : 0) : Theme.muted
                opacity: marked ? (front ? root.pulse : 1) : 0.45
            }
        }
    }
}
