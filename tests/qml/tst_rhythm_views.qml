import QtQuick
import QtQuick.Controls
import QtTest
import "qrc:/qml/components"
import "qrc:/qml/views"

// The top bar, the DRUMS view and the chord display; STYLES' launches, chords and switches;
// PRESETS' style-file directory and DRUMS' flash-disk loader, on a flash disk of three files
// and two files added by hand.
Item {
    width: 2700
    height: 1700

    TopBar { id: bar; width: 1400 }
    BeatsView { id: beats; y: bar.height; width: 1400; height: 620 }
    ChordDisplay { id: chords; y: bar.height + 620 }
    ElidedText { id: shortOfSpace; y: chords.y + chords.height; width: 80; text: "Montage Warm Worship Pad (Synth Engine)" }
    StylesView { id: styles; x: 1400; width: 1300; height: 1700 }

    TestCase {
        name: "RhythmViews"
        when: windowShown

        function init() {
            workstation.beatPlaying = false
            workstation.currentBeatStyleIndex = 0
            workstation.beatSection = 1
        }
        function cleanup() { resizeBeats(1400, 620) } // laid out again for the tests that click it
        // The page settles over several frames (the panels wrap, then the page is measured
        // again), slowly under a sanitizer on a busy machine: wait until its size holds.
        function resizeBeats(width, height) {
            if (beats.width === width && beats.height === height) return
            beats.width = width
            beats.height = height
            var page = findChild(beats, "beatsContent"), size = "", steady = 0
            for (var tries = 0; tries < 100 && steady < 3; ++tries) {
                wait(50)
                var now = [page.width, page.height, page.implicitHeight, findChild(beats, "loadFlashDisk").mapToItem(page, 0, 0).y].join()
                steady = now === size && !isPolishScheduled(page) ? steady + 1 : 0
                size = now
            }
            verify(steady === 3, "the page never settled: " + size)
        }
        function click(parentItem, name) { mouseClick(findChild(parentItem, name)) }
        function stepOf(lane, step) { return workstation.beatStepGrid[lane].steps[step] }
        function customStyles() { return workstation.beatStyles.filter(s => s.isCustomSty) }

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
            for (var c of [["cell_0_12", 12, 0], ["cell_0_11", 11, 100], ["cell_0_11", 11, 0]]) {
                click(beats, c[0])
                compare(stepOf(0, c[1]), c[2], c[0])
            }
        }

        // At both window sizes the controls lie inside the page and none covers another.
        function test_everyControlFitsWideAndNarrow_data() {
            return [{ tag: "wide", width: 1330, height: 620 }, { tag: "narrow", width: 1030, height: 478 }]
        }
        function test_everyControlFitsWideAndNarrow(data) {
            resizeBeats(data.width, data.height)
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

        function test_previousAndNextStepTheMainVoice() {
            var synths = workstation.queryPresets("Synthesizers", "", false).map(p => p.id)
            verify(synths.length >= 3)
            workstation.selectPresetForSlot(0, synths[0])
            mouseClick(findChild(bar, "nextVoice"))
            compare(workstation.mainPresetId, synths[1])
            mouseClick(findChild(bar, "previousVoice")) // wrapping: tst_slot_presets
            compare(workstation.mainPresetId, synths[0])
        }

        // Where space is short the text elides and shows itself whole on hover.
        function test_aCutTextShowsItselfWholeOnHover() {
            verify(shortOfSpace.truncated)
            mouseMove(shortOfSpace, 10, 5)
            tryVerify(function () { return shortOfSpace.ToolTip.visible })
            compare(shortOfSpace.ToolTip.text, shortOfSpace.text)
            mouseMove(bar, 5, 5)
            tryVerify(function () { return !shortOfSpace.ToolTip.visible })
            shortOfSpace.width = 600
            mouseMove(shortOfSpace, 10, 5)
            wait(shortOfSpace.ToolTip.delay + 100)
            verify(!shortOfSpace.ToolTip.visible)
        }

        // The auto-tune switch flips only auto-tune; the cycle steps the mode, wrapping, and
        // switches auto-tune on (MIC and PHONE open and close the drawer: tst_scene).
        function test_autoTuneSwitchAndCycle() {
            workstation.autoTuneMode = 3
            workstation.autoTuneEnabled = true
            var onOff = findChild(bar, "autoTuneSwitch")
            mouseClick(onOff)
            verify(!workstation.autoTuneEnabled && onOff.text === "TUNE OFF" && !onOff.lit)
            compare(workstation.autoTuneMode, 3)
            // mode before -> text of the cycle button and the name shown after a press
            var cycle = [[3, "5/5", "Pentatonic Solo Lock"], [4, "1/5", "Yamaha P.A.T. + Duet"],
                         [0, "2/5", "Gospel Quartet Voicer"]]
            for (var row of cycle) {
                mouseClick(findChild(bar, "autoTuneCycle"))
                compare(findChild(bar, "autoTuneCycle").text, row[1], "from " + row[0])
                compare(findChild(bar, "autoTuneModeName").text, row[2])
                verify(workstation.autoTuneEnabled && onOff.text === "TUNE ON")
            }
            workstation.autoTuneEnabled = false
            workstation.autoTuneMode = 0
        }

        function test_searchResultsGoToEachSlot() {
            var popup = findChild(bar, "presetSearchPopup")
            mouseClick(findChild(bar, "searchButton"))
            tryVerify(function () { return popup.opened })
            var field = findChild(popup.contentItem, "presetSearchField")
            var results = findChild(popup.contentItem, "presetResults")
            verify(field.activeFocus)
            var slots = [["assignSplit", "splitPresetId", "Blade Brass", "synth_cs80_brass"],
                         ["assignLayer", "layer2PresetId", "Shimmer Strings", "synth_shimmer_str"],
                         ["assignMain", "mainPresetId", "Felt Piano", "synth_felt_piano"]]
            for (var s of slots) {
                field.text = s[2]
                tryCompare(results, "count", 1)
                waitForRendering(results)
                mouseClick(findChild(results.itemAtIndex(0), s[0]))
                compare(workstation[s[1]], s[3], s[0])
            }
            popup.close()
        }

        function test_flashDiskAddAndClear() {
            compare(findChild(beats, "flashDiskPath").text, testFlashDisk)
            var before = workstation.userStyCount
            verify(before > 0) // the samples
            click(beats, "loadFlashDisk")
            compare(workstation.userStyCount, before + 3)
            compare(findChild(styles, "styStatus").text, "💾 USB Flash Scan Complete: " + (before + 3) + " .STY Beat(s) Ready!")
            compare(workstation.importStyFiles(testStyleFiles), 2)
            var custom = customStyles()
            compare(custom.length, before + 5)
            for (var style of custom)
                compare(findChild(styles, "style_" + style.index).text, style.name, style.styFilePath)
            waitForRendering(styles) // the new buttons laid out (a remove button: tst_scene)
            click(styles, "clearSty")
            compare(workstation.userStyCount, 0)
            tryVerify(() => findChild(styles, "removeSty_" + custom[0].index) === null)
            verify(!findChild(styles, "clearSty").enabled)
            verify(findChild(styles, "styStatus").text.indexOf("Custom .STY List Cleared") > 0)
        }

        // A style button launches in the chosen play mode; quick starts pick a family's band.
        function test_launches_data() {
            return [{ tag: "loop", mode: "modeLoop", button: "style_24", style: 24, playMode: 0, banner: "🎤" },
                    { tag: "keys", mode: "modeKeys", button: "style_4", style: 4, playMode: 1, banner: "🎹" },
                    { tag: "drums", mode: "modeLoop", button: "style_31", style: 31, playMode: 0, banner: "🥁" },
                    { tag: "family", mode: "modeKeys", button: "family_3", style: 12, playMode: 1, banner: "🎹" }]
        }
        function test_launches(data) {
            click(styles, data.mode)
            click(styles, data.button)
            compare([workstation.currentBeatStyleIndex, workstation.arrangerPlayMode, workstation.beatPlaying],
                    [data.style, data.playMode, true])
            verify(workstation.statusBanner.indexOf(data.banner) === 0, workstation.statusBanner)
            verify(findChild(styles, "nowPlaying").text.indexOf(workstation.arrangerStyleName) === 0)
            click(styles, "transportButton")
            verify(!workstation.beatPlaying)
        }

        // Each press sets what it names; the chord shown is the controller's.
        function test_chordsAndSwitches() {
            var presses = [["progression_4", "arrangerProgressionIndex", 4], ["progression_0", "arrangerProgressionIndex", 0],
                           ["chordPad_V", "arrangerChordDegree", 5], ["chordPad_ii", "arrangerChordDegree", 2],
                           ["proBand", "proArrangerEnabled", true], ["proBand", "proArrangerEnabled", false]]
            for (var p of presses) {
                click(styles, p[0])
                compare(workstation[p[1]], p[2], p[0])
            }
            compare(findChild(styles, "activeChord").text, workstation.arrangerActiveChordText)
            verify(workstation.arrangerActiveChordText.indexOf("(ii)") > 0)
        }
    }
}
