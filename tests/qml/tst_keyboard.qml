import QtQuick
import QtTest
import "qrc:/qml/components"

Item {
    id: root
    width: 1400
    height: 200

    PianoKeyboard88 {
        id: keyboard
        anchors.fill: parent
    }

    TestCase {
        name: "PianoKeyboard88"
        when: windowShown

        function keyCentre(note) {
            var bed = keyboard.keybed
            if (keyboard.isBlack(note))
                return Qt.point(keyboard.blackKeyX(note) + keyboard.blackKeyWidth() / 2, 5)
            return Qt.point((keyboard.whiteIndex(note) + 0.5) * keyboard.whiteKeyWidth(), bed.height - 5)
        }

        function cleanup() {
            workstation.panicAllNotesOff()
        }

        function test_velocityFollowsWhereTheKeyIsPressed() {
            var bed = keyboard.keybed
            var x = (keyboard.whiteIndex(60) + 0.5) * keyboard.whiteKeyWidth()
            mousePress(bed, x, 0)
            compare(workstation.lastNotePlayed, 60)
            compare(workstation.lastVelocityPlayed, 86)
            mouseRelease(bed, x, 0)
            mousePress(bed, x, bed.height - 1)
            compare(workstation.lastVelocityPlayed, 127)
            mouseRelease(bed, x, bed.height - 1)
            mousePress(bed, x, bed.height / 2, Qt.RightButton)
            compare(workstation.lastVelocityPlayed, 62)
            mouseRelease(bed, x, bed.height / 2, Qt.RightButton)
        }

        function test_blackKeysAreHitFirst() {
            var bed = keyboard.keybed
            // The boundary between C4 and D4 is covered by C#4 in the upper part.
            var boundary = keyboard.whiteIndex(62) * keyboard.whiteKeyWidth()
            mouseClick(bed, boundary, 5)
            compare(workstation.lastNotePlayed, 61)
            mouseClick(bed, boundary + 2, bed.height - 5)
            compare(workstation.lastNotePlayed, 62)
            mouseClick(bed, boundary - 2, bed.height - 5)
            compare(workstation.lastNotePlayed, 60)
            compare(keyboard.noteAt(0, 5), 21)
            compare(keyboard.noteAt(bed.width - 1, bed.height - 1), 108)
            compare(keyboard.noteAt(-1, 5), -1)
        }

        function test_keysFollowTheControllerAndDragMovesTheNote() {
            var bed = keyboard.keybed
            var from = keyCentre(60)
            var to = keyCentre(62)
            mousePress(bed, from.x, from.y)
            verify(workstation.isKeyPressed(60))
            mouseMove(bed, to.x, to.y)
            verify(!workstation.isKeyPressed(60))
            verify(workstation.isKeyPressed(62))
            compare(workstation.lastNotePlayed, 62)
            // Dragging plays 88..126 by height.
            verify(workstation.lastVelocityPlayed >= 88 && workstation.lastVelocityPlayed <= 126)
            mouseRelease(bed, to.x, to.y)
            verify(!workstation.isKeyPressed(62))
            // Each key shows what the controller says, whoever played it, and only that key.
            var notes = [21, 61, 64, 107]
            for (var i = 0; i < notes.length; ++i) {
                var key = findChild(keyboard, "key_" + notes[i])
                workstation.noteOn(notes[i], 90)
                verify(key.down, notes[i])
                verify(!findChild(keyboard, "key_" + (notes[i] + 1)).down, notes[i])
                workstation.noteOff(notes[i])
                verify(!key.down, notes[i])
            }
        }

        function test_splitTintFollowsTheSplitPoint() {
            workstation.splitKey = 54
            workstation.splitEnabled = true
            verify(findChild(keyboard, "key_53").tinted)
            verify(!findChild(keyboard, "key_55").tinted)
            workstation.splitEnabled = false
            verify(!findChild(keyboard, "key_53").tinted)
        }
    }
}
