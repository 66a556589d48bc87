import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import "../components"
import ".."

// ZONES: main, layer 2 and the left-hand split, with their octave offsets, the
// split point, velocity switching, the arpeggiator, chord memory, and storing the
// setup to a registration memory.
Item {
    id: view

    readonly property var noteNames: ["C", "C#", "D", "Eb", "E", "F", "F#", "G", "Ab", "A", "Bb", "B"]
    function noteName(n) { return noteNames[n % 12] + (Math.floor(n / 12) - 1) }

    component Caption: Text {
        font.pixelSize: Theme.fontSmall
        font.bold: true
        color: Theme.textSecondary
    }
    component ZoneCard: Panel {
        Layout.fillWidth: true
        Layout.fillHeight: true
        Layout.preferredWidth: 100 // the three share the width alike
    }
    // A voice name: two lines, then elided with the whole name on hover.
    component VoiceName: ElidedText {
        Layout.fillWidth: true
        wrapMode: Text.WordWrap
        maximumLineCount: 2
        font.pixelSize: Theme.fontLarge
        font.bold: true
        color: Theme.textPrimary
    }

    ScrollView {
        anchors.fill: parent
        anchors.margins: Theme.padding
        contentWidth: availableWidth
        clip: true
        ScrollBar.vertical.policy: contentHeight > height + 1 ? ScrollBar.AlwaysOn : ScrollBar.AsNeeded

        ColumnLayout {
            width: parent.width
            spacing: Theme.spacing

            RowLayout {
                Layout.fillWidth: true
                spacing: Theme.spacing

                ZoneCard {
                    title: "MAIN"
                    ColumnLayout {
                        width: parent.width
                        spacing: 8
                        VoiceName { objectName: "zoneMainName"; text: workstation.mainPresetName }
                        ElidedText {
                            Layout.fillWidth: true
                            text: workstation.mainPresetCategory + " • " + workstation.mainPresetEngineLabel
                            font.pixelSize: Theme.fontSmall
                            font.bold: true
                            color: Theme.textSecondary
                        }
                        Caption { text: "TRANSPOSE" }
                        SpinBox { from: -12; to: 12; value: workstation.transposeSemitones; onValueModified: workstation.transposeSemitones = value }
                        Caption { text: "OCTAVE" }
                        SpinBox { from: -3; to: 3; value: workstation.octaveShift; onValueModified: workstation.octaveShift = value }
                    }
                }

                ZoneCard {
                    title: "LAYER 2"
                    ColumnLayout {
                        width: parent.width
                        spacing: 8
                        VoiceName { objectName: "zoneLayerName"; text: workstation.layer2PresetName || "—" }
                        Switch {
                            objectName: "layerSwitch"
                            text: "Layer on"
                            checked: workstation.layer2Enabled
                            onToggled: workstation.layer2Enabled = checked
                        }
                        Caption { text: "OCTAVE OFFSET" }
                        SpinBox { from: -2; to: 2; value: workstation.layer2OctaveOffset; onValueModified: workstation.layer2OctaveOffset = value }
                        Switch {
                            text: "Velocity switch (strong notes only)"
                            checked: workstation.velocitySwitchEnabled
                            onToggled: workstation.velocitySwitchEnabled = checked
                        }
                        RowLayout {
                            Caption { text: "THRESHOLD" }
                            SpinBox { from: 20; to: 126; value: workstation.velocityThreshold; onValueModified: workstation.velocityThreshold = value }
                        }
                    }
                }

                ZoneCard {
                    title: "LEFT SPLIT"
                    ColumnLayout {
                        width: parent.width
                        spacing: 8
                        VoiceName { objectName: "zoneSplitName"; text: workstation.splitPresetName || "—" }
                        Switch {
                            objectName: "splitSwitch"
                            text: "Split on"
                            checked: workstation.splitEnabled
                            onToggled: workstation.splitEnabled = checked
                        }
                        RowLayout {
                            Caption { text: "SPLIT KEY" }
                            SpinBox {
                                from: 21
                                to: 96
                                value: workstation.splitKey
                                textFromValue: function (v) { return view.noteName(v) }
                                valueFromText: function (t) { return workstation.splitKey }
                                onValueModified: workstation.splitKey = value
                            }
                        }
                        Caption { text: "OCTAVE OFFSET" }
                        SpinBox { from: -2; to: 2; value: workstation.splitOctaveOffset; onValueModified: workstation.splitOctaveOffset = value }
                    }
                }
            }

            RowLayout {
                Layout.fillWidth: true
                spacing: Theme.spacing

                Panel {
                    title: "ARPEGGIATOR"
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    ColumnLayout {
                        width: parent.width
                        spacing: 6
                        RowLayout {
                            spacing: 14
                            Switch {
                                objectName: "arpSwitch"
                                text: "On"
                                checked: workstation.arpeggiatorEnabled
                                onToggled: workstation.arpeggiatorEnabled = checked
                            }
                            Caption { text: "DIRECTION" }
                            ComboBox {
                                model: ["UP", "DOWN"]
                                currentIndex: workstation.arpMode === 1 ? 1 : 0
                                onActivated: function (i) { workstation.arpMode = i }
                            }
                            Caption { text: "OCTAVES" }
                            SpinBox { from: 1; to: 3; value: workstation.arpOctaves; onValueModified: workstation.arpOctaves = value }
                        }
                        ElidedText {
                            objectName: "arpHint"
                            Layout.fillWidth: true
                            text: "Eighth notes at the beat tempo"
                            font.pixelSize: Theme.fontSmall
                            color: Theme.textSecondary
                        }
                    }
                }

                Panel {
                    title: "CHORD MEMORY"
                    Layout.preferredWidth: 360
                    Layout.fillHeight: true
                    Switch {
                        text: "Each key adds its major third and fifth"
                        checked: workstation.chordMemoryEnabled
                        onToggled: workstation.chordMemoryEnabled = checked
                    }
                }
            }

            // Keeps the whole setup (voices, sound, zones, style, tempo) in a memory
            // that PLAY recalls with one touch; a name typed here replaces the memory's.
            Panel {
                title: "STORE TO REGISTRATION"
                Layout.fillWidth: true
                ColumnLayout {
                    width: parent.width
                    spacing: 8
                    RowLayout {
                        spacing: 10
                        Caption { text: "NAME" }
                        TextField {
                            id: registrationName
                            objectName: "registrationName"
                            Layout.preferredWidth: 320
                            placeholderText: "Keep the memory's name"
                            maximumLength: 60
                        }
                        ElidedText {
                            Layout.fillWidth: true
                            text: "Press a number to store the current setup in it"
                            font.pixelSize: Theme.fontSmall
                            color: Theme.textSecondary
                        }
                    }
                    RegistrationBank {
                        objectName: "storeRegistrations"
                        Layout.fillWidth: true
                        onChosen: function (slot) {
                            workstation.saveCurrentToRegistration(slot, registrationName.text)
                            registrationName.clear()
                        }
                    }
                }
            }
        }
    }
}
