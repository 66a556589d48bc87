import QtQuick
import QtQuick.Layouts
import ".."

// "MODE SELECT": ten buttons; each sets workstation.currentMode to its view.
// A button whose view is not built yet is disabled.
Rectangle {
    id: rail
    property int currentMode: workstation.currentMode

    // The rail's order is not the mode order: M2 "HYMNS" is mode 8.
    readonly property var buttons: [
        { code: "M1", title: "PLAY", mode: 0, built: true },
        { code: "M2", title: "HYMNS", mode: 8, built: true },
        { code: "M3", title: "SOUNDS", mode: 1, built: true },
        { code: "M4", title: "ZONES", mode: 2, built: true },
        { code: "M5", title: "DRUMS", mode: 3, built: true },
        { code: "M6", title: "PRESETS", mode: 9, built: true },
        { code: "M7", title: "STUDIO", mode: 4, built: true },
        { code: "M8", title: "CONSOLE", mode: 5, built: true },
        { code: "M9", title: "MIDI I/O", mode: 6, built: false },
        { code: "M10", title: "SYSTEM", mode: 7, built: true }
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
                readonly property bool enabledButton: modelData.built
                Layout.fillWidth: true
                Layout.fillHeight: true
                Layout.maximumHeight: 64
                Layout.minimumHeight: 36
                radius: Theme.radius
                color: active ? Theme.railButtonActive : (hover.containsMouse && enabledButton ? Qt.lighter(Theme.railButton, 1.2) : Theme.railButton)
                opacity: enabledButton ? 1.0 : 0.45

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
                    enabled: button.enabledButton
                    onClicked: workstation.currentMode = button.modelData.mode
                }
            }
        }
    }
}
