import QtQuick
import QtQuick.Controls
import QtMultimedia
import ".."

// What a camera frame shows: the latest picture of a phone while a phone camera is
// active, else the first local camera, else why there is none with the button that
// asks for camera rights. Both pictures fill the frame and follow the mirror switch.
Rectangle {
    id: picture
    // Only a frame on screen opens the local camera.
    property bool active: visible
    readonly property bool showsPhone: workstation.phoneCamActive && workstation.phoneCameraFrameUrl !== ""
    readonly property bool showsLocal: !showsPhone && workstation.hardwareCameraAvailable
                                       && devices.videoInputs.length > 0
    color: Theme.display
    clip: true

    MediaDevices { id: devices }
    // The capture session exists only while it is shown: an idle one keeps its media
    // pipeline changing state, over half a core with no camera attached.
    Loader {
        active: picture.active && picture.showsLocal
        sourceComponent: Item {
            CaptureSession {
                camera: Camera {
                    cameraDevice: devices.videoInputs.length > 0 ? devices.videoInputs[0]
                                                                 : devices.defaultVideoInput
                    active: true
                }
                videoOutput: localVideo
            }
        }
    }
    VideoOutput {
        id: localVideo
        objectName: "localCamera"
        anchors.fill: parent
        visible: picture.showsLocal
        fillMode: VideoOutput.PreserveAspectCrop
        transform: Scale { origin.x: localVideo.width / 2; xScale: workstation.cameraMirror ? -1 : 1 }
    }
    Image {
        id: phoneFrame
        objectName: "phoneCameraFrame"
        anchors.fill: parent
        visible: picture.showsPhone
        source: picture.showsPhone ? workstation.phoneCameraFrameUrl : ""
        cache: false
        fillMode: Image.PreserveAspectCrop
        transform: Scale { origin.x: phoneFrame.width / 2; xScale: workstation.cameraMirror ? -1 : 1 }
    }

    // The rights card
    Column {
        objectName: "cameraRightsCard"
        visible: !picture.showsPhone && !picture.showsLocal
        anchors.centerIn: parent
        width: parent.width - 16
        spacing: 6
        Text {
            width: parent.width
            text: workstation.cameraStatusMessage
            wrapMode: Text.Wrap
            maximumLineCount: 3
            elide: Text.ElideRight
            horizontalAlignment: Text.AlignHCenter
            font.family: Theme.fontFamily
            font.pixelSize: Theme.fontSmall
            color: Theme.topBarText
        }
        Button {
            objectName: "cameraRightsButton"
            anchors.horizontalCenter: parent.horizontalCenter
            width: Math.min(implicitWidth, parent.width)
            focusPolicy: Qt.NoFocus
            text: "GRANT CAMERA RIGHTS & POWER ON"
            font.family: Theme.fontFamily
            font.pixelSize: 10
            font.bold: true
            onClicked: workstation.requestCameraPermissionAndPower()
            contentItem: Text {
                text: parent.text
                font: parent.font
                color: Theme.textOnAccent
                elide: Text.ElideRight
                horizontalAlignment: Text.AlignHCenter
            }
            background: Rectangle { radius: 4; color: parent.down ? Theme.accentStrong : Theme.accent }
        }
    }
}
