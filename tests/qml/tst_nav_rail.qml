import QtQuick
import QtTest
import "qrc:/qml/components"

Item {
    width: 200
    height: 800

    LeftNavRail { id: rail; anchors.fill: parent }

    TestCase {
        name: "LeftNavRail"
        when: windowShown

        function test_buttonsSetTheirMode() {
            var table = [["M1", 0], ["M2", 8], ["M3", 1], ["M4", 2], ["M5", 3], ["M6", 9], ["M7", 4], ["M8", 5], ["M9", 6], ["M10", 7]]
            for (var row of table) {
                workstation.currentMode = (row[1] + 1) % 10
                mouseClick(findChild(rail, "railButton_" + row[0]))
                compare(workstation.currentMode, row[1], row[0])
            }
        }
    }
}
