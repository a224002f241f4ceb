import QtQuick

// A slowly evolving glow in cyan, ice and deep violet. Its clock starts when the view is
// created, so every showing begins from the same calm picture; with reduced motion the
// picture holds still.
Item {
    id: root

    property real size: 160
    property bool reduceMotion: Theme.reduceMotion

    // Seconds since the view was created, advanced on every frame while it moves.
    property real time: 0
    readonly property bool animating: frames.running

    // The glow's own hues beside the theme's cyan: the pale heart and the dark rim.
    readonly property color ice: "#e4f7ff"
    readonly property color deepViolet: "#3b1f94"

    readonly property double createdAt: Date.now()

    readonly property bool onScreen: Theme.onScreen(root)

    implicitWidth: size
    implicitHeight: size

    ShaderEffect {
        id: glow
        objectName: "nebula"
        anchors.centerIn: parent
        width: root.size
        height: root.size
        property real time: root.time
        property color cyan: Theme.cyan
        property color ice: root.ice
        property color violet: root.deepViolet
        fragmentShader: "shaders/nebula.frag.qsb"
    }

    FrameAnimation {
        id: frames
        running: !root.reduceMotion && root.onScreen
        onTriggered: root.time = (Date.now() - root.createdAt) / 1000
    }
}
