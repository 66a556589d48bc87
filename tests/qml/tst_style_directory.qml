import QtQuick
import QtTest
import "qrc:/qml/views"

// STYLES' launches, chords and switches; PRESETS' style-file directory and DRUMS' flash-disk
// loader, on a flash disk of three files and two files added by hand.
Item {
    width: 1300
    height: 2300

    StylesView { id: styles; width: parent.width; height: 1700 }
    BeatsView { id: beats; y: 1700; width: parent.width; height: 600 }

    TestCase {
        name: "StylesAndStyleDirectory"
        when: windowShown

        function customStyles() { return workstation.beatStyles.filter(s => s.isCustomSty) }
        function click(name) { mouseClick(findChild(styles, name)) }

        function test_flashDiskAddAndClear() {
            compare(findChild(beats, "flashDiskPath").text, testFlashDisk)
            var before = workstation.userStyCount
            verify(before > 0) // the samples
            mouseClick(findChild(beats, "loadFlashDisk"))
            compare(workstation.userStyCount, before + 3)
            compare(findChild(styles, "styStatus").text, "💾 USB Flash Scan Complete: " + (before + 3) + " .STY Beat(s) Ready!")
            compare(workstation.importStyFiles(testStyleFiles), 2)
            var custom = customStyles()
            compare(custom.length, before + 5)
            for (var style of custom)
                compare(findChild(styles, "style_" + style.index).text, style.name, style.styFilePath)
            waitForRendering(styles) // the new buttons laid out (a remove button: tst_scene)
            mouseClick(findChild(styles, "clearSty"))
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
            workstation.beatPlaying = false
            click(data.mode)
            click(data.button)
            compare([workstation.currentBeatStyleIndex, workstation.arrangerPlayMode, workstation.beatPlaying],
                    [data.style, data.playMode, true])
            verify(workstation.statusBanner.indexOf(data.banner) === 0, workstation.statusBanner)
            verify(findChild(styles, "nowPlaying").text.indexOf(workstation.arrangerStyleName) === 0)
            click("transportButton")
            verify(!workstation.beatPlaying)
        }

        function test_chordsAndSwitches() {
            click("progression_4")
            compare(workstation.arrangerProgressionIndex, 4)
            click("progression_0")
            compare(workstation.arrangerProgressionIndex, 0)
            click("chordPad_V")
            compare(workstation.arrangerChordDegree, 5)
            compare(findChild(styles, "activeChord").text, workstation.arrangerActiveChordText)
            click("chordPad_ii")
            verify(workstation.arrangerActiveChordText.indexOf("(ii)") > 0)
            click("proBand")
            verify(workstation.proArrangerEnabled)
            click("proBand")
            verify(!workstation.proArrangerEnabled)
        }
    }
}
