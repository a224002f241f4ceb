import QtQuick
import QtQuick.Shapes

// The screens' icons, drawn here because a bare desktop may have no icon theme: line
// drawings on a 24-unit grid, named after the usual symbol names ("mic.fill",
// "chevron.left"). Names ending in ".fill" are filled in the icon's colour.
Item {
    id: root

    property string name
    property real size: 16
    property color color: Theme.accent

    readonly property var drawings: ({
        "history": "M3.5 12a8.5 8.5 0 1 0 2.5-6 M3 4.5v4h4 M12 7.5v4.5l3 2",
        "waveform": "M3 10.5v3 M6.5 8v8 M10 4.5v15 M13.5 7v10 M17 9.5v5 M20.5 11v2",
        "document": "M6 3h8l4 4v14H6z M14 3v4h4 M9 12h6 M9 16h6",
        "search": "M10.5 17a6.5 6.5 0 1 0 0-13a6.5 6.5 0 0 0 0 13z M15.5 15.5L21 21",
        "mark": "M12 21a9 9 0 1 0 0-18a9 9 0 0 0 0 18z M12 7.5v6 M12 16.5v0.5",
        "mic": "M9 5a3 3 0 0 1 6 0v6a3 3 0 0 1-6 0z M5.5 11a6.5 6.5 0 0 0 13 0 M12 17.5V21 M8.5 21h7",
        "stop": "M6.5 6.5h11v11h-11z",
        "gear": "M12 15a3 3 0 1 0 0-6a3 3 0 0 0 0 6z M12 2.5v3 M12 18.5v3 M2.5 12h3 M18.5 12h3 M5.3 5.3l2.1 2.1 M16.6 16.6l2.1 2.1 M5.3 18.7l2.1-2.1 M16.6 7.4l2.1-2.1",
        "chevron.left": "M15 5l-7 7l7 7",
        "chevron.right": "M9 5l7 7l-7 7",
        "check.circle": "M12 21a9 9 0 1 0 0-18a9 9 0 0 0 0 18z M8 12.5l2.7 2.7L16.5 9.5",
        "check.seal": "M12 2.8l2.3 1.7l2.8-.2l.9 2.7l2.3 1.7l-.9 2.7l.9 2.7l-2.3 1.7l-.9 2.7l-2.8-.2L12 21.2l-2.3-1.7l-2.8.2l-.9-2.7l-2.3-1.7l.9-2.7l-.9-2.7l2.3-1.7l.9-2.7l2.8.2z M8.5 12.3l2.4 2.4l4.6-4.8",
        "radio.on": "M12 21a9 9 0 1 0 0-18a9 9 0 0 0 0 18z M12 16a4 4 0 1 0 0-8a4 4 0 0 0 0 8z",
        "radio.off": "M12 21a9 9 0 1 0 0-18a9 9 0 0 0 0 18z",
        "warning": "M12 3.5l9.5 16.5h-19z M12 9.5v5 M12 17.2v0.3",
        "plus": "M12 5v14 M5 12h14",
        "copy": "M8 8h11v13H8z M5 16V3h11",
        "export": "M12 15V3 M7.5 7.5L12 3l4.5 4.5 M5 12v9h14v-9",
        "cursor": "M5 3l6 17l2.5-7l7-2.5z",
        "trash": "M4 6.5h16 M9.5 6.5V4h5v2.5 M6.5 6.5l1 14h9l1-14 M10 10.5v6.5 M14 10.5v6.5"
    })
    // The usual symbol names, mapped onto the drawings above.
    readonly property var aliases: ({
        "clock": "history",
        "clock.arrow.circlepath": "history",
        "doc": "document",
        "doc.text": "document",
        "magnifyingglass": "search",
        "mic.fill": "mic",
        "stop.fill": "stop",
        "gearshape": "gear",
        "checkmark.circle.fill": "check.circle",
        "checkmark.seal.fill": "check.seal",
        "largecircle.fill.circle": "radio.on",
        "circle": "radio.off",
        "exclamationmark.triangle": "warning",
        "doc.on.doc": "copy",
        "square.and.arrow.up": "export",
        "cursorarrow.click": "cursor"
    })

    // The drawing for `name`, or empty when there is none by that name.
    function drawingFor(symbol) {
        if (drawings[symbol] !== undefined)
            return symbol
        const aliased = aliases[symbol]
        return aliased !== undefined ? aliased : ""
    }

    readonly property string drawing: drawingFor(name) !== "" ? drawingFor(name) : "mark"
    readonly property bool filled: name.endsWith(".fill") && name !== "checkmark.circle.fill"
                                   && name !== "checkmark.seal.fill"

    implicitWidth: size
    implicitHeight: size
    Accessible.ignored: true
    // Multisampled, so the thin strokes stay smooth at any size.
    layer.enabled: true
    layer.samples: 4

    Shape {
        width: 24
        height: 24
        scale: root.size / 24
        transformOrigin: Item.TopLeft

        ShapePath {
            strokeColor: root.color
            strokeWidth: 1.6
            fillColor: root.filled ? root.color : "transparent"
            capStyle: ShapePath.RoundCap
            joinStyle: ShapePath.RoundJoin
            PathSvg { path: root.drawings[root.drawing] }
        }
    }
}
