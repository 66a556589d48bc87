import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import ".."

// The top bar's stage switches: "GO LIVE" opens the broadcast drawer and, while on
// air, shows the time live; the camera picture and the logo ribbon switch on and off.
// The buttons take no focus, so the computer keys keep playing.
Rectangle {
    // Where the bar is narrow only GO LIVE stays: the drawer has the other two.
    property bool compact: false
    implicitWidth: row.implicitWidth + 12
    implicitHeight: 48
    radius: Theme.radius
    color: Theme.display
    border.color: workstation.broadcastActive ? Theme.danger : Theme.railButton

    component StageButton: ToolButton {
        property bool lit: false
        property color litColor: Theme.accent
        focusPolicy: Qt.NoFocus
        contentItem: Text {
            text: parent.text
            font.family: Theme.fontFamily
            font.bold: true
            font.pixelSize: 12
            color: parent.lit ? parent.litColor : Theme.topBarText
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
        }
    }

    RowLayout {
        id: row
        anchors.centerIn: parent
        spacing: 2
        StageButton {
            objectName: "goLiveButton"
            text: workstation.broadcastActive ? "● LIVE " + workstation.broadcastElapsedText : "GO LIVE"
            lit: workstation.broadcastActive || workstation.broadcastDrawerOpen
            litColor: workstation.broadcastActive ? Theme.danger : Theme.accent
            onClicked: workstation.broadcastDrawerOpen = !workstation.broadcastDrawerOpen
        }
        StageButton {
            objectName: "cameraSwitch"
            visible: !compact
            text: "CAM"
            lit: workstation.cameraEnabled
            onClicked: workstation.cameraEnabled = !workstation.cameraEnabled
        }
        StageButton {
            objectName: "logoSwitch"
            visible: !compact
            text: "LOGO"
            lit: workstation.watermarkEnabled
            onClicked: workstation.watermarkEnabled = !workstation.watermarkEnabled
        }
    }
}
