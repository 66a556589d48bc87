import QtQuick
import QtTest
import "qrc:/qml/components"

Item {
    width: 1400
    height: 300

    PhoneDrawer {
        id: drawer
        width: parent.width
        height: 250
    }

    TestCase {
        name: "PhoneDrawer"
        when: windowShown

        function child(name) {
            var item = findChild(drawer, name)
            verify(item, name)
            return item
        }

        function typeHost(host) {
            var field = child("customHostField")
            mouseClick(field)
            field.selectAll()
            keyClick(Qt.Key_Delete)
            for (var i = 0; i < host.length; ++i)
                keyClick(host[i])
            compare(field.text, host)
            keyClick(Qt.Key_Return)
            // Enter hands the keys back to the computer keyboard.
            tryVerify(function () { return !field.activeFocus })
        }

        function test_controlsReachTheController() {
            var mic = child("micSwitch"), monitor = child("micMonitorSwitch")
            workstation.micEnabled = false
            workstation.micMonitorEnabled = false
            mouseClick(mic)
            verify(workstation.micEnabled && !workstation.micMonitorEnabled)
            mouseClick(monitor)
            verify(workstation.micEnabled && workstation.micMonitorEnabled)
            mouseClick(mic)
            verify(!workstation.micEnabled && workstation.micMonitorEnabled)
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
            for (var i = 0; i < clicks.length; ++i) {
                var prefix = clicks[i][1]
                mouseClick(child(clicks[i][0]))
                // The public address is asked for in the background.
                tryVerify(function() { return workstation.phoneStatusText.startsWith(prefix) }, 5000,
                          workstation.phoneStatusText)
                compare(child("phoneStatus").text, workstation.phoneStatusText)
            }

            workstation.phoneDrawerOpen = true
            mouseClick(child("closePhoneDrawer"))
            verify(!workstation.phoneDrawerOpen)
        }

        // Typing a host plays no notes; Enter sets it, a bad one is refused.
        function test_customHostIsSetOnEnter() {
            workstation.phoneUsePublicLink = false
            typeHost("zq.example.org")
            verify(workstation.phoneStatusText.startsWith("🌐 Custom Public IP / Host Set:"), workstation.phoneStatusText)
            verify(workstation.phoneStatusText.indexOf("zq.example.org") > 0)
            verify(child("usePublicLinkSwitch").checked)
            typeHost("not a host!")
            verify(workstation.phoneStatusText.startsWith("⚠ Not a host name or address"), workstation.phoneStatusText)
            mouseClick(child("usePublicLinkSwitch"))
            verify(!workstation.phoneUsePublicLink)
        }

        function test_qrCodeHidesOnAirAndWhileRecording() {
            typeHost("203.0.113.7")
            var qr = child("phoneQrCode")
            verify(workstation.phoneQrCodeUrl.length > 0)
            verify(qr.visible)
            compare(qr.source.toString(), workstation.phoneQrCodeUrl)

            workstation.startStudioRecord()
            verify(workstation.studioRecording)
            verify(!qr.visible && child("qrCodePlaceholder").visible)
            compare(qr.source.toString(), "")
            workstation.stopStudioTransport()
            verify(qr.visible)

            workstation.toggleLiveBroadcast()
            verify(workstation.broadcastActive && !qr.visible)
            workstation.toggleLiveBroadcast()
            workstation.stopStudioTransport()
            verify(!workstation.broadcastActive, workstation.broadcastStatusText)
            verify(qr.visible)
        }
    }
}
