import QtQuick
import QtTest
import "qrc:/qml/components"

Item {
    width: 200
    height: 800

    LeftNavRail {
        id: rail
        anchors.fill: parent
    }

    TestCase {
        name: "LeftNavRail"
        when: windowShown

        // The table: button code -> mode.
        readonly property var table: [
            ["M1", 0], ["M2", 8], ["M3", 1], ["M4", 2], ["M5", 3],
            ["M6", 9], ["M7", 4], ["M8", 5], ["M9", 6], ["M10", 7]
        ]

        function test_buttonsSetTheirMode() {
            for (var i = 0; i < table.length; ++i) {
                workstation.currentMode = (table[i][1] + 1) % 10
                var button = findChild(rail, "railButton_" + table[i][0])
                verify(button)
                mouseClick(button)
                compare(workstation.currentMode, table[i][1], table[i][0])
            }
        }
    }
}
