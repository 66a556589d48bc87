import QtQuick
import QtTest
import "qrc:/qml/components"

Item {
    width: 1400
    height: 600

    TopBar {
        id: bar
        width: parent.width
    }

    TestCase {
        name: "TopBar"
        when: windowShown

        function idsOf(category) {
            return workstation.queryPresets(category, "", false).map(function (p) { return p.id })
        }

        function test_previousAndNextStepTheMainVoice() {
            var synths = idsOf("Synthesizers")
            verify(synths.length >= 3)
            workstation.selectPresetForSlot(0, synths[0])
            mouseClick(findChild(bar, "nextVoice"))
            compare(workstation.mainPresetId, synths[1])
            mouseClick(findChild(bar, "previousVoice"))
            mouseClick(findChild(bar, "previousVoice"))
            compare(workstation.mainPresetId, synths[synths.length - 1])
            compare(findChild(bar, "mainPresetName").text, workstation.mainPresetName)
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
            for (var i = 0; i < slots.length; ++i) {
                field.text = slots[i][2]
                tryCompare(results, "count", 1)
                waitForRendering(results)
                mouseClick(findChild(results.itemAtIndex(0), slots[i][0]))
                compare(workstation[slots[i][1]], slots[i][3], slots[i][0])
            }
            popup.close()
        }
    }
}
