import QtQuick
import QtTest
import "qrc:/qml/components"

Item {
    width: 1300
    height: 760

    BroadcastDrawer { id: drawer; width: parent.width }
    Item {
        id: stage
        y: 340
        width: 900
        height: 400
        CameraPip { id: pip }
    }
    TextInput { id: clipboardSource; visible: false }

    TestCase {
        name: "BroadcastAndCamera"
        when: windowShown

        function child(name) { return findChild(drawer, name) || findChild(pip, name) }
        function submit(field, text) {
            field.text = text
            field.editingFinished()
        }
        function copy(text) {
            clipboardSource.text = text
            clipboardSource.selectAll()
            clipboardSource.copy()
        }

        function test_switchesAndButtonsReachTheController() {
            workstation.cameraCorner = 3
            mouseClick(child("cameraCornerButton"))
            compare(workstation.cameraCorner, 0)
            mouseClick(child("pipCornerButton"))
            compare(workstation.cameraCorner, 1)
            compare(child("cameraCornerButton").text, "↙ CORNER")
            var toggles = [["cameraMirrorSwitch", "cameraMirror"], ["recordMp4Switch", "recordBroadcastMp4"],
                           ["watermarkSwitch", "watermarkEnabled"]]
            for (var i = 0; i < toggles.length; ++i) {
                var before = workstation[toggles[i][1]]
                mouseClick(child(toggles[i][0]))
                compare(workstation[toggles[i][1]], !before, toggles[i][0])
                compare(child(toggles[i][0]).checked, !before)
            }
            mouseClick(child("launch_tiktok"))
            verify(workstation.broadcastStatusText.startsWith("OPENED TikTok Live Studio"))
            mouseClick(child("launch_studio"))
            verify(workstation.broadcastStatusText.startsWith("OPENED Restream"))
            verify(workstation.watermarkEnabled && workstation.cameraEnabled)
            workstation.cameraEnabled = false
        }

        // Fields show the controller's cleaned value after an edit; keys stay hidden.
        function test_keyFieldsAndPasteButtons() {
            var youtube = child("youtubeKeyField")
            compare(youtube.echoMode, TextInput.Password)
            submit(youtube, " rtmp://a.rtmp.youtube.com/live2/abcd-efgh-ijkl-mnop ")
            compare(workstation.streamYoutubeKey, "abcd-efgh-ijkl-mnop")
            compare(youtube.text, "abcd-efgh-ijkl-mnop")
            submit(youtube, "rtmp://a.rtmp.youtube.com/live2")
            compare(workstation.streamYoutubeKey, "")
            compare(youtube.text, "")
            copy("wxyz-1234-abcd-5678")
            mouseClick(child("youtubeKeyPaste"))
            compare(workstation.streamYoutubeKey, "wxyz-1234-abcd-5678")
            verify(workstation.streamYoutubeEnabled && child("youtubeKey").targetEnabled)
            copy("FB-99")
            mouseClick(child("facebookKeyPaste"))
            compare(workstation.streamFacebookKey, "FB-99")
            copy("tt-key")
            mouseClick(child("tiktokKeyPaste"))
            compare(workstation.streamTiktokKey, "tt-key")
            submit(child("tiktokUrlField"), "rtmp://push.example.org/live/")
            compare(workstation.streamTiktokUrl, "rtmp://push.example.org/live/")

            submit(child("watermarkTextField"), "Grace Chapel")
            submit(child("watermarkSubtextField"), "Sunday Service")
            workstation.watermarkEnabled = true
            var strip = findChild(pip, "pipWatermark")
            verify(strip.visible)
            compare(findChild(strip, "watermarkTitle").text, "Grace Chapel")
            compare(findChild(strip, "watermarkSubtitle").text, "Sunday Service")
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
            verify(workstation.broadcastActive)
            compare(button.text, "■ STOP  00:00")
            verify(child("broadcastElapsed").visible)
            compare(child("broadcastStatus").text, workstation.broadcastStatusText)
            mouseClick(button)
            verify(!workstation.broadcastActive)
            compare(button.text, "● START STREAM / REC")
        }

        // 280×196, 16 px from the named corner of the stage.
        function test_pipSitsInTheNamedCorner() {
            var expected = [[604, 188], [16, 188], [604, 16], [16, 16]]
            for (var corner = 0; corner < 4; ++corner) {
                workstation.cameraCorner = corner
                compare([pip.x, pip.y, pip.width, pip.height], expected[corner].concat([280, 196]), "corner " + corner)
            }
        }

        // Without a camera the card says why; both pictures flip with the mirror.
        function test_rightsCardAndMirror() {
            var card = findChild(pip, "cameraRightsCard")
            verify(card.visible)
            verify(!findChild(pip, "phoneCameraFrame").visible && !findChild(pip, "localCamera").visible)
            // Once an earlier request has finished, a click asks again.
            tryVerify(function () {
                mouseClick(findChild(pip, "cameraRightsButton"))
                return workstation.statusBanner === "Requesting OS Camera Power & Access Rights (Polkit)..."
            })
            var pictures = ["phoneCameraFrame", "localCamera"]
            for (var i = 0; i < pictures.length; ++i) {
                var picture = findChild(pip, pictures[i])
                workstation.cameraMirror = false
                compare(picture.mapToItem(pip, 0, 0).x, 2)
                workstation.cameraMirror = true
                compare(picture.mapToItem(pip, 0, 0).x, 2 + picture.width)
            }
            workstation.cameraMirror = false
        }
    }
}
