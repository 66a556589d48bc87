import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import "../components"
import ".."

// SYSTEM: the audio backend, sample rate and buffer size, the test tone, and
// what the program is.
Item {
    id: view
    readonly property var rates: [44100, 48000, 96000]
    readonly property var buffers: [64, 128, 256, 512, 1024]

    component Caption: Text {
        font.pixelSize: Theme.fontSmall
        font.bold: true
        color: Theme.textSecondary
    }

    RowLayout {
        anchors.fill: parent
        anchors.margins: Theme.padding
        spacing: Theme.spacing

        Panel {
            title: "AUDIO OUTPUT"
            Layout.preferredWidth: 560
            Layout.fillHeight: true
            ColumnLayout {
                spacing: 10
                GridLayout {
                    columns: 2
                    columnSpacing: 14
                    rowSpacing: 8
                    Caption { text: "BACKEND" }
                    ComboBox {
                        id: backendBox
                        objectName: "backendBox"
                        model: ["PipeWire", "ALSA"]
                        currentIndex: workstation.activeAudioBackend === "ALSA" ? 1 : 0
                    }
                    Caption { text: "OUTPUT DEVICE" }
                    Text { text: "System default"; font.pixelSize: Theme.fontNormal; color: Theme.textPrimary }
                    Caption { text: "SAMPLE RATE" }
                    ComboBox {
                        id: rateBox
                        model: view.rates.map(r => r + " Hz")
                        currentIndex: Math.max(0, view.rates.indexOf(workstation.audioSampleRate))
                    }
                    Caption { text: "BUFFER SIZE" }
                    ComboBox {
                        id: bufferBox
                        model: view.buffers.map(b => b + " frames")
                        currentIndex: Math.max(0, view.buffers.indexOf(workstation.audioBufferFrames))
                    }
                }
                RowLayout {
                    spacing: 10
                    Button {
                        objectName: "applyAudioButton"
                        text: "APPLY"
                        highlighted: true
                        onClicked: workstation.applyAudioSettings(backendBox.currentText, "default",
                                                                  view.rates[rateBox.currentIndex],
                                                                  view.buffers[bufferBox.currentIndex])
                    }
                    Button {
                        objectName: "testToneButton"
                        text: "PLAY TEST TONE"
                        onClicked: workstation.playTestTone()
                    }
                }
                Rectangle {
                    Layout.preferredWidth: 520
                    Layout.preferredHeight: 96
                    radius: Theme.radius
                    color: Theme.display
                    Column {
                        anchors.fill: parent
                        anchors.margins: 12
                        spacing: 4
                        Text { text: "RUNNING: " + workstation.activeAudioBackend + " • " + workstation.activeAudioDevice; color: Theme.displayText; font.pixelSize: Theme.fontNormal; font.bold: true }
                        Text { text: workstation.audioSampleRate + " Hz • " + workstation.audioBufferFrames + " frames • " + workstation.audioLatencyMs.toFixed(1) + " ms"; color: Theme.displayText; font.pixelSize: Theme.fontNormal }
                        Text { text: "CPU load " + workstation.audioCpuLoad.toFixed(1) + "% • " + workstation.activeVoiceCount + " piano voices"; color: Theme.topBarMuted; font.pixelSize: Theme.fontSmall }
                    }
                }
            }
        }

        Panel {
            title: "ABOUT"
            Layout.fillWidth: true
            Layout.fillHeight: true
            Column {
                spacing: 8
                Text { text: "Tembora " + Qt.application.version; font.pixelSize: Theme.fontTitle; font.bold: true; color: Theme.textPrimary }
                Text { text: "Keyboard workstation for church musicians and stage players"; font.pixelSize: Theme.fontNormal; color: Theme.textSecondary }
                Text { text: "MIDI: " + workstation.primaryControllerName; font.pixelSize: Theme.fontNormal; color: Theme.textPrimary }
                Text { text: "Instruments in the catalogue: " + workstation.queryPresets("", "", false).length; font.pixelSize: Theme.fontNormal; color: Theme.textPrimary }
            }
        }
    }
}
