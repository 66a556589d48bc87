import QtQuick
import QtTest
import "qrc:/qml/components"
import "qrc:/qml/views"

// The on-screen keyboard, and the computer keys: they play whatever control was clicked last;
// a text field keeps its typing until Enter, Escape or a click elsewhere gives the keys back.
Item {
    width: 1400
    height: 900

    SoundsView { id: sounds; width: 1200; height: 700 }
    PianoKeyboard88 { id: keyboard; y: 700; width: 1400; height: 200 }
    SignalSpy { id: keySpy; target: workstation; signalName: "keyStateUpdated" }

    TestCase {
        name: "Keys"
        when: windowShown

        function key(note) { return findChild(keyboard, "key_" + note) }
        function keyCentre(note) {
            if (keyboard.isBlack(note))
                return Qt.point(keyboard.blackKeyX(note) + keyboard.blackKeyWidth() / 2, 5)
            return Qt.point((keyboard.whiteIndex(note) + 0.5) * keyboard.whiteKeyWidth(), keyboard.keybed.height - 5)
        }
        function cleanup() {
            keyRelease(Qt.Key_Z)
            keyRelease(Qt.Key_Space)
            wait(60)
            workstation.panicAllNotesOff()
        }

        // "z" and Space reach the controller; returns after their release.
        function playsZAndSpace(what) {
            keyPress(Qt.Key_Z)
            keyPress(Qt.Key_Space)
            verify(workstation.isKeyPressed(48) && workstation.sustainPedal, what)
            keyRelease(Qt.Key_Space)
            keyRelease(Qt.Key_Z)
            tryVerify(function () { return !workstation.isKeyPressed(48) && !workstation.sustainPedal }, 500, what)
        }

        function test_controlsNeverTakeTheKeys() {
            mouseClick(findChild(sounds, "assignMain"))
            var chosen = workstation.mainPresetId
            workstation.layer2Enabled = true // choosing a main sound again would switch it off
            playsZAndSpace("after MAIN")
            verify(workstation.layer2Enabled && workstation.mainPresetId === chosen, "MAIN was pressed again")
            var favourites = findChild(sounds, "favoritesOnly")
            mouseClick(favourites)
            playsZAndSpace("after a check box")
            verify(favourites.checked, "the check box was toggled again")
            mouseClick(favourites)
        }

        function test_aTextFieldKeepsItsTypingUntilLeft() {
            var field = findChild(sounds, "soundsSearch")
            var leave = [function () { keyClick(Qt.Key_Return) }, function () { keyClick(Qt.Key_Escape) },
                         function () { mouseClick(findChild(sounds, "categoryList"), 20, 10) }]
            for (var i = 0; i < leave.length; ++i) {
                field.text = ""
                mouseClick(field)
                keySpy.clear()
                keyClick(Qt.Key_Z)
                keyClick(Qt.Key_Space)
                compare(field.text, "z ")
                verify(!workstation.sustainPedal && keySpy.count === 0, "typing played")
                leave[i]()
                tryVerify(function () { return !field.activeFocus }, 500, "way out " + i)
                playsZAndSpace("after leaving the field, way " + i)
                compare(field.text, "z ")
            }
            field.text = ""
        }

        // Top, bottom and right button of C4; then the black key wins the C4/D4 boundary up top.
        function test_velocityAndHitTesting() {
            var bed = keyboard.keybed
            var x = (keyboard.whiteIndex(60) + 0.5) * keyboard.whiteKeyWidth()
            var presses = [[0, Qt.LeftButton, 86], [bed.height - 1, Qt.LeftButton, 127], [bed.height / 2, Qt.RightButton, 62]]
            for (var p of presses) {
                mousePress(bed, x, p[0], p[1])
                compare([workstation.lastNotePlayed, workstation.lastVelocityPlayed], [60, p[2]])
                mouseRelease(bed, x, p[0], p[1])
            }
            var boundary = keyboard.whiteIndex(62) * keyboard.whiteKeyWidth()
            for (var hit of [[boundary, 5, 61], [boundary + 2, bed.height - 5, 62], [boundary - 2, bed.height - 5, 60]]) {
                mouseClick(bed, hit[0], hit[1])
                compare(workstation.lastNotePlayed, hit[2])
            }
            compare([keyboard.noteAt(0, 5), keyboard.noteAt(bed.width - 1, bed.height - 1), keyboard.noteAt(-1, 5)], [21, 108, -1])
        }

        // A drag moves the note (velocity 88..126 by height); keys show what the controller says.
        function test_keysFollowTheControllerAndDragMovesTheNote() {
            var bed = keyboard.keybed, from = keyCentre(60), to = keyCentre(62)
            mousePress(bed, from.x, from.y)
            verify(workstation.isKeyPressed(60))
            mouseMove(bed, to.x, to.y)
            verify(!workstation.isKeyPressed(60) && workstation.isKeyPressed(62))
            compare(workstation.lastNotePlayed, 62)
            verify(workstation.lastVelocityPlayed >= 88 && workstation.lastVelocityPlayed <= 126)
            mouseRelease(bed, to.x, to.y)
            verify(!workstation.isKeyPressed(62))
            mousePress(bed, from.x, from.y)
            bed.enabled = false // the press is taken away (a dialog, a touch grab): its note ends too
            bed.enabled = true
            verify(!workstation.isKeyPressed(60))
            for (var n of [21, 61, 64, 107]) {
                workstation.noteOn(n, 90)
                verify(key(n).down && !key(n + 1).down, n)
                workstation.noteOff(n)
                verify(!key(n).down, n)
            }
        }

        // The tinted keys play the split: their note after transpose and octave is below the split key.
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
                verify(c[3] < 0 || key(c[3]).tinted, "case " + i)
                verify(c[4] < 0 || !key(c[4]).tinted, "case " + i)
            }
            verify(!key(22).tinted) // black keys stay black
            workstation.splitEnabled = false
            verify(!key(21).tinted)
            workstation.transposeSemitones = 0
            workstation.octaveShift = 0
            workstation.splitKey = 54
        }

        // Green marks the hymn's written melody key; it follows the step, ignores transpose and
        // goes dark outside the HYMNS view.
        function test_guideKeysFollowTheHymnStep() {
            function guides() {
                var lit = []
                for (var n = 40; n < 80; ++n)
                    lit.push((key(n).guideMelody ? "m" + n : "") + (key(n).guideChord ? "c" + n : ""))
                return lit.join("")
            }
            workstation.currentMode = 8
            workstation.currentHymnIndex = 0
            var melody = [workstation.currentHymnSteps[0].midiNote, workstation.currentHymnSteps[1].midiNote]
            verify(key(melody[0]).guideMelody, guides())
            tryCompare(key(melody[0]), "color", Qt.color("#4CC27E"))
            var first = guides()
            workstation.stepHymnForward()
            verify(key(melody[1]).guideMelody && guides() !== first, guides())
            workstation.transposeSemitones = 2
            verify(key(melody[1]).guideMelody, guides())
            workstation.currentMode = 0
            compare(guides(), "")
            workstation.transposeSemitones = 0
            workstation.restartHymnLesson()
        }
    }
}
