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

        function test_flashDiskAddRemoveClear() {
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
            var added = custom.filter(s => s.styFilePath.endsWith("/Added 0.sty"))[0]
            var last = custom[custom.length - 1].index
            waitForRendering(styles) // the new buttons laid out
            mouseClick(findChild(styles, "removeSty_" + added.index))
            compare(workstation.userStyCount, before + 4)
            verify(customStyles().every(s => !s.styFilePath.endsWith("/Added 0.sty")))
            tryVerify(() => findChild(styles, "removeSty_" + last) === null)
            mouseClick(findChild(styles, "clearSty"))
            compare(workstation.userStyCount, 0)
            tryVerify(() => findChild(styles, "removeSty_" + custom[0].index) === null)
            verify(!findChild(styles, "clearSty").enabled)
            verify(findChild(styles, "styStatus").text.indexOf("Custom .STY List Cleared") > 0)
        }
    }
}
