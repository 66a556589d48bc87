import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

ApplicationWindow {
    id: root
    width: 1480
    height: 920
    visible: true
    title: "Tembora"
    color: Theme.windowBackground

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 24
        spacing: 16

        Label {
            text: "Tembora"
            font.pixelSize: 32
            font.bold: true
            color: "#1F2A37"
        }

        Rectangle {
            Layout.fillWidth: true
            implicitHeight: bannerText.implicitHeight + 20
            radius: 6
            color: "#FFFFFF"
            border.color: "#B8C2CE"
            Label {
                id: bannerText
                objectName: "statusBanner"
                anchors.fill: parent
                anchors.margins: 10
                text: workstation.statusBanner
                font.pixelSize: 16
                color: "#1F2A37"
                elide: Text.ElideRight
            }
        }

        RowLayout {
            spacing: 16
            Label {
                objectName: "audioBackend"
                text: "Audio: " + workstation.activeAudioBackend + " • " + workstation.activeAudioDevice
                      + " • " + workstation.audioSampleRate + " Hz / " + workstation.audioBufferFrames + " frames"
                font.pixelSize: 15
                color: "#1F2A37"
            }
            Button {
                objectName: "testToneButton"
                text: "Play Test Tone"
                onClicked: workstation.playTestTone()
            }
        }

        Item { Layout.fillHeight: true }
    }
}
