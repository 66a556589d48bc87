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

        // The table: button code -> mode, and whether its view exists yet.
        readonly property var table: [
            ["M1", 0, true], ["M2", 8, true], ["M3", 1, true], ["M4", 2, true], ["M5", 3, true],
            ["M6", 9, true], ["M7", 4, true], ["M8", 5, true], ["M9", 6, false], ["M10", 7, true]
        ]

        function test_enabledButtonsSetTheirMode() {
            for (var i = 0; i < table.length; ++i) {
                if (!table[i][2])
                    continue
                workstation.currentMode = (table[i][1] + 1) % 10
                var button = findChild(rail, "railButton_" + table[i][0])
                verify(button)
                mouseClick(button)
                compare(workstation.currentMode, table[i][1], table[i][0])
            }
        }

        function test_disabledButtonsDoNothing() {
            workstation.currentMode = 0
            for (var i = 0; i < table.length; ++i) {
                if (table[i][2])
                    continue
                mouseClick(findChild(rail, "railButton_" + table[i][0]))
                compare(workstation.currentMode, 0, table[i][0])
            }
        }
    }
}
