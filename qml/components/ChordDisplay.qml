import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import ".."

// "HARMONY / CHORD": the chord the held keys make (or the degree chord a pad chose),
// the arranger's degree and the one-finger chord switch.
Rectangle {
    id: display
    objectName: "chordDisplay"
    implicitWidth: 230
    implicitHeight: 130
    radius: Theme.radius
    color: Theme.display
    border.color: Theme.railButton

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 10
        spacing: 2
        Text {
            text: "HARMONY / CHORD"
            font.family: Theme.fontFamily
            font.pixelSize: Theme.fontSmall
            font.bold: true
            font.letterSpacing: 1.5
            color: Theme.topBarMuted
        }
        Text {
            objectName: "chordName"
            Layout.fillWidth: true
            text: workstation.currentChordName
            elide: Text.ElideRight
            fontSizeMode: Text.HorizontalFit
            minimumPixelSize: 14
            font.family: Theme.fontFamily
            font.pixelSize: 34
            font.bold: true
            color: Theme.displayText
        }
        RowLayout {
            Layout.fillWidth: true
            Text {
                Layout.fillWidth: true
                text: "BAND " + workstation.arrangerActiveChordText
                elide: Text.ElideRight
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontSmall
                color: Theme.topBarText
            }
            Button {
                objectName: "smartChordButton"
                text: "1-KEY CHORD"
                focusPolicy: Qt.NoFocus
                highlighted: workstation.smartChordEnabled
                font.pixelSize: 10
                font.bold: true
                onClicked: workstation.smartChordEnabled = !workstation.smartChordEnabled
            }
        }
    }
}
