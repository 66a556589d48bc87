import QtQuick
import QtTest
import "qrc:/qml/components"
import "qrc:/qml/views"

// The DRUMS view, the top bar's beat transport and the chord display, against the real controller.
Item {
    width: 1400
    height: 900

    TopBar { id: bar; width: parent.width }
    BeatsView { id: beats; y: bar.height; width: parent.width; height: 620 }
    ChordDisplay { id: chords; y: bar.height + 620 }

    TestCase {
        name: "RhythmViews"
        when: windowShown

        function init() {
            workstation.beatPlaying = false
            workstation.currentBeatStyleIndex = 0
            workstation.beatSection = 1
        }
        function click(parentItem, name) { mouseClick(findChild(parentItem, name)) }
        function stepOf(lane, step) { return workstation.beatStepGrid[lane].steps[step] }

        function test_sectionButtonsAndFill() {
            click(beats, "section_3")
            compare([workstation.beatSection, stepOf(6, 2)], [3, 84]) // the chorus rides on even steps
            click(beats, "section_5")
            compare(workstation.beatSection, 5)
            click(beats, "beatStartStop")
            verify(workstation.beatPlaying)
        }

        function test_styleListSelectsAndShortBarsLockTheirTail() {
            var list = findChild(beats, "beatStyleList")
            list.positionViewAtIndex(10, ListView.Center)
            wait(50)
            click(beats, "beatStyle_10")
            compare(workstation.currentBeatStyleIndex, 10)
            var place = list.contentY
            workstation.bpm = 100 // announced: the list keeps its place
            verify(place > 0 && list.contentY === place)
            // Beyond a 12-step bar nothing toggles; inside, a click toggles.
            for (var c of [["cell_0_13", 13, 0], ["cell_0_11", 11, 100], ["cell_0_11", 11, 0]]) {
                click(beats, c[0])
                compare(stepOf(0, c[1]), c[2], c[0])
            }
        }

        // At both window sizes the controls lie inside the page and none covers another.
        function test_everyControlFitsWideAndNarrow_data() {
            return [{ tag: "wide", width: 1330, height: 620 }, { tag: "narrow", width: 1030, height: 478 }]
        }
        function test_everyControlFitsWideAndNarrow(data) {
            beats.width = data.width
            beats.height = data.height
            wait(100)
            var page = findChild(beats, "beatsContent")
            var boxes = ["beatStartStop", "section_6", "swingSlider", "drumKitBox", "drumPad_36", "drumPad_42",
                         "drumPad_49", "drumPad_51", "loadFlashDisk", "lv2BypassButton", "cell_7_15"].map(function (name) {
                var item = findChild(beats, name)
                var at = item.mapToItem(page, 0, 0)
                return { name: name, x: at.x, y: at.y, right: at.x + item.width, bottom: at.y + item.height }
            })
            for (var a of boxes) {
                verify(a.x >= 0 && a.right <= page.width + 0.5 && a.bottom <= page.height + 0.5,
                       a.name + " " + JSON.stringify(a) + " in " + page.width + "x" + page.height)
                for (var b of boxes)
                    verify(a === b || a.right <= b.x || b.right <= a.x || a.bottom <= b.y || b.bottom <= a.y, a.name + " over " + b.name)
            }
            beats.width = 1400
            beats.height = 620
        }

        function test_topBarTempoTapAndClick() {
            click(bar, "tempoUp")
            compare(Math.round(workstation.bpm), 119)
            click(bar, "tempoDown")
            click(bar, "tempoDown")
            compare(Math.round(workstation.bpm), 117)
            var field = findChild(bar, "tempoField")
            field.forceActiveFocus()
            field.selectAll()
            keyClick("3"); keyClick("0"); keyClick("0"); keyClick(Qt.Key_Return)
            compare([workstation.bpm, field.text], [240, "240"])
            var metronome = workstation.metronomeEnabled
            click(bar, "clickButton")
            compare(workstation.metronomeEnabled, !metronome)
            click(bar, "tapButton")
            verify(workstation.statusBanner.indexOf("TAP TEMPO") >= 0)
            click(bar, "beatPlayButton")
            verify(workstation.beatPlaying)
        }

        function test_chordDisplayFollowsTheKeys() {
            workstation.noteOn(64)
            workstation.noteOn(72)
            compare(findChild(chords, "chordName").text, "E polychord")
            workstation.panicAllNotesOff()
            var smart = workstation.smartChordEnabled
            click(chords, "smartChordButton")
            compare(workstation.smartChordEnabled, !smart)
        }
    }
}
