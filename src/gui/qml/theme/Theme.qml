pragma Singleton
import QtQuick

// The one dark visual language of every screen, the dictation display and the tray icon:
// named colours, the chrome gradient and the standard animation curve. Screens use these
// names and never spell a colour of their own.
QtObject {
    // The desktop's increased-contrast and reduced-motion wishes. Qt 6.4 reports neither,
    // so the application sets them from the desktop's settings where it can read them.
    property bool highContrast: false
    property bool reduceMotion: false

    // Whether `item` is on screen: shown, in a window neither hidden nor minimised. What
    // moves or polls runs only then, so a closed window keeps no clock running.
    function onScreen(item) {
        return item.visible && item.Window.visibility !== Window.Hidden && item.Window.visibility !== Window.Minimized
    }

    // Fixed colours, fully opaque.
    readonly property color bg: "#010102"
    readonly property color panel: "#090a0c"
    readonly property color ink: "#e7e9ef"
    readonly property color accent: "#b6bdcc"
    readonly property color accentSoft: "#d8dce6"
    readonly property color onChrome: "#0a0b0d"
    readonly property color cyan: "#7de2ff"
    readonly property color violet: "#c9b8ff"
    readonly property color pink: "#ff7bbc"
    readonly property color confirm: "#4af626"

    // Colours that follow the contrast setting.
    readonly property color body: highContrast ? "#c4c8d0" : "#969aa4"
    readonly property color muted: highContrast ? "#aaaeb8" : "#787c87"
    readonly property color line: Qt.rgba(200 / 255, 206 / 255, 222 / 255, highContrast ? 0.28 : 0.1)
    readonly property color lineStrong: Qt.rgba(200 / 255, 206 / 255, 222 / 255, highContrast ? 0.45 : 0.2)

    // The chrome gradient of titles, as (position, colour) stops for a Gradient.
    readonly property var chromeStops: [
        { position: 0.0, color: "#5b5e68" },
        { position: 0.16, color: "#e7e9ef" },
        { position: 0.30, color: "#9aa0ad" },
        { position: 0.44, color: "#ffffff" },
        { position: 0.54, color: "#b8bdcc" },
        { position: 0.66, color: "#7de2ff" },
        { position: 0.74, color: "#c9b8ff" },
        { position: 0.86, color: "#e7e9ef" },
        { position: 1.0, color: "#5b5e68" }
    ]

    // The standard animation: a cubic curve through (0.16, 1.0) and (0.3, 1.0) over 0.35 s,
    // for `easing.type: Easing.BezierSpline; easing.bezierCurve: Theme.easeCurve`.
    readonly property int easeDuration: 350
    readonly property var easeCurve: [0.16, 1.0, 0.3, 1.0, 1.0, 1.0]
}
