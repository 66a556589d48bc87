import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import ".."

// The microphone and phone drawer: on the left the input devices, the monitor and
// microphone switches, the microphone's volume and level; on the right the phone's
// QR code and links. The QR code is the only place the phone's key is shown, so it
// hides while the program is on air or recording.
Rectangle {
    id: drawer
    objectName: "phoneDrawer"
    implicitHeight: 270
    color: Theme.panelHeader
    border.color: Theme.panelBorder

    readonly property bool qrHidden: workstation.broadcastActive || workstation.studioRecording

    // Buttons and switches take no focus, so the computer keys keep playing.
    component DrawerButton: Button {
        focusPolicy: Qt.NoFocus
        font.pixelSize: Theme.fontSmall
        font.bold: true
    }
    component DrawerSwitch: Switch {
        focusPolicy: Qt.NoFocus
        font.pixelSize: Theme.fontSmall
        font.bold: true
    }
    component Caption: Text {
        font.family: Theme.fontFamily
        font.pixelSize: Theme.fontSmall
        font.bold: true
        color: Theme.textSecondary
    }

    RowLayout {
        anchors.fill: parent
        anchors.margins: Theme.spacing
        spacing: Theme.spacing

        // ---- left: the microphone
        Panel {
            title: "MICROPHONE"
            // Narrower in a small window, so the phone's links keep their room.
            Layout.preferredWidth: drawer.width < 1400 ? 390 : 460
            Layout.fillHeight: true
            ColumnLayout {
                anchors.fill: parent
                spacing: 4
                RowLayout {
                    Layout.fillWidth: true
                    Caption { text: "INPUT DEVICE"; Layout.fillWidth: true }
                    DrawerButton {
                        objectName: "rescanInputs"
                        // Low, so the list below shows three devices.
                        Layout.preferredHeight: 28
                        text: "⟳ RESCAN"
                        onClicked: workstation.rescanAudioInputDevices()
                    }
                }
                ListView {
                    id: inputList
                    objectName: "audioInputList"
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    clip: true
                    model: workstation.audioInputs
                    ScrollBar.vertical: ScrollBar {}
                    delegate: ItemDelegate {
                        required property var modelData
                        width: inputList.width
                        height: 26
                        focusPolicy: Qt.NoFocus
                        highlighted: modelData.isDefault
                        text: (modelData.isDefault ? "● " : "   ") + modelData.name
                        font.pixelSize: Theme.fontSmall
                        onClicked: workstation.selectAudioInputDevice(modelData.id)
                    }
                }
                RowLayout {
                    Layout.fillWidth: true
                    DrawerSwitch {
                        objectName: "micSwitch"
                        text: "MICROPHONE"
                        checked: workstation.micEnabled
                        onToggled: workstation.micEnabled = checked
                    }
                    DrawerSwitch {
                        objectName: "micMonitorSwitch"
                        text: "SPEAKER MONITOR"
                        checked: workstation.micMonitorEnabled
                        onToggled: workstation.micMonitorEnabled = checked
                    }
                }
                RowLayout {
                    Layout.fillWidth: true
                    Caption { text: "VOLUME" }
                    Slider {
                        objectName: "micVolumeSlider"
                        Layout.fillWidth: true
                        focusPolicy: Qt.NoFocus
                        from: 0
                        to: 1
                        value: workstation.micVolume
                        onMoved: workstation.micVolume = value
                    }
                    LevelMeter {
                        objectName: "micLevelMeter"
                        horizontal: true
                        Layout.preferredWidth: 120
                        level: workstation.micLevel
                    }
                }
            }
        }

        // ---- right: the phone
        Panel {
            title: "PHONE MIC / CAMERA / PAD"
            Layout.fillWidth: true
            Layout.fillHeight: true
            RowLayout {
                anchors.fill: parent
                spacing: Theme.spacing

                Rectangle {
                    Layout.preferredWidth: drawer.width < 1400 ? 140 : 170
                    Layout.fillHeight: true
                    color: Theme.panelRaised
                    border.color: Theme.panelBorder
                    Image {
                        id: qrImage
                        objectName: "phoneQrCode"
                        anchors.fill: parent
                        anchors.margins: 4
                        fillMode: Image.PreserveAspectFit
                        cache: false
                        visible: !drawer.qrHidden && workstation.phoneQrCodeUrl.length > 0
                        source: visible ? workstation.phoneQrCodeUrl : ""
                    }
                    Caption {
                        objectName: "qrCodePlaceholder"
                        visible: !qrImage.visible
                        anchors.fill: parent
                        anchors.margins: 8
                        wrapMode: Text.WordWrap
                        horizontalAlignment: Text.AlignHCenter
                        verticalAlignment: Text.AlignVCenter
                        text: drawer.qrHidden ? "QR code hidden while on air or recording"
                                              : "Start a link to show its QR code"
                    }
                }

                ColumnLayout {
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    spacing: 4
                    RowLayout {
                        Layout.fillWidth: true
                        Caption { text: "WI-FI" }
                        ElidedText {
                            objectName: "phoneLocalUrl"
                            Layout.fillWidth: true
                            text: workstation.phoneBridgeUrl.length > 0 ? workstation.phoneBridgeUrl : "—"
                            font.pixelSize: Theme.fontSmall
                            color: Theme.textPrimary
                        }
                        DrawerButton {
                            objectName: "copyLocalUrl"
                            text: "COPY"
                            onClicked: workstation.copyPhoneBridgeUrl()
                        }
                        DrawerButton {
                            objectName: "usbAndroidButton"
                            text: "🔌 USB ANDROID"
                            onClicked: workstation.connectUsbAndroidPhoneAdb()
                        }
                    }
                    RowLayout {
                        Layout.fillWidth: true
                        DrawerSwitch {
                            objectName: "usePublicLinkSwitch"
                            text: "QR SHOWS PUBLIC LINK"
                            checked: workstation.phoneUsePublicLink
                            onToggled: workstation.phoneUsePublicLink = checked
                        }
                        DrawerButton {
                            objectName: "startPublicLink"
                            text: "🌐 START PUBLIC LINK"
                            onClicked: workstation.startPublicPhoneLink()
                        }
                        DrawerButton {
                            objectName: "copyPublicUrl"
                            text: "COPY"
                            onClicked: workstation.copyPublicPhoneUrl()
                        }
                    }
                    RowLayout {
                        Layout.fillWidth: true
                        Caption { text: "CUSTOM HOST" }
                        // Enter sets the host; the computer keyboard gets its keys back.
                        TextField {
                            id: hostField
                            objectName: "customHostField"
                            Layout.fillWidth: true
                            placeholderText: "my-home.example.org or 203.0.113.7"
                            maximumLength: 253
                            font.pixelSize: Theme.fontSmall
                            onAccepted: workstation.setCustomPublicHost(text)
                        }
                        DrawerButton {
                            objectName: "setCustomHost"
                            text: "SET"
                            onClicked: workstation.setCustomPublicHost(hostField.text)
                        }
                    }
                    RowLayout {
                        Layout.fillWidth: true
                        Caption { text: "TUNNEL" }
                        ElidedText {
                            objectName: "phoneTunnelUrl"
                            Layout.fillWidth: true
                            text: workstation.phoneRemoteTunnelUrl.length > 0 ? workstation.phoneRemoteTunnelUrl : "—"
                            font.pixelSize: Theme.fontSmall
                            color: Theme.textPrimary
                        }
                    }
                    ElidedText {
                        objectName: "phoneStatus"
                        Layout.fillWidth: true
                        text: workstation.phoneStatusText
                        font.pixelSize: Theme.fontSmall
                        font.bold: true
                        color: Theme.accentStrong
                    }
                    Item { Layout.fillHeight: true }
                }

                DrawerButton {
                    objectName: "closePhoneDrawer"
                    Layout.alignment: Qt.AlignTop
                    Layout.preferredWidth: 36
                    text: "✕"
                    onClicked: workstation.phoneDrawerOpen = false
                }
            }
        }
    }
}
