import QtQuick
import QtQuick.Shapes

// A placeholder for a screen with nothing to show yet: a drawn icon above a line of text.
// `asset` names one of the drawings below; when there is none by that name the `fallback`
// is tried (it may use the usual symbol names, "clock.arrow.circlepath", "doc.text"), and
// when neither is known a plain circled mark stands in.
Item {
    id: root

    property string asset
    property string fallback
    property string text
    property real iconSize: 44

    // The drawing actually shown: one of the keys of `drawings`.
    readonly property string shownIcon: {
        if (drawings[asset] !== undefined)
            return asset
        const byFallback = aliases[fallback] !== undefined ? aliases[fallback] : fallback
        if (drawings[byFallback] !== undefined)
            return byFallback
        return "mark"
    }

    // Line icons on a 24-unit grid, as SVG path data.
    readonly property var drawings: ({
        "history": "M3.5 12a8.5 8.5 0 1 0 2.5-6 M3 4.5v4h4 M12 7.5v4.5l3 2",
        "waveform": "M3 10.5v3 M6.5 8v8 M10 4.5v15 M13.5 7v10 M17 9.5v5 M20.5 11v2",
        "document": "M6 3h8l4 4v14H6z M14 3v4h4 M9 12h6 M9 16h6",
        "search": "M10.5 17a6.5 6.5 0 1 0 0-13a6.5 6.5 0 0 0 0 13z M15.5 15.5L21 21",
        "mark": "M12 21a9 9 0 1 0 0-18a9 9 0 0 0 0 18z M12 7.5v6 M12 16.5v0.5"
    })
    readonly property var aliases: ({
        "clock": "history",
        "clock.arrow.circlepath": "history",
        "doc": "document",
        "doc.text": "document",
        "magnifyingglass": "search"
    })

    implicitWidth: Math.max(iconSize, Math.min(caption.implicitWidth, 320))
    implicitHeight: iconSize + column.spacing + caption.implicitHeight

    Accessible.role: Accessible.StaticText
    Accessible.name: text

    Column {
        id: column
        anchors.centerIn: parent
        width: root.width
        spacing: 12

        Item {
            id: icon
            objectName: "icon"
            width: root.iconSize
            height: root.iconSize
            anchors.horizontalCenter: parent.horizontalCenter
            // Multisampled, so the thin strokes stay smooth at any size.
            layer.enabled: true
            layer.samples: 4

            Shape {
                width: 24
                height: 24
                scale: root.iconSize / 24
                transformOrigin: Item.TopLeft

                ShapePath {
                    strokeColor: Theme.muted
                    strokeWidth: 1.5
                    fillColor: "transparent"
                    capStyle: ShapePath.RoundCap
                    joinStyle: ShapePath.RoundJoin
                    PathSvg { path: root.drawings[root.shownIcon] }
                }
            }
        }

        Text {
            id: caption
            objectName: "caption"
            width: parent.width
            text: root.text
            color: Theme.body
            font.pixelSize: 14
            wrapMode: Text.WordWrap
            horizontalAlignment: Text.AlignHCenter
        }
    }
}
