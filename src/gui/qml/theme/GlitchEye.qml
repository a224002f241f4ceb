import QtQuick

// The home screen's eye: the same eye as the welcome screen, tappable. A tap emits
// `tapped` (the owner plays the sound and counts the taps) and the eye glitches for
// 0.55 s: slices of it jump sideways and its colours split. With reduced motion a tap
// shows one still, offset frame for a moment instead.
Item {
    id: root

    property real size: 96
    property bool glowing: true
    // At 0 or more, the eye is drawn as it looks that many seconds after a tap, and the
    // clock is not consulted: for previews and pictures of a fixed moment.
    property real previewSeconds: -1
    property bool reduceMotion: Theme.reduceMotion

    signal tapped()

    readonly property real glitchSeconds: 0.55
    readonly property real stillGlitchSeconds: 0.15
    // Seconds since the last tap, while a glitch is under way.
    property real elapsed: 0
    property bool glitchClock: false
    readonly property bool glitching: previewSeconds >= 0 ? previewSeconds < glitchSeconds : glitchClock
    readonly property bool animating: frames.running

    implicitWidth: size
    implicitHeight: size

    Accessible.role: Accessible.Button
    Accessible.name: qsTr("Murmel")
    Accessible.onPressAction: root.tap()

    function tap() {
        root.tapped()
        root.elapsed = 0
        root.glitchClock = true
        root.tapMoment = Date.now()
        root.glitchLength = root.reduceMotion ? root.stillGlitchSeconds : root.glitchSeconds
        ending.interval = root.glitchLength * 1000
        ending.restart()
    }

    property double tapMoment: 0
    property real glitchLength: glitchSeconds

    MUREye {
        id: eye
        anchors.fill: parent
        size: root.size
        glowing: root.glowing
        reduceMotion: root.reduceMotion

        // The glitch draws from the eye's own picture, only while it runs, so the still
        // eye is drawn exactly as the welcome screen's.
        layer.enabled: root.glitching
        layer.effect: ShaderEffect {
            objectName: "glitch"
            readonly property real phase: root.previewSeconds >= 0 ? root.previewSeconds / root.glitchSeconds
                                                                  : root.elapsed / root.glitchSeconds
            // Full for the first half, then fading out; a still frame uses a fixed middle.
            property real strength: root.reduceMotion ? 0.6 : (phase < 0.5 ? 1.0 : Math.max(0, (1 - phase) * 2))
            // About eighteen different cuts a second.
            property real seed: root.reduceMotion ? 3 : Math.floor(phase * 10) + 1
            fragmentShader: "shaders/glitch.frag.qsb"
        }
    }

    // Ticks only during a live glitch; the timer below ends it even when no frame is drawn.
    FrameAnimation {
        id: frames
        running: root.glitchClock && !root.reduceMotion && root.previewSeconds < 0
        onTriggered: root.elapsed = (Date.now() - root.tapMoment) / 1000
    }

    Timer {
        id: ending
        repeat: false
        onTriggered: {
            // Timers may fire a little early; the glitch lasts its full time from the tap.
            const left = root.glitchLength * 1000 - (Date.now() - root.tapMoment)
            if (left > 0) {
                interval = Math.ceil(left)
                restart()
                return
            }
            root.glitchClock = false
            root.elapsed = 0
        }
    }

    TapHandler {
        onTapped: root.tap()
    }
}
