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
        implicitWidth: childrenRect.width
        implicitHeight: childrenRect.height
    }
}
