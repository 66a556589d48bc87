import QtQuick
import QtTest
import "qrc:/qml/components"

Item {
    width: 1400
    height: 300

    PhoneDrawer { id: drawer; width: parent.width; height: 250 }

    TestCase {
        name: "PhoneDrawer"
        when: windowShown

        function child(name) { return findChild(drawer, name) }
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

        function test_controlsReachTheController() {
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
