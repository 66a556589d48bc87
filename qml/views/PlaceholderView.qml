import QtQuick
import ".."

// The slot of a view that is not built yet: its title and nothing that pretends to work.
Item {
    property string title: ""
    Text {
        anchors.centerIn: parent
        text: parent.title
        font.family: Theme.fontFamily
        font.pixelSize: 28
        font.bold: true
        font.letterSpacing: 3
        color: Theme.textDisabled
    }
}
