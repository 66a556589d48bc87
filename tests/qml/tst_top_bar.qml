import QtQuick
import QtQuick.Controls
import QtTest
import "qrc:/qml/components"

Item {
    width: 1400
    height: 600

    TopBar { id: bar; width: parent.width }
    ElidedText { id: shortOfSpace; y: 200; width: 80; text: "Montage Warm Worship Pad (Synth Engine)" }

    TestCase {
        name: "TopBar"
        when: windowShown

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

        // MIC and PHONE both open and close the drawer; the auto-tune switch flips only
        // auto-tune; the cycle steps the mode, wrapping, and switches auto-tune on.
        function test_micPhoneAndAutoTune() {
            workstation.phoneDrawerOpen = false
            for (var name of ["micButton", "phoneButton", "micButton", "phoneButton"]) {
                var before = workstation.phoneDrawerOpen
                mouseClick(findChild(bar, name))
                compare(workstation.phoneDrawerOpen, !before, name)
            }
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
    }
}
