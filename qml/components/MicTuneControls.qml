import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import ".."

// The top bar's microphone and phone buttons, which open and close the drawer of
// both, and the auto-tune switch with its mode's name and the mode-cycle button.
// The buttons take no focus, so the computer keys keep playing.
Rectangle {
    implicitWidth: row.implicitWidth + 12
    implicitHeight: 48
    radius: Theme.radius
    color: Theme.display
    border.color: workstation.phoneDrawerOpen ? Theme.accent : Theme.railButton

    component SmallButton: ToolButton {
        property bool lit: false
        focusPolicy: Qt.NoFocus
        implicitHeight: 21
        padding: 2
        leftPadding: 5
        rightPadding: 5
        contentItem: Text {
            text: parent.text
            font.family: Theme.fontFamily
            font.bold: true
            font.pixelSize: 10
            color: parent.lit ? Theme.accent : Theme.topBarText
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
        }
        background: Rectangle { radius: 3; color: parent.down ? Theme.railButton : "transparent" }
    }

    RowLayout {
        id: row
        anchors.centerIn: parent
        spacing: 4
        // Lit while the microphone is on and while a phone is connected.
        ColumnLayout {
            spacing: 0
            SmallButton {
                objectName: "micButton"
                Layout.fillWidth: true
                text: "MIC"
                lit: workstation.micEnabled
                onClicked: workstation.phoneDrawerOpen = !workstation.phoneDrawerOpen
            }
            SmallButton {
                objectName: "phoneButton"
                Layout.fillWidth: true
                text: "PHONE"
                lit: workstation.phoneConnected
                onClicked: workstation.phoneDrawerOpen = !workstation.phoneDrawerOpen
            }
        }
        Rectangle { Layout.preferredWidth: 1; Layout.preferredHeight: 36; color: Theme.railButton }
        ColumnLayout {
            spacing: 0
            RowLayout {
                spacing: 0
                SmallButton {
                    objectName: "autoTuneSwitch"
                    text: workstation.autoTuneEnabled ? "TUNE ON" : "TUNE OFF"
                    lit: workstation.autoTuneEnabled
                    onClicked: workstation.autoTuneEnabled = !workstation.autoTuneEnabled
                }
                SmallButton {
                    objectName: "autoTuneCycle"
                    text: (workstation.autoTuneMode + 1) + "/5"
                    onClicked: workstation.cycleAutoTuneMode()
                }
            }
            ElidedText {
                objectName: "autoTuneModeName"
                Layout.preferredWidth: 92
                leftPadding: 5
                text: workstation.autoTuneModeName
                font.family: Theme.fontFamily
                font.pixelSize: 10
                color: workstation.autoTuneEnabled ? Theme.displayText : Theme.topBarMuted
            }
        }
    }
}
