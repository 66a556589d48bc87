import QtQuick
import QtTest
import "qrc:/qml/views"
import "qrc:/qml"

Item {
    width: 1180
    height: 1100 // the knobs in view with the page at its top

    PlayView { id: play; anchors.fill: parent }

    TestCase {
        name: "PlayView"
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

        // A memory recalls its tempo and lights alone; recalling the lit one again restores it.
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
            workstation.bpm = 100
            waitForRendering(play)
            mouseClick(findChild(play, "registration_7"))
            compare(Math.round(workstation.bpm), Math.round(list[7].bpm))
            workstation.loadRegistration(0)
        }
    }
}
