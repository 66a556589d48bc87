import QtQuick
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Layouts
import "../components"
import ".."

// STUDIO: the recorder's transport, the waveform of the take with the playhead, and
// a piano roll of the recorded notes. Double-click an empty place to add a note;
// drag a note to move it, drag its right edge to resize it; right-click it (or
// select it and press Delete) to remove it. Positions snap to sixteenths.
Item {
    id: view

    readonly property real beatWidth: 48 * zoom.value
    readonly property int rowHeight: 12
    readonly property real grid: 0.25
    readonly property int loopEndBeats: 16 // the loop runs over the first 16 beats
    property int selectedNote: -1

    function snap(beats) { return Math.max(0, Math.round(beats / grid) * grid) }
    function pitchAt(y) { return Math.max(0, Math.min(127, 127 - Math.floor(y / rowHeight))) }
    function noteName(pitch) {
        return ["C", "C#", "D", "Eb", "E", "F", "F#", "G", "Ab", "A", "Bb", "B"][pitch % 12] + (Math.floor(pitch / 12) - 1)
    }

    component TransportButton: Button {
        property color tint: Theme.panelRaised
        Layout.preferredHeight: 34
        font.family: Theme.fontFamily
        font.pixelSize: Theme.fontSmall
        font.bold: true
        background: Rectangle {
            radius: Theme.radius
            color: parent.down ? Qt.darker(parent.tint, 1.2) : parent.tint
            border.color: Theme.panelBorder
            opacity: parent.enabled ? 1 : 0.5
        }
    }

    FileDialog {
        id: midiImportDialog
        title: "Import MIDI File"
        nameFilters: ["MIDI files (*.mid *.midi)", "All files (*)"]
        onAccepted: workstation.importMidiFile(selectedFile.toString())
    }
    FileDialog {
        id: midiExportDialog
        title: "Export MIDI File"
        fileMode: FileDialog.SaveFile
        defaultSuffix: "mid"
        nameFilters: ["MIDI files (*.mid)"]
        onAccepted: workstation.exportMidiFile(selectedFile.toString())
    }
    FileDialog {
        id: wavExportDialog
        title: "Export WAV Audio"
        fileMode: FileDialog.SaveFile
        defaultSuffix: "wav"
        nameFilters: ["WAV audio (*.wav)"]
        onAccepted: workstation.exportWavFile(selectedFile.toString())
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: Theme.spacing
        spacing: Theme.spacing

        // Transport and edits
        RowLayout {
            Layout.fillWidth: true
            spacing: 6
            TransportButton {
                objectName: "studioRecordButton"
                text: workstation.studioRecording ? "■ STOP REC" : "● REC"
                tint: workstation.studioRecording ? Theme.danger : Theme.panelRaised
                onClicked: workstation.studioRecording ? workstation.stopStudioTransport() : workstation.startStudioRecord()
            }
            TransportButton {
                objectName: "studioPlayButton"
                text: workstation.studioPlaying ? "❚❚ PAUSE" : "▶ PLAY"
                onClicked: workstation.toggleStudioPlayPause()
            }
            TransportButton {
                objectName: "studioStopButton"
                text: "■ STOP"
                onClicked: workstation.stopStudioTransport()
            }
            TransportButton {
                objectName: "studioLoopButton"
                text: "⟳ LOOP 4 BARS"
                checkable: true
                checked: workstation.studioLoopEnabled
                tint: workstation.studioLoopEnabled ? Theme.accent : Theme.panelRaised
                onToggled: workstation.studioLoopEnabled = checked
            }
            Text {
                objectName: "studioPlayhead"
                Layout.leftMargin: 8
                text: "BEAT " + (workstation.studioPlayheadBeats + 1).toFixed(2) + "  •  " + workstation.recordedNoteCount + " NOTES"
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontNormal
                font.bold: true
                color: Theme.textPrimary
            }
            Item { Layout.fillWidth: true }
            TransportButton { text: "↶ UNDO"; enabled: workstation.canUndoMidi; onClicked: workstation.undoMidiEdit() }
            TransportButton { text: "↷ REDO"; enabled: workstation.canRedoMidi; onClicked: workstation.redoMidiEdit() }
            TransportButton { text: "QUANTIZE 1/16"; onClicked: workstation.quantizeRecordedNotes(view.grid, 1.0) }
            TransportButton { text: "−1"; onClicked: workstation.transposeRecordedNotes(-1) }
            TransportButton { text: "+1"; onClicked: workstation.transposeRecordedNotes(1) }
            TransportButton { text: "CLEAR"; onClicked: workstation.clearRecordedNotes() }
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: 6
            TransportButton { text: "IMPORT MIDI…"; onClicked: midiImportDialog.open() }
            TransportButton { text: "EXPORT MIDI…"; onClicked: midiExportDialog.open() }
            TransportButton { text: "EXPORT WAV…"; onClicked: wavExportDialog.open() }
            Text {
                Layout.fillWidth: true
                Layout.leftMargin: 8
                text: workstation.lastRecordedWavPath ? "LAST TAKE: " + workstation.lastRecordedWavPath : ""
                elide: Text.ElideMiddle
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontSmall
                color: Theme.textSecondary
            }
            Text { text: "ZOOM"; font.pixelSize: Theme.fontSmall; color: Theme.textSecondary }
            Slider { id: zoom; from: 0.25; to: 3; value: 1; Layout.preferredWidth: 120 }
        }

        // The take's waveform, with the playhead at its place in the take.
        Rectangle {
            objectName: "studioWaveform"
            Layout.fillWidth: true
            Layout.preferredHeight: 64
            radius: Theme.radius
            color: Theme.display
            Row {
                anchors.fill: parent
                anchors.margins: 4
                Repeater {
                    model: workstation.audioWaveform
                    Item {
                        required property var modelData
                        width: parent.width / 100
                        height: parent.height
                        Rectangle {
                            anchors.centerIn: parent
                            width: Math.max(1, parent.width - 1)
                            height: Math.max(1, parent.height * parent.modelData)
                            color: Theme.displayText
                        }
                    }
                }
            }
        }

        // Piano roll: pitch names on the left, notes on a beat grid.
        Rectangle {
            Layout.fillWidth: true
            Layout.fillHeight: true
            radius: Theme.radius
            color: Theme.panelRaised
            border.color: Theme.panelBorder
            clip: true

            Flickable {
                id: roll
                objectName: "pianoRoll"
                anchors.fill: parent
                anchors.margins: 1
                contentWidth: Math.max(width, (lastBeat + 16) * view.beatWidth)
                contentHeight: 128 * view.rowHeight
                boundsBehavior: Flickable.StopAtBounds
                ScrollBar.horizontal: ScrollBar {}
                ScrollBar.vertical: ScrollBar {}
                Component.onCompleted: contentY = (127 - 84) * view.rowHeight // C6 at the top
                focus: true
                Keys.onDeletePressed: if (view.selectedNote > 0) workstation.deletePianoRollNote(view.selectedNote)

                readonly property real lastBeat: {
                    var end = view.loopEndBeats
                    var notes = workstation.recordedNotes
                    for (var i = 0; i < notes.length; ++i)
                        end = Math.max(end, notes[i].startBeats + notes[i].durationBeats)
                    return end
                }

                // Rows (black keys darker) and beat lines.
                Repeater {
                    model: 128
                    Rectangle {
                        required property int index
                        readonly property int pitch: 127 - index
                        y: index * view.rowHeight
                        width: roll.contentWidth
                        height: view.rowHeight
                        color: [1, 3, 6, 8, 10].indexOf(pitch % 12) >= 0 ? Theme.panelHeader : Theme.panelRaised
                        Text {
                            visible: parent.pitch % 12 === 0
                            x: 4 + roll.contentX
                            anchors.verticalCenter: parent.verticalCenter
                            text: view.noteName(parent.pitch)
                            font.pixelSize: 9
                            color: Theme.textSecondary
                        }
                    }
                }
                Repeater {
                    model: Math.ceil(roll.contentWidth / view.beatWidth)
                    Rectangle {
                        required property int index
                        x: index * view.beatWidth
                        width: 1
                        height: roll.contentHeight
                        color: index % 4 === 0 ? Theme.panelBorder : Theme.panelHeader
                    }
                }
                Rectangle {
                    visible: workstation.studioLoopEnabled
                    width: view.loopEndBeats * view.beatWidth
                    height: roll.contentHeight
                    color: Theme.accent
                    opacity: 0.08
                }

                MouseArea {
                    objectName: "pianoRollGrid"
                    width: roll.contentWidth
                    height: roll.contentHeight
                    onClicked: view.selectedNote = -1
                    onDoubleClicked: mouse => workstation.addPianoRollNote(view.pitchAt(mouse.y),
                                                                          view.snap(mouse.x / view.beatWidth - view.grid / 2), 1.0)
                }

                Repeater {
                    model: workstation.recordedNotes
                    Rectangle {
                        id: noteItem
                        required property var modelData
                        objectName: "pianoRollNote_" + modelData.id
                        x: modelData.startBeats * view.beatWidth
                        y: (127 - modelData.pitch) * view.rowHeight + 1
                        width: Math.max(4, modelData.durationBeats * view.beatWidth)
                        height: view.rowHeight - 2
                        radius: 2
                        color: view.selectedNote === modelData.id ? Theme.accentStrong : Theme.accentBlue
                        opacity: 0.5 + modelData.velocity / 254
                        border.color: Qt.darker(color, 1.4)

                        // Body: move. The note follows the mouse; the edit is made on release,
                        // after the handler returns, since the edit rebuilds every note.
                        MouseArea {
                            anchors.fill: parent
                            anchors.rightMargin: 6
                            acceptedButtons: Qt.LeftButton | Qt.RightButton
                            preventStealing: true
                            drag.target: noteItem
                            drag.threshold: 4
                            drag.smoothed: false
                            onPressed: mouse => {
                                roll.forceActiveFocus()
                                if (mouse.button === Qt.RightButton)
                                    Qt.callLater(workstation.deletePianoRollNote, noteItem.modelData.id)
                                else
                                    view.selectedNote = noteItem.modelData.id
                            }
                            onReleased: {
                                if (noteItem.x === noteItem.modelData.startBeats * view.beatWidth &&
                                        noteItem.y === (127 - noteItem.modelData.pitch) * view.rowHeight + 1)
                                    return
                                Qt.callLater(workstation.moveResizePianoRollNote, noteItem.modelData.id,
                                             view.pitchAt(noteItem.y + view.rowHeight / 2),
                                             view.snap(noteItem.x / view.beatWidth), noteItem.modelData.durationBeats)
                            }
                        }
                        // Right edge: resize.
                        MouseArea {
                            width: 6
                            height: parent.height
                            anchors.right: parent.right
                            cursorShape: Qt.SizeHorCursor
                            preventStealing: true
                            property real pressX: 0
                            onPressed: mouse => pressX = mouse.x
                            onPositionChanged: mouse => noteItem.width = Math.max(4, noteItem.width + mouse.x - pressX)
                            onReleased: Qt.callLater(workstation.moveResizePianoRollNote, noteItem.modelData.id,
                                                     noteItem.modelData.pitch, noteItem.modelData.startBeats,
                                                     Math.max(view.grid, view.snap(noteItem.width / view.beatWidth)))
                        }
                    }
                }

                Rectangle {
                    objectName: "pianoRollPlayhead"
                    x: workstation.studioPlayheadBeats * view.beatWidth
                    width: 2
                    height: roll.contentHeight
                    color: workstation.studioRecording ? Theme.danger : Theme.good
                }
            }
        }
    }
}
