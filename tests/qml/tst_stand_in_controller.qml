import QtQuick
import QtTest
import "qrc:/qml/components"
import "qrc:/qml/views"

// The MIDI I/O view and the top bar's stage switches against a stand-in controller (its id
// hides the real one; the real camera switch would look for hardware): each click reaches
// the operation it names.
Item {
    width: 1200
    height: 800

    QtObject {
        id: workstation
        property var calls: []
        property var midiPorts: [
            { clientId: 20, portId: 0, displayName: "Graphite 49 MIDI 1", isConnected: true, isIgnored: false },
            { clientId: 24, portId: 1, displayName: "Digital Piano", isConnected: false, isIgnored: false } ]
        property var midiActivityLog: []
        property var controllerMappings: [
            { controlName: "Graphite Transport Play (CC 117)", targetParameter: "transport.play" },
            { controlName: "Mackie Stop (Note 93)", targetParameter: "transport.stop" } ]
        property bool midiLearnActive: false
        property string midiLearnTarget: ""
        property string lastMidiControlText: "Fader S1 (Main Piano) → 50%"
        property bool broadcastActive: false
        property bool broadcastDrawerOpen: false
        property string broadcastElapsedText: "00:00"
        property bool cameraEnabled: false
        property bool watermarkEnabled: true
        function log(call) { calls = calls.concat([call]) }
        function rescanMidiDevices() { log("rescan") }
        function connectMidiPort(c, p) { log("connect " + c + ":" + p); return true }
        function disconnectMidiPort(c, p) { log("disconnect " + c + ":" + p); return true }
        function ignoreMidiPort(c, p, ignored) { log("ignore " + c + ":" + p + " " + ignored) }
        function clearMidiActivityLog() { log("clear") }
        function startMidiLearn(target, name) { log("learn " + target + " / " + name); midiLearnTarget = name; midiLearnActive = true }
        function cancelMidiLearn() { log("cancel"); midiLearnActive = false }
        function resetSamsonProfile() { log("reset") }
    }

    DevicesView { id: devices; width: parent.width; height: 700 }
    LiveControls { id: live; y: 700 }

    TestCase {
        name: "StandInController"
        when: windowShown

        function buttonWithText(root, text) {
            for (var i = 0; i < root.children.length; ++i) {
                var c = root.children[i]
                var found = c.text === text && c.clicked !== undefined && c.visible ? c : buttonWithText(c, text)
                if (found) return found
            }
            return null
        }
        function clickThen(button, call) {
            mouseClick(button)
            compare(workstation.calls[workstation.calls.length - 1], call)
        }

        // A connected port offers DISCONNECT, another CONNECT; IGNORE passes its new state.
        function test_portButtonsReachTheirPorts() {
            clickThen(buttonWithText(devices, "DISCONNECT"), "disconnect 20:0")
            clickThen(buttonWithText(devices, "CONNECT"), "connect 24:1")
            clickThen(buttonWithText(devices, "IGNORE"), "ignore 20:0 true")
            clickThen(findChild(devices, "rescanMidiButton"), "rescan")
        }

        // LEARN names the row's control without its number, then waits until cancelled.
        function test_learnWaitsForInputUntilCancelled() {
            var line = findChild(devices, "midiLearnLine"), list = findChild(devices, "mappingList")
            compare(line.text, workstation.lastMidiControlText)
            waitForRendering(list)
            clickThen(buttonWithText(list.itemAtIndex(1), "LEARN"), "learn transport.stop / Mackie Stop")
            compare(line.text, "WAITING FOR CONTROLLER INPUT: Mackie Stop")
            clickThen(findChild(devices, "cancelLearnButton"), "cancel")
            compare(line.text, workstation.lastMidiControlText)
            verify(!findChild(devices, "cancelLearnButton").visible)
            clickThen(findChild(devices, "resetProfileButton"), "reset")
        }

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
