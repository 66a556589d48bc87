import QtQuick
import QtTest
import "qrc:/qml/views"

// The piano roll: a double-click adds a note snapped to the sixteenth grid, a drag moves it by
// whole rows and grid steps, the right edge resizes it, a right-click deletes it.
Item {
    width: 1100
    height: 700

    StudioView { id: studio; anchors.fill: parent }

    TestCase {
        name: "StudioView"
        when: windowShown

        function note() { var n = workstation.recordedNotes[0]; return [n.pitch, n.startBeats, n.durationBeats] }

        function test_mouseEditsTheNotes() {
            workstation.clearRecordedNotes()
            var grid = findChild(studio, "pianoRollGrid"), row = 12, beat = 48
            // The row of pitch 84 (C6) at 2.1 beats: snapped to a start of 2.
            mouseDoubleClickSequence(grid, 2.1 * beat, (127 - 84) * row + row / 2)
            compare(workstation.recordedNoteCount, 1)
            compare(note(), [84, 2.0, 1.0])
            var id = workstation.recordedNotes[0].id
            var item = findChild(studio, "pianoRollNote_" + id)
            // Dragged in the grid's coordinates: the note moves under the mouse.
            mouseDrag(grid, item.x + 10, item.y + row / 2, 2 * beat + 5, 2 * row)
            tryVerify(function () { return note().join() === "82,4,1" }, 5000, "moved")
            item = findChild(studio, "pianoRollNote_" + id)
            mouseDrag(item, item.width - 2, row / 2, beat / 2 + 2, 0)
            tryVerify(function () { return note().join() === "82,4,1.5" }, 5000, "resized")
            item = findChild(studio, "pianoRollNote_" + id)
            mouseClick(item, 10, row / 2, Qt.RightButton)
            tryCompare(workstation, "recordedNoteCount", 0)
            workstation.undoMidiEdit()
            compare(workstation.recordedNoteCount, 1)
        }
    }
}
