import QtQuick
import QtTest
import "qrc:/qml/components"

Item {
    width: 400
    height: 800

    LevelMeter { id: vertical; height: 120; width: 10 }
    LevelMeter { id: horizontal; horizontal: true; width: 90; height: 10; y: 150 }
    LeftNavRail { id: rail; x: 200; width: 200; height: 800 }

    TestCase {
        name: "LevelMeterAndNavRail"
        when: windowShown

        // Linear peak -> whole pixels of a 120 px bar on a 60 dB scale (90 px lying down).
        function test_decibelScaleInWholePixels_data() {
            return [{ tag: "silence", level: 0, upright: 0, lying: 0 }, { tag: "below the floor", level: 0.0009, upright: 0, lying: 0 },
                    { tag: "-40 dB", level: 0.01, upright: 40, lying: 30 }, { tag: "-20 dB", level: 0.1, upright: 80, lying: 60 },
                    { tag: "-6 dB", level: 0.5, upright: 108, lying: 81 }, { tag: "full scale", level: 1.0, upright: 120, lying: 90 },
                    { tag: "over", level: 1.5, upright: 120, lying: 90 }]
        }
        function test_decibelScaleInWholePixels(data) {
            vertical.level = data.level
            horizontal.level = data.level
            var bar = vertical.children[0]
            compare([vertical.fillPixels, bar.height, bar.y], [data.upright, data.upright, 120 - data.upright])
            compare([horizontal.fillPixels, horizontal.children[0].width], [data.lying, data.lying])
        }

        function test_railButtonsSetTheirMode() {
            var table = [["M1", 0], ["M2", 8], ["M3", 1], ["M4", 2], ["M5", 3], ["M6", 9], ["M7", 4], ["M8", 5], ["M9", 6], ["M10", 7]]
            for (var row of table) {
                workstation.currentMode = (row[1] + 1) % 10
                mouseClick(findChild(rail, "railButton_" + row[0]))
                compare(workstation.currentMode, row[1], row[0])
            }
        }
    }
}
