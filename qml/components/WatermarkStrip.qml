import QtQuick
import ".."

// The watermark's two lines on a dark band: the ribbon above the workspace and the
// strip along the bottom of a camera frame.
Rectangle {
    id: strip
    property int titleSize: Theme.fontNormal
    color: "#CC0F1720"
    implicitHeight: lines.implicitHeight + 8
    clip: true

    Row {
        id: lines
        anchors.verticalCenter: parent.verticalCenter
        anchors.left: parent.left
        anchors.leftMargin: Theme.spacing
        width: parent.width - 2 * Theme.spacing
        spacing: Theme.spacing
        Rectangle { width: 4; height: title.height; radius: 2; color: Theme.accent }
        Text {
            id: title
            objectName: "watermarkTitle"
            text: workstation.watermarkText
            font.family: Theme.fontFamily
            font.pixelSize: strip.titleSize
            font.bold: true
            font.letterSpacing: 1
            color: Theme.topBarText
        }
        ElidedText {
            objectName: "watermarkSubtitle"
            anchors.baseline: title.baseline
            width: Math.max(0, lines.width - title.width - 4 - 2 * lines.spacing)
            text: workstation.watermarkSubtext
            elide: Text.ElideRight
            font.family: Theme.fontFamily
            font.pixelSize: Math.max(9, strip.titleSize - 3)
            font.letterSpacing: 1
            color: Theme.accent
        }
    }
}
