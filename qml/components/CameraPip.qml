import QtQuick
import QtQuick.Controls
import ".."

// The floating camera: 280×196, 16 px from the corner the controller names (0 bottom
// right, 1 bottom left, 2 top right, 3 top left) of the item it floats over.
Rectangle {
    id: pip
    signal dockRequested()
    // False where the window is too narrow for the docked camera.
    property bool canDock: true
    readonly property int margin: 16
    readonly property int corner: workstation.cameraCorner
    width: 280
    height: 196
    x: corner === 0 || corner === 2 ? parent.width - width - margin : margin
    y: corner === 0 || corner === 1 ? parent.height - height - margin : margin
    radius: Theme.radius
    color: Theme.display
    border.color: Theme.accent
    border.width: 2

    CameraPicture {
        objectName: "pipPicture"
        anchors.fill: parent
        anchors.margins: 2
        active: pip.visible
    }
    WatermarkStrip {
        objectName: "pipWatermark"
        visible: workstation.watermarkEnabled
        anchors { left: parent.left; right: parent.right; bottom: parent.bottom; margins: 2 }
        titleSize: Theme.fontSmall
    }
    Row {
        anchors { top: parent.top; right: parent.right; margins: 4 }
        spacing: 2
        component PipButton: ToolButton {
            focusPolicy: Qt.NoFocus
            implicitWidth: 26
            implicitHeight: 22
            contentItem: Text { text: parent.text; color: Theme.topBarText; font.pixelSize: 12; horizontalAlignment: Text.AlignHCenter; verticalAlignment: Text.AlignVCenter }
            background: Rectangle { radius: 4; color: "#990F1720" }
        }
        PipButton { objectName: "pipCornerButton"; text: "↻"; onClicked: workstation.cycleCameraCorner() }
        PipButton { objectName: "pipDockButton"; visible: pip.canDock; text: "⇥"; onClicked: pip.dockRequested() }
        PipButton { objectName: "pipCloseButton"; text: "✕"; onClicked: workstation.cameraEnabled = false }
    }
}
