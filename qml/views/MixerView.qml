import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import "../components"
import ".."

// CONSOLE: the seven channel strips, the master clip light, the style band
// levels and the one-touch balance presets.
Item {
    id: view
    property int refresh: 0 // re-reads the engine's channel values

    Connections {
        target: workstation
        function onMetersUpdated() { view.refresh++ }
        function onArrangerStateChanged() { view.refresh++ }
    }

    readonly property var channels: [
        { id: 0, name: "PIANO" }, { id: 1, name: "LAYER 2" }, { id: 2, name: "SPLIT BASS" },
        { id: 3, name: "BEATS" }, { id: 4, name: "LV2" }, { id: 5, name: "MIC" }, { id: 6, name: "MASTER" }
    ]
    readonly property var balancePresets: [
        "BALANCED STAGE", "PIANO FORWARD", "SING-ALONG", "WORSHIP PAD", "DANCE && PRAISE", "BEATS ONLY", "STYLE FOCUS"
    ]

    component Strip: Rectangle {
        id: strip
        required property var modelData
        readonly property int channel: modelData.id
        readonly property bool isMaster: channel === 6
        readonly property real volume: { view.refresh; return workstation.channelVolume(channel) }
        readonly property real pan: { view.refresh; return workstation.channelPan(channel) }
        readonly property bool muted: { view.refresh; return workstation.isChannelMuted(channel) }
        readonly property bool soloed: { view.refresh; return workstation.isChannelSoloed(channel) }
        readonly property real peakL: { view.refresh; return workstation.channelPeakL(channel) }
        readonly property real peakR: { view.refresh; return workstation.channelPeakR(channel) }
        objectName: "strip_" + channel
        Layout.fillHeight: true
        Layout.fillWidth: true
        Layout.minimumWidth: 76
        Layout.maximumWidth: 116
        radius: Theme.radius
        color: isMaster ? Theme.panelHeader : Theme.panelRaised
        border.color: Theme.panelBorder

        ColumnLayout {
            anchors.fill: parent
            anchors.margins: 8
            spacing: 6
            Text {
                Layout.alignment: Qt.AlignHCenter
                text: strip.modelData.name
                font.pixelSize: Theme.fontSmall
                font.bold: true
                color: Theme.textPrimary
            }
            Slider {
                visible: !strip.isMaster
                Layout.fillWidth: true
                from: -1
                to: 1
                value: strip.pan
                onMoved: workstation.setChannelPan(strip.channel, value)
            }
            Text {
                Layout.alignment: Qt.AlignHCenter
                visible: !strip.isMaster
                text: strip.pan === 0 ? "C" : (strip.pan < 0 ? "L" + Math.round(-strip.pan * 100) : "R" + Math.round(strip.pan * 100))
                font.pixelSize: Theme.fontSmall
                color: Theme.textSecondary
            }
            RowLayout {
                Layout.fillHeight: true
                Layout.alignment: Qt.AlignHCenter
                spacing: 6
                Slider {
                    Layout.fillHeight: true
                    orientation: Qt.Vertical
                    from: 0
                    to: 1.2
                    value: strip.volume
                    onMoved: workstation.setChannelVolume(strip.channel, value)
                }
                LevelMeter { Layout.fillHeight: true; width: 8; level: strip.peakL }
                LevelMeter { Layout.fillHeight: true; width: 8; level: strip.peakR }
            }
            Text {
                Layout.alignment: Qt.AlignHCenter
                text: Math.round(strip.volume * 100) + "%"
                font.pixelSize: Theme.fontSmall
                color: Theme.textPrimary
            }
            RowLayout {
                Layout.fillWidth: true
                spacing: 4
                Button {
                    objectName: "mute_" + strip.channel
                    Layout.fillWidth: true
                    implicitWidth: 30
                    text: "M"
                    font.bold: true
                    checked: strip.muted // drawn in palette.dark
                    palette.button: Theme.panel
                    palette.dark: Theme.mute
                    onClicked: workstation.setChannelMuted(strip.channel, !strip.muted)
                }
                Button {
                    visible: !strip.isMaster
                    Layout.fillWidth: true
                    implicitWidth: 30
                    text: "S"
                    font.bold: true
                    palette.button: strip.soloed ? Theme.solo : Theme.panel
                    onClicked: workstation.setChannelSoloed(strip.channel, !strip.soloed)
                }
            }
        }
    }

    RowLayout {
        anchors.fill: parent
        anchors.margins: Theme.padding
        spacing: Theme.spacing

        Panel {
            title: "CHANNELS"
            clip: true
            Layout.fillHeight: true
            Layout.fillWidth: true
            RowLayout {
                anchors.fill: parent
                spacing: 6
                Repeater {
                    model: view.channels
                    delegate: Strip {}
                }
            }
        }

        // The right column scrolls when the window is too short for it.
        ScrollView {
            Layout.preferredWidth: 300
            Layout.fillHeight: true
            contentWidth: availableWidth
            clip: true

            ColumnLayout {
                width: parent.width
                spacing: Theme.spacing

                Panel {
                    title: "MASTER"
                    Layout.fillWidth: true
                    RowLayout {
                        spacing: 10
                        Rectangle {
                            objectName: "clipIndicator"
                            width: 60
                            height: 28
                            radius: 4
                            color: workstation.masterClipped ? Theme.danger : Theme.meterTrack
                            Text { anchors.centerIn: parent; text: "CLIP"; font.bold: true; font.pixelSize: Theme.fontSmall; color: Theme.topBarText }
                        }
                        Button { text: "RESET CLIP"; onClicked: workstation.resetMasterClipIndicator() }
                    }
                }

                Panel {
                    title: "STYLE BAND"
                    Layout.fillWidth: true
                    GridLayout {
                        columns: 2
                        columnSpacing: 8
                        rowSpacing: 0
                        Text { text: "BAND"; font.pixelSize: Theme.fontSmall; font.bold: true; color: Theme.textSecondary }
                        Slider { from: 0; to: 1; value: workstation.styleVolume; onMoved: workstation.styleVolume = value }
                        Text { text: "BASS"; font.pixelSize: Theme.fontSmall; font.bold: true; color: Theme.textSecondary }
                        Slider { from: 0; to: 1; value: workstation.styleBassVolume; onMoved: workstation.styleBassVolume = value }
                        Text { text: "CHORDS"; font.pixelSize: Theme.fontSmall; font.bold: true; color: Theme.textSecondary }
                        Slider { from: 0; to: 1; value: workstation.styleChordVolume; onMoved: workstation.styleChordVolume = value }
                        Text { text: "LEAD"; font.pixelSize: Theme.fontSmall; font.bold: true; color: Theme.textSecondary }
                        Slider { from: 0; to: 1; value: workstation.styleLeadVolume; onMoved: workstation.styleLeadVolume = value }
                        Item { width: 1; height: 1 }
                        CheckBox { text: "Band muted"; checked: workstation.styleMuted; onToggled: workstation.styleMuted = checked }
                    }
                }

                Panel {
                    title: "ONE-TOUCH MIX"
                    Layout.fillWidth: true
                    GridLayout {
                        width: parent.width
                        columns: 2
                        columnSpacing: 4
                        rowSpacing: 4
                        Repeater {
                            model: view.balancePresets
                            delegate: Button {
                                required property string modelData
                                required property int index
                                Layout.fillWidth: true
                                text: modelData
                                font.pixelSize: Theme.fontSmall
                                onClicked: workstation.applyMixBalancePreset(index)
                            }
                        }
                    }
                }
            }
        }
    }
}
