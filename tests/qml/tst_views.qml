import QtQuick
import QtTest
import "qrc:/qml/views"
import "qrc:/qml"

// PLAY, STUDIO's piano roll, ZONES (which stores the setup in a registration memory) and
// SYSTEM (which saves and opens projects and opens the manual).
Item {
    width: 3580
    height: 1100 // the knobs in view with the page at its top

    PlayView { id: play; width: 1180; height: parent.height }
    StudioView { id: studio; x: 1180; width: 1100; height: 700 }
    WorkstationView { id: zones; x: 2280; width: 1300; height: 650 }
    SettingsView { id: system; x: 2280; y: 650; width: 1300; height: 450 }

    TestCase {
        name: "Views"
        when: windowShown

        // The church's choice sets its preset; a genre button starts its family's
        // style and lights alone; the style line names it and says whether it plays.
        function test_churchPresetAndStyleQuickStart() {
            var church = findChild(play, "playChurchSelector")
            for (var index of [2, 0]) {
                church.activated(index)
                compare(workstation.selectedChurchIndex, index)
                compare(church.currentIndex, index)
            }
            var summary = findChild(play, "playStyleSummary")
            for (var family of [3, 6]) {
                mouseClick(findChild(play, "playFamily_" + family))
                compare(workstation.arrangerGenreFamily, Theme.styleFamilies[family])
                verify(workstation.beatPlaying)
                for (var i = 0; i < Theme.styleFamilies.length; ++i)
                    compare(findChild(play, "playFamily_" + i).selected, i === family, "lit " + i)
                compare(summary.text.indexOf(workstation.arrangerStyleName + " • " + Theme.styleFamilies[family] + " • PLAYING"), 0)
            }
            mouseClick(findChild(play, "playStyleTransport"))
            verify(!workstation.beatPlaying && summary.text.indexOf(" • STOPPED • ") > 0)
        }

        // Scrolling the page past a knob never turns it; the wheel turns a knob once
        // it was clicked or the pointer rested on it; a drag turns it and not the page.
        function test_knobsTurnOnlyWhenMeant() {
            var page = findChild(play, "playScroll").contentItem, knob = findChild(play, "knob_WIDTH")
            var centre = function () { return knob.mapToItem(play, knob.width / 2, 28) }
            workstation.stereoWidth = 1.0
            page.contentY = 0
            var p = centre()
            mouseWheel(play, p.x, p.y, 0, -120)
            compare(workstation.stereoWidth, 1.0)
            tryVerify(function () { return page.contentY > 0 }, 1000, "the page scrolls")
            tryCompare(page, "moving", false)
            p = centre()
            mouseMove(play, p.x, p.y)
            wait(knob.wheelDelay + 150)
            var before = workstation.stereoWidth
            mouseWheel(play, p.x, p.y, 0, 120)
            verify(workstation.stereoWidth > before, "rested")
            mouseMove(play, 5, 5) // leaving disarms it
            verify(!knob.wheelArmed)
            p = centre()
            mouseClick(play, p.x, p.y)
            before = workstation.stereoWidth
            mouseWheel(play, p.x, p.y, 0, -120)
            verify(workstation.stereoWidth < before, "clicked")
            var scrolled = page.contentY
            before = workstation.stereoWidth
            mousePress(play, p.x, p.y)
            mouseMove(play, p.x, p.y - 20)
            mouseMove(play, p.x, p.y - 40)
            mouseRelease(play, p.x, p.y - 40)
            verify(workstation.stereoWidth > before && page.contentY === scrolled, "dragged")
            workstation.stereoWidth = 1.0
        }

        // A right-click arms learn for that knob (a second one cancels); the next control moved drives it.
        function test_rightClickLearnsAControlForTheKnob() {
            var knobs = ["BRIGHT", "DAMPER", "STRINGS", "KEY-OFF", "PEDAL", "LID", "REVERB", "ROOM", "CHORUS", "DELAY", "DRIVE", "WIDTH"]
            for (var i = 0; i < knobs.length; ++i) {
                var knob = findChild(play, "knob_" + knobs[i]), before = knob.value
                mouseClick(knob, knob.width / 2, 28, Qt.RightButton)
                verify(workstation.midiLearnActive && knob.learning && knob.value === before, knobs[i])
                controllerInput.controlChange(102 + i, 64) // learned, fires nothing else
                verify(!workstation.midiLearnActive)
                controllerInput.controlChange(102 + i, 0)
                tryVerify(function () { return knob.position < 0.15 }, 1000, knobs[i] + " down")
                controllerInput.controlChange(102 + i, 127)
                tryVerify(function () { return knob.position > 0.9 }, 1000, knobs[i] + " up")
            }
            for (var k of [["BRIGHT", true], ["BRIGHT", false], ["TUNING", false]]) { // TUNING: no target
                knob = findChild(play, "knob_" + k[0])
                mouseClick(knob, knob.width / 2, 28, Qt.RightButton)
                compare(workstation.midiLearnActive, k[1], k[0])
            }
            workstation.resetSamsonProfile()
            workstation.resetToDefaultPiano()
        }

        // A memory recalls its tempo and lights alone.
        function test_theBankRecallsARegistration() {
            findChild(play, "playScroll").contentItem.contentY = 0
            var list = workstation.registrations
            compare(list.length, 8)
            for (var slot of [2, 7]) {
                waitForRendering(play)
                mouseClick(findChild(play, "registration_" + slot))
                compare(workstation.activeRegistrationSlot, slot)
                compare(Math.round(workstation.bpm), Math.round(list[slot].bpm))
                for (var i = 0; i < 8; ++i)
                    compare(findChild(play, "registration_" + i).active, i === slot, "lit " + i)
            }
            workstation.loadRegistration(0)
        }

        function note() { var n = workstation.recordedNotes[0]; return [n.pitch, n.startBeats, n.durationBeats] }

        // The piano roll: a double-click adds a note snapped to the sixteenth grid, a drag moves
        // it by whole rows and grid steps, the right edge resizes it, a right-click deletes it.
        function test_pianoRollMouseEditsTheNotes() {
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

        // A typed name (trimmed) replaces the memory's and the field empties (none keeps it:
        // tst_slot_presets).
        function test_storeToARegistration() {
            var field = findChild(zones, "registrationName")
            workstation.bpm = 97
            field.text = "  Sunday Mass  "
            mouseClick(findChild(zones, "registration_4"))
            var stored = workstation.registrations[4]
            compare([stored.name, Math.round(stored.bpm), workstation.activeRegistrationSlot, field.text], ["Sunday Mass", 97, 4, ""])
        }

        // The manual opens through the desktop (a stub here).
        function test_databaseLinesAndManual() {
            compare(findChild(system, "libraryLine").text.indexOf("8 registration memories • "), 0)
            mouseClick(findChild(system, "manualButton"))
            verify(/^Opened User Manual .*\.pdf$/.test(workstation.statusBanner), workstation.statusBanner)
        }

        // What the dialogs choose is saved and opened: a file, and a ".vks" folder.
        function test_saveAndOpenProjects() {
            for (var c of [["openProjectDialog", "/set.json", "Evening Service"], ["openProjectFolderDialog", "/Wedding.vks", "Wedding"]]) {
                var path = testHome + c[1]
                findChild(system, "projectName").text = c[2]
                workstation.bpm = 131
                mouseClick(findChild(system, "saveProjectButton"))
                var save = findChild(system, "saveProjectDialog")
                tryVerify(function () { return save.visible })
                save.selectedFile = "file://" + path
                save.accepted()
                save.close()
                compare(workstation.statusBanner, "Saved Project: " + path)
                workstation.bpm = 88
                var open = findChild(system, c[0])
                open.open()
                if (c[0] === "openProjectFolderDialog") open.selectedFolder = "file://" + path
                else open.selectedFile = "file://" + path
                open.accepted()
                open.close()
                compare([workstation.statusBanner, Math.round(workstation.bpm)], ["Loaded Project: " + c[2], 131])
            }
        }
    }
}
