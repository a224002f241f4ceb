import QtQuick

// A placeholder for a screen with nothing to show yet: a drawn icon above a line of text.
// `asset` names one of the drawings of LineIcon; when there is none by that name the
// `fallback` is tried (it may use the usual symbol names, "clock.arrow.circlepath",
// "doc.text"), and when neither is known a plain circled mark stands in.
Item {
    id: root

    property string asset
    property string fallback
    property string text
    property real iconSize: 44

    // The drawing actually shown: the asset's, else the fallback symbol's, else a mark.
    readonly property string shownIcon: {
        const byAsset = glyph.drawingFor(asset)
        if (byAsset !== "")
            return byAsset
        const byFallback = glyph.drawingFor(fallback)
        return byFallback !== "" ? byFallback : "mark"
    }

    implicitWidth: Math.max(iconSize, Math.min(caption.implicitWidth, 320))
    implicitHeight: iconSize + column.spacing + caption.implicitHeight

    Accessible.role: Accessible.StaticText
    Accessible.name: text

    Column {
        id: column
        anchors.centerIn: parent
        width: root.width
        spacing: 12

        LineIcon {
            id: glyph
            objectName: "icon"
            name: root.shownIcon
            size: root.iconSize
            color: Theme.muted
            anchors.horizontalCenter: parent.horizontalCenter
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
