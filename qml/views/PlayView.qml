import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import "../components"
import ".."

// PLAY: the registration memories, the sound of the piano and the master, touch,
// A/B compare, the church preset, the style with its quick start, pads, the chord
// display and the voice and auto-tune summaries.
Item {
    id: view
    // Below this width the knob banks and the lower panels wrap onto more rows.
    readonly property bool wide: width >= 1230

    // A right-click binds the next hardware control moved to the knob's target;
    // another right-click while it waits cancels.
    component PercentKnob: RotaryKnob {
        property string learnTarget: ""
        property string learnName: ""
        valueText: Math.round(value * 100) + "%"
        learnable: learnTarget !== ""
        learning: learnable && workstation.midiLearnActive && workstation.midiLearnTarget === learnName
        onLearnRequested: learning ? workstation.cancelMidiLearn() : workstation.startMidiLearn(learnTarget, learnName)
    }
    component ChoiceButton: Button {
        property bool selected: false
        checkable: false
        highlighted: selected
        font.pixelSize: Theme.fontSmall
        font.bold: true
    }

    ScrollView {
        objectName: "playScroll"
        anchors.fill: parent
        anchors.margins: Theme.padding
        contentWidth: availableWidth
        clip: true
        // Shown whenever there is more below, so the lower panels are never a secret.
        ScrollBar.vertical.policy: contentHeight > height + 1 ? ScrollBar.AlwaysOn : ScrollBar.AsNeeded

        ColumnLayout {
            width: parent.width
            spacing: Theme.spacing

            // One touch recalls a whole setup for the service: voices, sound, zones, style and tempo.
            Panel {
                title: "REGISTRATION MEMORY"
                Layout.fillWidth: true
                Layout.preferredHeight: 120
                RegistrationBank {
                    objectName: "playRegistrations"
                    width: parent.width
                    onChosen: slot => workstation.loadRegistration(slot)
                }
            }

            // One row when wide; narrower, the voices get a row of their own.
            GridLayout {
                Layout.fillWidth: true
                columns: view.wide ? 4 : 3
                columnSpacing: Theme.spacing
                rowSpacing: Theme.spacing

                Panel {
                    title: "VOICES"
                    Layout.fillWidth: true
                    Layout.columnSpan: view.wide ? 1 : 3
                    Layout.preferredHeight: 150
                    GridLayout {
                        anchors.fill: parent
                        columns: 2
                        columnSpacing: 14
                        rowSpacing: 4
                        Text { text: "MAIN"; font.bold: true; font.pixelSize: Theme.fontSmall; color: Theme.textSecondary }
                        ElidedText { objectName: "summaryMain"; Layout.fillWidth: true; text: workstation.mainPresetName + "  (" + workstation.mainPresetEngineLabel + ")"; font.pixelSize: Theme.fontNormal; color: Theme.textPrimary }
                        Text { text: "LAYER 2"; font.bold: true; font.pixelSize: Theme.fontSmall; color: Theme.textSecondary }
                        // The velocity switch adds the layer to strong notes whatever its switch says.
                        ElidedText {
                            objectName: "summaryLayer"
                            Layout.fillWidth: true
                            text: (workstation.velocitySwitchEnabled ? "on strong notes ≥ " + workstation.velocityThreshold + " • "
                                                                     : workstation.layer2Enabled ? "ON • " : "OFF • ")
                                  + workstation.layer2PresetName
                            font.pixelSize: Theme.fontNormal
                            color: Theme.textPrimary
                        }
                        Text { text: "SPLIT"; font.bold: true; font.pixelSize: Theme.fontSmall; color: Theme.textSecondary }
                        ElidedText { Layout.fillWidth: true; text: (workstation.splitEnabled ? "ON • " : "OFF • ") + workstation.splitPresetName; font.pixelSize: Theme.fontNormal; color: Theme.textPrimary }
                        Text { text: "VOICES"; font.bold: true; font.pixelSize: Theme.fontSmall; color: Theme.textSecondary }
                        ElidedText { Layout.fillWidth: true; text: workstation.activeVoiceCount + " sounding • drum kit " + workstation.currentDrumKitName; font.pixelSize: Theme.fontNormal; color: Theme.textPrimary }
                    }
                }

                ChordDisplay {
                    Layout.preferredWidth: 250
                    Layout.preferredHeight: 150
                }

                Panel {
                    title: "COMPARE"
                    Layout.fillWidth: !view.wide
                    Layout.preferredWidth: 200
                    Layout.preferredHeight: 150
                    ColumnLayout {
                        spacing: 6
                        Button {
                            objectName: "abButton"
                            text: workstation.abSlotBActive ? "SOUND B ACTIVE" : "SOUND A ACTIVE"
                            highlighted: workstation.abSlotBActive
                            onClicked: workstation.toggleAbCompare()
                        }
                        Button {
                            text: "HOME PIANO"
                            onClicked: workstation.resetToDefaultPiano()
                        }
                    }
                }

                Panel {
                    title: "AUTO-TUNE"
                    Layout.fillWidth: !view.wide
                    Layout.preferredWidth: 280
                    Layout.preferredHeight: 150
                    ColumnLayout {
                        width: parent.width
                        spacing: 6
                        RowLayout {
                            Switch {
                                checked: workstation.autoTuneEnabled
                                onToggled: workstation.autoTuneEnabled = checked
                            }
                            Button {
                                text: "MODE " + (workstation.autoTuneMode + 1) + "/5"
                                onClicked: workstation.cycleAutoTuneMode()
                            }
                        }
                        ElidedText {
                            objectName: "autoTuneStatus"
                            Layout.fillWidth: true
                            text: workstation.autoTuneModeName + " • " + workstation.autoTuneStatusText
                            wrapMode: Text.WordWrap
                            maximumLineCount: 2
                            font.pixelSize: Theme.fontSmall
                            color: Theme.textSecondary
                        }
                    }
                }
            }

            // A church's preset sets voices, sound, style and tempo at once; the style
            // line says what the band plays, and a genre button starts its family.
            GridLayout {
                Layout.fillWidth: true
                columns: view.wide ? 2 : 1
                columnSpacing: Theme.spacing
                rowSpacing: Theme.spacing

                Panel {
                    title: "CHURCH PRESET"
                    Layout.fillWidth: !view.wide
                    Layout.fillHeight: true
                    Layout.preferredWidth: 380
                    ColumnLayout {
                        width: parent.width
                        spacing: 4
                        ComboBox {
                            objectName: "playChurchSelector"
                            Layout.fillWidth: true
                            focusPolicy: Qt.NoFocus
                            model: workstation.churchDenominations
                            textRole: "shortLabel"
                            currentIndex: workstation.selectedChurchIndex
                            onActivated: index => workstation.selectChurchDenomination(index)
                        }
                        ElidedText {
                            objectName: "playChurchSummary"
                            Layout.fillWidth: true
                            text: workstation.selectedChurchPresetSummary
                            font.pixelSize: Theme.fontSmall
                            color: Theme.textSecondary
                        }
                    }
                }

                Panel {
                    title: "STYLE"
                    Layout.fillWidth: true
                    ColumnLayout {
                        width: parent.width
                        spacing: 6
                        RowLayout {
                            Layout.fillWidth: true
                            spacing: 10
                            ChoiceButton {
                                objectName: "playStyleTransport"
                                text: workstation.beatPlaying ? "■ STOP" : "▶ START"
                                selected: workstation.beatPlaying
                                focusPolicy: Qt.NoFocus
                                onClicked: workstation.beatPlaying = !workstation.beatPlaying
                            }
                            ElidedText {
                                objectName: "playStyleSummary"
                                Layout.fillWidth: true
                                text: workstation.arrangerStyleName + " • " + workstation.arrangerGenreFamily + " • "
                                      + (workstation.beatPlaying ? "PLAYING" : "STOPPED") + " • " + Math.round(workstation.bpm) + " BPM"
                                font.pixelSize: Theme.fontNormal
                                font.bold: true
                                color: Theme.textPrimary
                            }
                        }
                        Flow {
                            Layout.fillWidth: true
                            spacing: 6
                            Repeater {
                                model: Theme.styleFamilies
                                delegate: ChoiceButton {
                                    required property string modelData
                                    required property int index
                                    objectName: "playFamily_" + index
                                    text: modelData.toUpperCase().replace("&", "&&") // a lone "&" marks a shortcut
                                    focusPolicy: Qt.NoFocus
                                    selected: workstation.arrangerGenreFamily === modelData
                                    onClicked: workstation.triggerStyleQuickStart(index)
                                }
                            }
                        }
                    }
                }
            }

            GridLayout {
                Layout.fillWidth: true
                columns: view.wide ? 2 : 1
                columnSpacing: Theme.spacing
                rowSpacing: Theme.spacing

                Panel {
                    title: "ACOUSTIC MODELLING"
                    Layout.fillWidth: true
                    Layout.preferredHeight: 150
                    Row {
                        spacing: 4
                        PercentKnob { label: "BRIGHT"; learnTarget: "piano.brightness"; learnName: "Brightness"; value: workstation.brightness; defaultValue: 0.55; onMoved: v => workstation.brightness = v }
                        PercentKnob { label: "DAMPER"; learnTarget: "piano.damperResonance"; learnName: "Damper Resonance"; value: workstation.damperResonance; defaultValue: 0.35; onMoved: v => workstation.damperResonance = v }
                        PercentKnob { label: "STRINGS"; learnTarget: "piano.stringResonance"; learnName: "String Resonance"; value: workstation.stringResonance; defaultValue: 0.30; onMoved: v => workstation.stringResonance = v }
                        PercentKnob { label: "KEY-OFF"; learnTarget: "piano.keyOffVolume"; learnName: "Key-Off Volume"; value: workstation.keyOffVolume; defaultValue: 0.50; onMoved: v => workstation.keyOffVolume = v }
                        PercentKnob { label: "PEDAL"; learnTarget: "piano.pedalNoiseVolume"; learnName: "Pedal Noise"; value: workstation.pedalNoiseVolume; defaultValue: 0.40; onMoved: v => workstation.pedalNoiseVolume = v }
                        PercentKnob { label: "LID"; learnTarget: "piano.lidPosition"; learnName: "Grand Lid"; value: workstation.lidPosition; from: 0.1; defaultValue: 1.0; onMoved: v => workstation.lidPosition = v }
                    }
                }

                Panel {
                    title: "MASTERING"
                    Layout.fillWidth: true
                    Layout.preferredHeight: 150
                    Row {
                        spacing: 4
                        PercentKnob { label: "REVERB"; learnTarget: "piano.reverb"; learnName: "Hall Reverb"; value: workstation.reverbAmount; defaultValue: 0.28; onMoved: v => workstation.reverbAmount = v }
                        PercentKnob { label: "ROOM"; learnTarget: "piano.roomSize"; learnName: "Room Size"; value: workstation.reverbRoomSize; from: 0.1; to: 0.98; defaultValue: 0.72; onMoved: v => workstation.reverbRoomSize = v }
                        PercentKnob { label: "CHORUS"; learnTarget: "piano.chorus"; learnName: "Chorus"; value: workstation.chorusAmount; onMoved: v => workstation.chorusAmount = v }
                        PercentKnob { label: "DELAY"; learnTarget: "piano.delay"; learnName: "Delay"; value: workstation.delayAmount; onMoved: v => workstation.delayAmount = v }
                        PercentKnob { label: "DRIVE"; learnTarget: "piano.drive"; learnName: "Warmth/Drive"; value: workstation.driveAmount; onMoved: v => workstation.driveAmount = v }
                        PercentKnob { label: "COMP"; value: workstation.compressorAmount; defaultValue: 0.20; onMoved: v => workstation.compressorAmount = v }
                        PercentKnob { label: "WIDTH"; learnTarget: "piano.stereoWidth"; learnName: "Stereo Width"; value: workstation.stereoWidth; to: 1.6; defaultValue: 1.0; onMoved: v => workstation.stereoWidth = v }
                        RotaryKnob { label: "TUNING"; value: workstation.tuningHz; from: 415; to: 466; defaultValue: 440; decimals: 1; unit: " Hz"; onMoved: v => workstation.tuningHz = v }
                    }
                }
            }

            GridLayout {
                Layout.fillWidth: true
                columns: view.wide ? 3 : 2
                columnSpacing: Theme.spacing
                rowSpacing: Theme.spacing

                Panel {
                    title: "TOUCH"
                    Layout.fillWidth: true
                    Layout.preferredHeight: 96
                    Row {
                        spacing: 6
                        Repeater {
                            model: ["SOFT", "MEDIUM", "HARD", "FIXED"]
                            delegate: ChoiceButton {
                                required property string modelData
                                required property int index
                                text: modelData
                                selected: workstation.touchCurve === index
                                onClicked: workstation.touchCurve = index
                            }
                        }
                    }
                }

                Panel {
                    title: "TRANSPOSE & OCTAVE"
                    Layout.fillWidth: true
                    Layout.preferredHeight: 96
                    Row {
                        spacing: 8
                        Text { anchors.verticalCenter: parent.verticalCenter; text: "SEMI"; font.pixelSize: Theme.fontSmall; font.bold: true; color: Theme.textSecondary }
                        SpinBox { from: -12; to: 12; value: workstation.transposeSemitones; onValueModified: workstation.transposeSemitones = value }
                        Text { anchors.verticalCenter: parent.verticalCenter; text: "OCT"; font.pixelSize: Theme.fontSmall; font.bold: true; color: Theme.textSecondary }
                        SpinBox { from: -3; to: 3; value: workstation.octaveShift; onValueModified: workstation.octaveShift = value }
                    }
                }

                Panel {
                    title: "DRUM PADS"
                    Layout.fillWidth: true
                    Layout.columnSpan: view.wide ? 1 : 2
                    Layout.preferredHeight: 96
                    Row {
                        spacing: 6
                        Repeater {
                            model: [ { name: "KICK", note: 36, pad: 0 }, { name: "SNARE", note: 38, pad: 1 },
                                     { name: "HI-HAT", note: 42, pad: 2 }, { name: "CRASH", note: 49, pad: 3 } ]
                            delegate: Rectangle {
                                required property var modelData
                                width: 86
                                height: 40
                                radius: Theme.radius
                                color: workstation.activePadIndex === modelData.pad ? Theme.accent : Theme.railButton
                                Text { anchors.centerIn: parent; text: modelData.name; font.bold: true; font.pixelSize: Theme.fontSmall; color: Theme.topBarText }
                                MouseArea { anchors.fill: parent; onPressed: workstation.triggerDrumPad(modelData.note) }
                            }
                        }
                    }
                }
            }
        }
    }
}
