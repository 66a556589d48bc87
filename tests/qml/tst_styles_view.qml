import QtQuick
import QtTest
import "qrc:/qml/views"

Item {
    width: 1300
    height: 1400

    StylesView { id: view; anchors.fill: parent }

    TestCase {
        name: "StylesView"
        when: windowShown

        function click(name) { mouseClick(findChild(view, name)) }

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
            verify(findChild(view, "nowPlaying").text.indexOf(workstation.arrangerStyleName) === 0)
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
            compare(findChild(view, "activeChord").text, workstation.arrangerActiveChordText)
            click("chordPad_ii")
            verify(workstation.arrangerActiveChordText.indexOf("(ii)") > 0)
            click("proBand")
            verify(workstation.proArrangerEnabled)
            click("proBand")
            verify(!workstation.proArrangerEnabled)
        }
    }
}
