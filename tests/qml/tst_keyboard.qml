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

        // The tinted keys are those that play the split: their note after transpose
        // and octave shift is below the split key.
        function test_splitTintShowsTheKeysThatPlayTheSplit() {
            // split key, semitones, octaves, last tinted white key, first white key not tinted
            var cases = [[54, 0, 0, 53, 55], [54, 2, 0, 50, 52], [54, 0, 1, 41, 43], [60, -5, 0, 64, 65],
                         [54, -12, -2, 89, 91], [96, -12, -3, 108, -1], [21, 12, 3, -1, 21]]
            workstation.splitEnabled = true
            for (var i = 0; i < cases.length; ++i) {
                var c = cases[i]
                workstation.splitKey = c[0]
                workstation.transposeSemitones = c[1]
                workstation.octaveShift = c[2]
                if (c[3] > 0)
                    verify(findChild(keyboard, "key_" + c[3]).tinted, "case " + i)
                if (c[4] > 0)
                    verify(!findChild(keyboard, "key_" + c[4]).tinted, "case " + i)
            }
            verify(!findChild(keyboard, "key_22").tinted) // black keys stay black
            workstation.splitEnabled = false
            verify(!findChild(keyboard, "key_21").tinted)
            workstation.transposeSemitones = 0
            workstation.octaveShift = 0
            workstation.splitKey = 54
        }

        // Green marks the hymn's melody key, amber its chord, as written; the keys
        // follow the step and go dark outside the HYMNS view.
        function test_guideKeysFollowTheHymnStep() {
            function guides() {
                var lit = []
                for (var n = 40; n < 80; ++n) {
                    var key = findChild(keyboard, "key_" + n)
                    if (key.guideMelody) lit.push("m" + n)
                    if (key.guideChord) lit.push("c" + n)
                }
                return lit.join(" ")
            }
            workstation.currentMode = 8
            workstation.currentHymnIndex = 0
            // The written notes (read now: the list follows the key).
            var melody = [workstation.currentHymnSteps[0].midiNote, workstation.currentHymnSteps[1].midiNote]
            var expected = function (step) {
                return guides() !== "" && findChild(keyboard, "key_" + melody[step]).guideMelody
            }
            verify(expected(0), guides())
            tryCompare(findChild(keyboard, "key_" + melody[0]), "color", Qt.color("#4CC27E"))
            var first = guides()
            workstation.stepHymnForward()
            verify(expected(1) && guides() !== first, guides())
            workstation.transposeSemitones = 2
            verify(expected(1), guides())
            workstation.currentMode = 0
            compare(guides(), "")
            workstation.transposeSemitones = 0
            workstation.restartHymnLesson()
        }
    }
}
