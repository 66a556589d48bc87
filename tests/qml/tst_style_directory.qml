import QtQuick
import QtTest
import "qrc:/qml/views"

// PRESETS' style-file directory and DRUMS' flash-disk loader, on a flash disk of three files
// and two files added by hand.
Item {
    width: 1300
    height: 2300

    StylesView { id: styles; width: parent.width; height: 1700 }
    BeatsView { id: beats; y: 1700; width: parent.width; height: 600 }

    TestCase {
        name: "StyleDirectory"
        when: windowShown

        function customStyles() { return workstation.beatStyles.filter(s => s.isCustomSty) }

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
    }
}
