import QtQuick
import QtTest
import "qrc:/qml/components"

// The top bar's stage switches against a stand-in controller (the real camera switch
// would look for hardware).
Item {
    width: 400
    height: 100

    QtObject {
        id: workstation
        property bool broadcastActive: false
        property bool broadcastDrawerOpen: false
        property string broadcastElapsedText: "00:00"
        property bool cameraEnabled: false
        property bool watermarkEnabled: true
    }

    LiveControls { id: live }

    TestCase {
        name: "LiveControls"
        when: windowShown

        // Each press flips its own switch and no other; on air the button shows the time.
        function test_buttonsFlipTheirSwitchAndOnAirShowsTheTime() {
            var table = [["goLiveButton", "broadcastDrawerOpen"], ["cameraSwitch", "cameraEnabled"], ["logoSwitch", "watermarkEnabled"]]
            for (var row of table) {
                var before = table.map(r => workstation[r[1]])
                mouseClick(findChild(live, row[0]))
                compare(table.map(r => workstation[r[1]]), table.map((r, i) => r === row ? !before[i] : before[i]), row[0])
                verify(findChild(live, row[0]).lit === workstation[row[1]])
            }
            var button = findChild(live, "goLiveButton")
            compare(button.text, "GO LIVE")
            workstation.broadcastElapsedText = "01:05"
            workstation.broadcastActive = true
            compare(button.text, "● LIVE 01:05")
            workstation.broadcastActive = false
            compare(button.text, "GO LIVE")
        }
    }
}
