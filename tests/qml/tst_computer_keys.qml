import QtQuick
import QtTest
import "qrc:/qml/views"

// The computer keys play whatever control was clicked last; a text field keeps its typing
// until Enter, Escape or a click elsewhere gives the keys back.
Item {
    width: 1200
    height: 700

    SoundsView { id: sounds; anchors.fill: parent }
    SignalSpy { id: keySpy; target: workstation; signalName: "keyStateUpdated" }

    TestCase {
        name: "ComputerKeys"
        when: windowShown

        function cleanup() {
            keyRelease(Qt.Key_Z)
            keyRelease(Qt.Key_Space)
            wait(60)
            workstation.panicAllNotesOff()
        }

        // "z" and Space reach the controller; returns after their release.
        function playsZAndSpace(what) {
            keyPress(Qt.Key_Z)
            keyPress(Qt.Key_Space)
            verify(workstation.isKeyPressed(48) && workstation.sustainPedal, what)
            keyRelease(Qt.Key_Space)
            keyRelease(Qt.Key_Z)
            tryVerify(function () { return !workstation.isKeyPressed(48) && !workstation.sustainPedal }, 500, what)
        }

        function test_controlsNeverTakeTheKeys() {
            mouseClick(findChild(sounds, "assignMain"))
            var chosen = workstation.mainPresetId
            workstation.layer2Enabled = true // choosing a main sound again would switch it off
            playsZAndSpace("after MAIN")
            verify(workstation.layer2Enabled && workstation.mainPresetId === chosen, "MAIN was pressed again")
            var favourites = findChild(sounds, "favoritesOnly")
            mouseClick(favourites)
            playsZAndSpace("after a check box")
            verify(favourites.checked, "the check box was toggled again")
            mouseClick(favourites)
        }

        function test_aTextFieldKeepsItsTypingUntilLeft() {
            var field = findChild(sounds, "soundsSearch")
            var leave = [function () { keyClick(Qt.Key_Return) }, function () { keyClick(Qt.Key_Escape) },
                         function () { mouseClick(findChild(sounds, "categoryList"), 20, 10) }]
            for (var i = 0; i < leave.length; ++i) {
                field.text = ""
                mouseClick(field)
                keySpy.clear()
                keyClick(Qt.Key_Z)
                keyClick(Qt.Key_Space)
                compare(field.text, "z ")
                verify(!workstation.sustainPedal && keySpy.count === 0, "typing played")
                leave[i]()
                tryVerify(function () { return !field.activeFocus }, 500, "way out " + i)
                playsZAndSpace("after leaving the field, way " + i)
                compare(field.text, "z ")
            }
            field.text = ""
        }
    }
}
