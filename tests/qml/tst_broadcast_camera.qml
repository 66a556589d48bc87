import QtQuick
import QtTest
import "qrc:/qml/components"

Item {
    width: 1300
    height: 760

    BroadcastDrawer { id: drawer; width: parent.width }
    Item { y: 340; width: 900; height: 400; CameraPip { id: pip } }
    TextInput { id: clipboardSource; visible: false }

    TestCase {
        name: "BroadcastAndCamera"
        when: windowShown

        function child(name) { return findChild(drawer, name) || findChild(pip, name) }
        function submit(name, text) {
            child(name).text = text
            child(name).editingFinished()
        }
        function paste(text, button) {
            clipboardSource.text = text
            clipboardSource.selectAll()
            clipboardSource.copy()
            mouseClick(child(button))
        }

        function test_switchesAndButtonsReachTheController() {
            workstation.cameraCorner = 3
            mouseClick(child("cameraCornerButton"))
            compare(workstation.cameraCorner, 0)
            mouseClick(child("pipCornerButton"))
            compare([workstation.cameraCorner, child("cameraCornerButton").text], [1, "↙ CORNER"])
            for (var t of [["cameraMirrorSwitch", "cameraMirror"], ["recordMp4Switch", "recordBroadcastMp4"], ["watermarkSwitch", "watermarkEnabled"]]) {
                var before = workstation[t[1]]
                mouseClick(child(t[0]))
                compare([workstation[t[1]], child(t[0]).checked], [!before, !before], t[0])
            }
            mouseClick(child("launch_tiktok")) // what opening a page does: tst_broadcast
            verify(workstation.broadcastStatusText.startsWith("OPENED TikTok Live Studio"))
            workstation.cameraEnabled = false
        }

        // Fields show the controller's cleaned value after an edit; keys stay hidden.
        function test_keyFieldsAndPasteButtons() {
            compare(child("youtubeKeyField").echoMode, TextInput.Password)
            for (var k of [[" rtmp://a.rtmp.youtube.com/live2/abcd-efgh-ijkl-mnop ", "abcd-efgh-ijkl-mnop"], ["rtmp://a.rtmp.youtube.com/live2", ""]]) {
                submit("youtubeKeyField", k[0])
                compare([workstation.streamYoutubeKey, child("youtubeKeyField").text], [k[1], k[1]])
            }
            paste("wxyz-1234-abcd-5678", "youtubeKeyPaste")
            compare(workstation.streamYoutubeKey, "wxyz-1234-abcd-5678")
            verify(workstation.streamYoutubeEnabled && child("youtubeKey").targetEnabled)
            paste("FB-99", "facebookKeyPaste")
            paste("tt-key", "tiktokKeyPaste")
            submit("tiktokUrlField", "rtmp://push.example.org/live/")
            compare([workstation.streamFacebookKey, workstation.streamTiktokKey, workstation.streamTiktokUrl], ["FB-99", "tt-key", "rtmp://push.example.org/live/"])
            submit("watermarkTextField", "Grace Chapel")
            submit("watermarkSubtextField", "Sunday Service")
            workstation.watermarkEnabled = true
            var strip = findChild(pip, "pipWatermark")
            verify(strip.visible)
            compare([findChild(strip, "watermarkTitle").text, findChild(strip, "watermarkSubtitle").text], ["Grace Chapel", "Sunday Service"])
            workstation.watermarkEnabled = false
            verify(!strip.visible)
        }

        function test_encoderButtonStartsAndStops() {
            workstation.streamYoutubeKey = ""
            workstation.streamFacebookEnabled = false
            workstation.streamTiktokEnabled = false
            workstation.recordBroadcastMp4 = true
            var button = child("encoderButton")
            mouseClick(button)
            verify(workstation.broadcastActive && child("broadcastElapsed").visible)
            compare([button.text, child("broadcastStatus").text], ["■ STOP  00:00", workstation.broadcastStatusText])
            mouseClick(button)
            verify(!workstation.broadcastActive)
        }

        // 280×196, 16 px from the named corner of the stage.
        function test_pipSitsInTheNamedCorner() {
            var expected = [[604, 188], [16, 188], [604, 16], [16, 16]]
            for (var corner = 0; corner < 4; ++corner) {
                workstation.cameraCorner = corner
                compare([pip.x, pip.y, pip.width, pip.height], expected[corner].concat([280, 196]), "corner " + corner)
            }
        }

        // Without a camera the card says why (a click, once an earlier request ended, asks again);
        // both pictures flip with the mirror.
        function test_rightsCardAndMirror() {
            verify(findChild(pip, "cameraRightsCard").visible && !findChild(pip, "phoneCameraFrame").visible &&
                   !findChild(pip, "localCamera").visible)
            tryVerify(function () {
                mouseClick(findChild(pip, "cameraRightsButton"))
                return workstation.statusBanner === "Requesting OS Camera Power & Access Rights (Polkit)..."
            })
            for (var name of ["phoneCameraFrame", "localCamera"]) {
                var picture = findChild(pip, name)
                workstation.cameraMirror = false
                compare(picture.mapToItem(pip, 0, 0).x, 2)
                workstation.cameraMirror = true
                compare(picture.mapToItem(pip, 0, 0).x, 2 + picture.width)
            }
            workstation.cameraMirror = false
        }
    }
}
