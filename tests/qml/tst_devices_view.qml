import QtQuick
import QtTest
import "qrc:/qml/views"

// The MIDI I/O view against a stand-in controller (its id hides the real one from
// the view), so each click can be seen reaching the operation it names.
Item {
    width: 1200
    height: 700

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

    DevicesView {
        id: devices
        anchors.fill: parent
    }

    TestCase {
        name: "DevicesView"
        when: windowShown

        function buttonWithText(root, text) {
            var found = null
            var visit = function (item) {
                for (var i = 0; !found && i < item.children.length; ++i) {
                    var c = item.children[i]
                    if (c.text === text && c.clicked !== undefined && c.visible) found = c
                    else visit(c)
                }
            }
            visit(root)
            return found
        }
        function lastCall() { return workstation.calls[workstation.calls.length - 1] }

        // A connected port offers DISCONNECT, another CONNECT; IGNORE passes its new state.
        function test_portButtonsReachTheirPorts() {
            mouseClick(buttonWithText(devices, "DISCONNECT"))
            compare(lastCall(), "disconnect 20:0")
            mouseClick(buttonWithText(devices, "CONNECT"))
            compare(lastCall(), "connect 24:1")
            var ignore = buttonWithText(devices, "IGNORE")
            mouseClick(ignore)
            compare(lastCall(), "ignore 20:0 true")
            mouseClick(findChild(devices, "rescanMidiButton"))
            compare(lastCall(), "rescan")
        }

        function test_learnWaitsForInputUntilCancelled() {
            var line = findChild(devices, "midiLearnLine")
            compare(line.text, workstation.lastMidiControlText)
            var list = findChild(devices, "mappingList")
            waitForRendering(list)
            // The row's own control name, without its number, is what the user moves next.
            mouseClick(buttonWithText(list.itemAtIndex(1), "LEARN"))
            compare(lastCall(), "learn transport.stop / Mackie Stop")
            compare(line.text, "WAITING FOR CONTROLLER INPUT: Mackie Stop")
            mouseClick(findChild(devices, "cancelLearnButton"))
            compare(lastCall(), "cancel")
            compare(line.text, workstation.lastMidiControlText)
            verify(!findChild(devices, "cancelLearnButton").visible)
            mouseClick(findChild(devices, "resetProfileButton"))
            compare(lastCall(), "reset")
        }
    }
}
