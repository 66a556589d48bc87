import QtQuick
import QtQuick.Layouts
import ".."

// A titled card that groups the controls of one concern.
Rectangle {
    id: panel
    property string title: ""
    default property alias content: body.data
    property alias bodyItem: body

    color: Theme.panel
    radius: Theme.radius
    border.color: Theme.panelBorder
    implicitWidth: body.implicitWidth + 2 * Theme.padding
    implicitHeight: header.height + body.implicitHeight + 2 * Theme.padding

    Rectangle {
        id: header
        visible: panel.title.length > 0
        width: parent.width
        height: visible ? 30 : 0
        radius: Theme.radius
        color: Theme.panelHeader
        Text {
            anchors.verticalCenter: parent.verticalCenter
            anchors.left: parent.left
            anchors.leftMargin: Theme.padding
            text: panel.title
            font.family: Theme.fontFamily
            font.pixelSize: Theme.fontNormal
            font.bold: true
            font.letterSpacing: 1
            color: Theme.textSecondary
        }
    }

    Item {
        id: body
        anchors.top: header.bottom
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.margins: Theme.padding
        // From the content's implicit size, not its laid-out size, so content that
        // fills the panel does not feed its own width back into the layout.
        implicitWidth: {
            var w = 0
            for (var i = 0; i < children.length; ++i)
                w = Math.max(w, children[i].implicitWidth)
            return w
        }
        implicitHeight: {
            var h = 0
            for (var i = 0; i < children.length; ++i)
                h = Math.max(h, children[i].implicitHeight)
            return h
        }
    }
}
