import QtQuick
import QtQuick.Layouts
import ".."

// "MODE SELECT": ten buttons; each sets workstation.currentMode to its view.
Rectangle {
    id: rail
    property int currentMode: workstation.currentMode

    // The rail's order is not the mode order: M2 "HYMNS" is mode 8.
    readonly property var buttons: [
        { code: "M1", title: "PLAY", mode: 0 },
        { code: "M2", title: "HYMNS", mode: 8 },
        { code: "M3", title: "SOUNDS", mode: 1 },
        { code: "M4", title: "ZONES", mode: 2 },
        { code: "M5", title: "DRUMS", mode: 3 },
        { code: "M6", title: "PRESETS", mode: 9 },
        { code: "M7", title: "STUDIO", mode: 4 },
        { code: "M8", title: "CONSOLE", mode: 5 },
        { code: "M9", title: "MIDI I/O", mode: 6 },
        { code: "M10", title: "SYSTEM", mode: 7 }
    ]

    implicitWidth: Theme.railWidth
    color: Theme.rail

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 8
        spacing: 5

        Text {
            Layout.alignment: Qt.AlignHCenter
            Layout.bottomMargin: 4
            text: "MODE SELECT"
            font.family: Theme.fontFamily
            font.pixelSize: Theme.fontSmall
            font.bold: true
            font.letterSpacing: 1.5
            color: Theme.topBarMuted
        }

        Repeater {
            model: rail.buttons
            delegate: Rectangle {
                id: button
                objectName: "railButton_" + modelData.code
                required property var modelData
                readonly property bool active: rail.currentMode === modelData.mode
                Layout.fillWidth: true
                Layout.fillHeight: true
                Layout.maximumHeight: 64
                Layout.minimumHeight: 36
                radius: Theme.radius
                color: active ? Theme.railButtonActive : (hover.containsMouse ? Qt.lighter(Theme.railButton, 1.2) : Theme.railButton)

                Column {
                    anchors.centerIn: parent
                    spacing: 1
                    Text {
                        anchors.horizontalCenter: parent.horizontalCenter
                        text: button.modelData.code
                        font.family: Theme.fontFamily
                        font.pixelSize: Theme.fontSmall - 1
                        color: button.active ? Theme.textOnAccent : Theme.topBarMuted
                    }
                    Text {
                        anchors.horizontalCenter: parent.horizontalCenter
                        text: button.modelData.title
                        font.family: Theme.fontFamily
                        font.pixelSize: Theme.fontNormal
                        font.bold: true
                        color: button.active ? Theme.textOnAccent : Theme.topBarText
                    }
                }
                MouseArea {
                    id: hover
                    anchors.fill: parent
                    hoverEnabled: true
                    onClicked: workstation.currentMode = button.modelData.mode
                }
            }
        }
    }
}
