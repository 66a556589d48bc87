import QtQuick
import QtTest
import "qrc:/qml/components"

// The broadcast drawer, the camera's picture-in-picture and the phone drawer.
Item {
    width: 1400
    height: 1010

    BroadcastDrawer { id: broadcast; width: 1300 }
    Item { y: 340; width: 900; height: 400; CameraPip { id: pip } }
    PhoneDrawer { id: phone; y: 760; width: 1400; height: 250 }
    TextInput { id: clipboardSource; visible: false }

    TestCase {
        name: "Drawers"
        when: windowShown

        function child(name) { return findChild(broadcast, name) || findChild(pip, name) || findChild(phone, name) }
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

        // The public address is asked for in the background: the status may take a moment.
        function statusStartsWith(text) { tryVerify(() => workstation.phoneStatusText.startsWith(text), 5000, text) }

        // Typed key by key (no notes play), set on Enter, which hands the keys back.
        function typeHost(host) {
            var field = child("customHostField")
            mouseClick(field)
            field.selectAll()
            keyClick(Qt.Key_Delete)
            for (var i = 0; i < host.length; ++i)
                keyClick(host[i])
            compare(field.text, host)
            keyClick(Qt.Key_Return)
            tryVerify(function () { return !field.activeFocus })
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

        function test_phoneControlsReachTheController() {
            var mic = child("micSwitch"), monitor = child("micMonitorSwitch")
            workstation.micEnabled = false
            workstation.micMonitorEnabled = false
            var presses = [[mic, true, false], [monitor, true, true], [mic, false, true]]
            for (var p of presses) {
                mouseClick(p[0])
                compare([workstation.micEnabled, workstation.micMonitorEnabled], [p[1], p[2]])
            }
            workstation.micMonitorEnabled = false
            verify(!monitor.checked)
            var volume = child("micVolumeSlider")
            mouseClick(volume, volume.width * 0.25, volume.height / 2)
            fuzzyCompare(workstation.micVolume, 0.25, 0.08)
            workstation.micVolume = 0.9
            fuzzyCompare(volume.value, 0.9, 0.001)

            mouseClick(child("rescanInputs"))
            compare(workstation.statusBanner, "Rescanned Microphone, USB & Phone Audio Input Devices")
            var clicks = [["copyLocalUrl", "Copied Local Phone Link"], ["usbAndroidButton", "⚠ No USB Android Phone"],
                          ["startPublicLink", "🌐 Public IP:"], ["copyPublicUrl", "Copied Public / Remote Phone Link"]]
            for (var c of clicks) {
                mouseClick(child(c[0]))
                statusStartsWith(c[1])
                compare(child("phoneStatus").text, workstation.phoneStatusText)
            }
            workstation.phoneDrawerOpen = true
            mouseClick(child("closePhoneDrawer"))
            verify(!workstation.phoneDrawerOpen)
        }

        function test_customHostIsSetOnEnter() {
            workstation.phoneUsePublicLink = false
            typeHost("zq.example.org")
            statusStartsWith("🌐 Custom Public IP / Host Set:")
            verify(workstation.phoneStatusText.indexOf("zq.example.org") > 0 && child("usePublicLinkSwitch").checked)
            typeHost("not a host!")
            statusStartsWith("⚠ Not a host name or address")
            mouseClick(child("usePublicLinkSwitch"))
            verify(!workstation.phoneUsePublicLink)
        }

        function test_qrCodeHidesOnAirAndWhileRecording() {
            typeHost("203.0.113.7")
            var qr = child("phoneQrCode")
            verify(workstation.phoneQrCodeUrl.length > 0 && qr.visible)
            compare(qr.source.toString(), workstation.phoneQrCodeUrl)
            workstation.startStudioRecord()
            verify(workstation.studioRecording && !qr.visible && child("qrCodePlaceholder").visible)
            compare(qr.source.toString(), "")
            workstation.stopStudioTransport()
            verify(qr.visible)
            workstation.toggleLiveBroadcast()
            verify(workstation.broadcastActive && !qr.visible)
            workstation.toggleLiveBroadcast()
            workstation.stopStudioTransport()
            verify(!workstation.broadcastActive && qr.visible, workstation.broadcastStatusText)
        }
    }
}
