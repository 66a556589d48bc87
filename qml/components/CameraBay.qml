import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import ".."

// The docked camera at the right of the workspace: a header, the picture (or the
// rights card) with the lower-third branding, and quick broadcast and record buttons.
Rectangle {
    id: bay
    signal floatRequested()
    color: Theme.topBar
    implicitWidth: 300

    component BayButton: Button {
        property color tint: Theme.railButton
        focusPolicy: Qt.NoFocus
        Layout.fillWidth: true
        Layout.preferredHeight: 34
        font.family: Theme.fontFamily
        font.pixelSize: Theme.fontSmall
        font.bold: true
        contentItem: Text { text: parent.text; font: parent.font; color: Theme.topBarText; elide: Text.ElideRight; horizontalAlignment: Text.AlignHCenter; verticalAlignment: Text.AlignVCenter }
        background: Rectangle { radius: Theme.radius; color: parent.down ? Qt.darker(parent.tint, 1.3) : parent.tint }
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: Theme.spacing
        spacing: 8

        RowLayout {
            Layout.fillWidth: true
            Text {
                Layout.fillWidth: true
                text: workstation.phoneCamActive ? "📱 PHONE CAMERA" : "● LIVE CAMERA"
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontSmall
                font.bold: true
                font.letterSpacing: 1
                color: workstation.broadcastActive ? Theme.danger : Theme.topBarMuted
            }
            ToolButton {
                objectName: "bayFloatButton"
                text: "⇱ FLOAT"
                focusPolicy: Qt.NoFocus
                onClicked: bay.floatRequested()
                contentItem: Text { text: parent.text; font.pixelSize: 10; font.bold: true; color: Theme.accent; horizontalAlignment: Text.AlignHCenter; verticalAlignment: Text.AlignVCenter }
            }
            ToolButton {
                objectName: "bayCloseButton"
                text: "✕"
                focusPolicy: Qt.NoFocus
                onClicked: workstation.cameraEnabled = false
                contentItem: Text { text: parent.text; color: Theme.topBarText; horizontalAlignment: Text.AlignHCenter; verticalAlignment: Text.AlignVCenter }
            }
        }

        CameraPicture {
            objectName: "bayPicture"
            Layout.fillWidth: true
            Layout.preferredHeight: width * 196 / 280
            radius: Theme.radius
            active: bay.visible
            WatermarkStrip {
                objectName: "lowerThird"
                visible: workstation.watermarkEnabled
                anchors { left: parent.left; right: parent.right; bottom: parent.bottom; bottomMargin: 10 }
                titleSize: Theme.fontSmall
            }
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: 6
            BayButton {
                objectName: "bayBroadcastButton"
                text: workstation.broadcastActive ? "■ " + workstation.broadcastElapsedText : "● GO LIVE"
                tint: workstation.broadcastActive ? Theme.danger : Theme.accentStrong
                onClicked: workstation.toggleLiveBroadcast()
            }
            BayButton {
                objectName: "bayRecordButton"
                text: workstation.studioRecording ? "■ STOP REC" : "● REC"
                tint: workstation.studioRecording ? Theme.danger : Theme.railButton
                onClicked: workstation.studioRecording ? workstation.stopStudioTransport() : workstation.startStudioRecord()
            }
        }
        Text {
            Layout.fillWidth: true
            text: workstation.broadcastStatusText
            wrapMode: Text.Wrap
            maximumLineCount: 3
            elide: Text.ElideRight
            font.family: Theme.fontFamily
            font.pixelSize: 10
            color: Theme.topBarMuted
        }
        Item { Layout.fillHeight: true }
    }
}
