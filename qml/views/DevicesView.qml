import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import "../components"
import ".."

// MIDI I/O: the sequencer's ports with connect, disconnect and ignore, the live
// input log, and the controller mappings with MIDI learn.
Item {
    id: view

    component Caption: Text {
        font.pixelSize: Theme.fontSmall
        color: Theme.textSecondary
        elide: Text.ElideRight
    }

    RowLayout {
        anchors.fill: parent
        anchors.margins: Theme.padding
        spacing: Theme.spacing

        ColumnLayout {
            Layout.preferredWidth: 460
            Layout.fillHeight: true
            spacing: Theme.spacing

            Panel {
                title: "MIDI PORTS"
                Layout.fillWidth: true
                Layout.fillHeight: true
                ColumnLayout {
                    width: parent.width
                    spacing: 6
                    Button {
                        objectName: "rescanMidiButton"
                        text: "RESCAN"
                        onClicked: workstation.rescanMidiDevices()
                    }
                    Caption { visible: workstation.midiPorts.length === 0; text: "No MIDI ports found" }
                    Repeater {
                        model: workstation.midiPorts
                        delegate: RowLayout {
                            required property var modelData
                            Layout.fillWidth: true
                            Text {
                                Layout.fillWidth: true
                                elide: Text.ElideRight
                                text: modelData.displayName + (modelData.isConnected ? "  • CONNECTED" : "")
                                color: modelData.isIgnored ? Theme.textDisabled : Theme.textPrimary
                                font.pixelSize: Theme.fontSmall
                            }
                            Button {
                                text: modelData.isConnected ? "DISCONNECT" : "CONNECT"
                                font.pixelSize: Theme.fontSmall
                                onClicked: modelData.isConnected
                                           ? workstation.disconnectMidiPort(modelData.clientId, modelData.portId)
                                           : workstation.connectMidiPort(modelData.clientId, modelData.portId)
                            }
                            CheckBox {
                                text: "IGNORE"
                                font.pixelSize: Theme.fontSmall
                                checked: modelData.isIgnored
                                onToggled: workstation.ignoreMidiPort(modelData.clientId, modelData.portId, checked)
                            }
                        }
                    }
                }
            }

            Panel {
                title: "MIDI INPUT LOG"
                Layout.fillWidth: true
                Layout.preferredHeight: 240
                ColumnLayout {
                    width: parent.width
                    spacing: 4
                    Button {
                        text: "CLEAR"
                        font.pixelSize: Theme.fontSmall
                        onClicked: workstation.clearMidiActivityLog()
                    }
                    Repeater {
                        // The newest lines, as many as fit.
                        model: workstation.midiActivityLog.slice(-8)
                        delegate: Caption { required property string modelData; text: modelData }
                    }
                }
            }
        }

        Panel {
            title: "CONTROLLER MAPPINGS"
            Layout.fillWidth: true
            Layout.fillHeight: true
            ColumnLayout {
                anchors.fill: parent
                spacing: 6
                RowLayout {
                    spacing: 10
                    Text {
                        objectName: "midiLearnLine"
                        Layout.fillWidth: true
                        text: workstation.midiLearnActive
                              ? "WAITING FOR CONTROLLER INPUT: " + workstation.midiLearnTarget
                              : workstation.lastMidiControlText
                        color: workstation.midiLearnActive ? Theme.danger : Theme.textPrimary
                        font.pixelSize: Theme.fontNormal
                        font.bold: workstation.midiLearnActive
                        elide: Text.ElideRight
                    }
                    Button {
                        objectName: "cancelLearnButton"
                        visible: workstation.midiLearnActive
                        text: "CANCEL"
                        onClicked: workstation.cancelMidiLearn()
                    }
                    Button {
                        objectName: "resetProfileButton"
                        text: "RESET S49 DEFAULTS"
                        onClicked: workstation.resetSamsonProfile()
                    }
                }
                ListView {
                    objectName: "mappingList"
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    clip: true
                    model: workstation.controllerMappings
                    ScrollBar.vertical: ScrollBar {}
                    delegate: RowLayout {
                        required property var modelData
                        width: ListView.view.width
                        Text {
                            Layout.preferredWidth: 260
                            elide: Text.ElideRight
                            text: modelData.controlName
                            color: Theme.textPrimary
                            font.pixelSize: Theme.fontSmall
                        }
                        Caption { Layout.fillWidth: true; text: modelData.targetParameter }
                        Button {
                            text: "LEARN"
                            font.pixelSize: Theme.fontSmall
                            onClicked: workstation.startMidiLearn(modelData.targetParameter,
                                                             modelData.controlName.replace(/ \((CC|Note) \d+\)$/, ""))
                        }
                    }
                }
            }
        }
    }
}
