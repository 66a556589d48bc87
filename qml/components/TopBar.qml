import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import ".."

// Brand, the main-voice selector with its search pop-up, the beat transport with
// tempo, tap and click, studio record, the microphone and phone buttons with the
// auto-tune switch, the stage switches (go live, camera, logo), the audio status
// with the connected controller, and the master meters.
Rectangle {
    id: bar
    color: Theme.topBar
    implicitHeight: Theme.topBarHeight
    // In a narrow window the groups close up, so the voice's name keeps its room.
    readonly property bool narrow: width < 1400

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: Theme.padding
        anchors.rightMargin: Theme.padding
        spacing: bar.narrow ? 6 : 14

        // Brand
        MouseArea {
            Layout.preferredWidth: brand.implicitWidth
            Layout.fillHeight: true
            onClicked: aboutPopup.open()
            Column {
                id: brand
                anchors.verticalCenter: parent.verticalCenter
                Text {
                    text: "TEMBORA"
                    font.family: Theme.fontFamily
                    font.pixelSize: bar.narrow ? 15 : 22
                    font.bold: true
                    font.letterSpacing: bar.narrow ? 1 : 3
                    color: Theme.accent
                }
                Text {
                    visible: !bar.narrow
                    text: "KEYBOARD WORKSTATION"
                    font.family: Theme.fontFamily
                    font.pixelSize: 9
                    font.letterSpacing: 2
                    color: Theme.topBarMuted
                }
            }
        }

        // Main voice selector
        Rectangle {
            objectName: "mainVoiceSelector"
            // All the width it can use up to its own: the name matters more than space.
            Layout.fillWidth: true
            Layout.minimumWidth: 240
            Layout.preferredWidth: 560
            Layout.maximumWidth: 560
            Layout.preferredHeight: 48
            radius: Theme.radius
            color: Theme.display
            border.color: Theme.railButton

            RowLayout {
                anchors.fill: parent
                anchors.margins: 6
                spacing: 6
                ToolButton {
                    objectName: "previousVoice"
                    implicitWidth: 30
                    text: "◀"
                    onClicked: workstation.stepMainPreset(-1)
                    contentItem: Text { text: parent.text; color: Theme.topBarText; horizontalAlignment: Text.AlignHCenter; verticalAlignment: Text.AlignVCenter }
                }
                Column {
                    Layout.fillWidth: true
                    clip: true
                    // Narrow, the category gives its line to the name (unless loading).
                    ElidedText {
                        width: parent.width
                        visible: !bar.narrow || workstation.loadingInstrument
                        text: (workstation.mainPresetCategory || "NO VOICE") + (workstation.loadingInstrument ? "  •  LOADING…" : "")
                        font.family: Theme.fontFamily
                        font.pixelSize: 10
                        font.letterSpacing: 1
                        color: Theme.topBarMuted
                    }
                    ElidedText {
                        objectName: "mainPresetName"
                        width: parent.width
                        // Two lines when it has them to itself; on one, smaller before it elides.
                        readonly property bool twoLines: bar.narrow && !workstation.loadingInstrument
                        text: workstation.mainPresetName || "—"
                        fontSizeMode: twoLines ? Text.FixedSize : Text.HorizontalFit
                        wrapMode: twoLines ? Text.WordWrap : Text.NoWrap
                        maximumLineCount: twoLines ? 2 : 1
                        minimumPixelSize: Theme.fontNormal
                        font.family: Theme.fontFamily
                        font.pixelSize: twoLines ? Theme.fontNormal : Theme.fontLarge
                        font.bold: true
                        color: Theme.displayText
                    }
                }
                ToolButton {
                    objectName: "nextVoice"
                    implicitWidth: 30
                    text: "▶"
                    onClicked: workstation.stepMainPreset(1)
                    contentItem: Text { text: parent.text; color: Theme.topBarText; horizontalAlignment: Text.AlignHCenter; verticalAlignment: Text.AlignVCenter }
                }
                ToolButton {
                    objectName: "searchButton"
                    text: bar.narrow ? "🔍" : "SEARCH"
                    ToolTip.text: "Search voices"
                    ToolTip.visible: bar.narrow && hovered
                    ToolTip.delay: 300
                    onClicked: searchPopup.open()
                    contentItem: Text { text: parent.text; font.bold: true; font.pixelSize: bar.narrow ? 18 : 11; color: Theme.accent; horizontalAlignment: Text.AlignHCenter; verticalAlignment: Text.AlignVCenter }
                }
            }
        }

        // Beat transport: start/stop, tempo -/+ with direct entry, tap tempo, click.
        // The buttons take no focus, so the computer keys keep playing.
        Rectangle {
            objectName: "beatControls"
            Layout.preferredWidth: beatRow.implicitWidth + 12
            Layout.preferredHeight: 48
            radius: Theme.radius
            color: Theme.display
            border.color: Theme.railButton
            component BarButton: ToolButton {
                property bool lit: false
                focusPolicy: Qt.NoFocus
                leftPadding: bar.narrow ? 4 : 6
                rightPadding: bar.narrow ? 4 : 6
                contentItem: Text {
                    text: parent.text
                    font.bold: true
                    font.pixelSize: 12
                    color: parent.lit ? Theme.accent : Theme.topBarText
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                }
            }
            RowLayout {
                id: beatRow
                anchors.centerIn: parent
                spacing: 2
                BarButton {
                    objectName: "beatPlayButton"
                    text: workstation.beatPlaying ? "■" : "▶"
                    lit: workstation.beatPlaying
                    onClicked: workstation.beatPlaying = !workstation.beatPlaying
                }
                BarButton { objectName: "tempoDown"; text: "−"; onClicked: workstation.bpm = Math.round(workstation.bpm) - 1 }
                TextField {
                    id: tempoField
                    objectName: "tempoField"
                    Layout.preferredWidth: 52
                    horizontalAlignment: TextInput.AlignHCenter
                    font.bold: true
                    font.pixelSize: Theme.fontLarge
                    color: Theme.displayText
                    background: null
                    // Follows the tempo only when it changes, so announcements of
                    // other beat settings never overwrite what is being typed.
                    readonly property int tempo: Math.round(workstation.bpm)
                    text: tempo
                    validator: IntValidator { bottom: 1; top: 999 }
                    // The controller clamps; the field then shows what it kept.
                    onEditingFinished: {
                        workstation.bpm = parseInt(text)
                        text = Qt.binding(function() { return tempoField.tempo })
                        focus = false
                    }
                }
                BarButton { objectName: "tempoUp"; text: "+"; onClicked: workstation.bpm = Math.round(workstation.bpm) + 1 }
                BarButton { objectName: "tapButton"; text: "TAP"; onClicked: workstation.tapTempo() }
                BarButton {
                    objectName: "clickButton"
                    text: "CLICK"
                    lit: workstation.metronomeEnabled
                    onClicked: workstation.metronomeEnabled = !workstation.metronomeEnabled
                }
            }
        }

        // Studio record: starts a take, or stops and saves it.
        Button {
            objectName: "topBarRecordButton"
            Layout.alignment: Qt.AlignVCenter
            Layout.preferredHeight: 36
            text: workstation.studioRecording ? "■ STOP" : "● REC"
            onClicked: workstation.studioRecording ? workstation.stopStudioTransport() : workstation.startStudioRecord()
            contentItem: Text {
                text: parent.text
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontSmall
                font.bold: true
                color: Theme.topBarText
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
            }
            background: Rectangle {
                radius: Theme.radius
                color: workstation.studioRecording ? Theme.danger : Theme.railButton
                border.color: Theme.danger
            }
        }

        MicTuneControls {
            objectName: "micTuneControls"
            Layout.preferredHeight: 48
        }

        LiveControls {
            Layout.preferredHeight: 48
            compact: bar.width < 1400
        }

        Item { Layout.fillWidth: true }

        // Audio status
        Column {
            Layout.alignment: Qt.AlignVCenter
            spacing: 2
            Text {
                objectName: "audioBackendLabel"
                text: "AUDIO " + workstation.activeAudioBackend
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontSmall
                font.bold: true
                color: workstation.activeAudioBackend === "None" ? Theme.danger : Theme.topBarText
            }
            Text {
                text: workstation.audioLatencyMs.toFixed(1) + " ms • LOAD " + workstation.audioCpuLoad.toFixed(0) + "%"
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontSmall
                color: Theme.topBarMuted
            }
            // The hardware controller, while a Samson Graphite 49 is connected.
            ElidedText {
                objectName: "controllerName"
                visible: workstation.samsonGraphiteConnected
                width: Math.min(implicitWidth, bar.narrow ? 110 : 170)
                text: workstation.primaryControllerName
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontSmall
                font.bold: true
                color: Theme.displayText
            }
        }

        // Master peak meters
        Row {
            id: masterMeters
            Layout.alignment: Qt.AlignVCenter
            spacing: 3
            property real peakL: 0
            property real peakR: 0
            Connections {
                target: workstation
                function onMetersUpdated() {
                    masterMeters.peakL = workstation.channelPeakL(6)
                    masterMeters.peakR = workstation.channelPeakR(6)
                }
            }
            LevelMeter { height: 44; width: 8; level: masterMeters.peakL }
            LevelMeter { height: 44; width: 8; level: masterMeters.peakR }
            Rectangle {
                width: 10; height: 10; radius: 5
                anchors.verticalCenter: parent.verticalCenter
                color: workstation.masterClipped ? Theme.danger : Theme.meterTrack
            }
        }
    }

    Popup {
        id: aboutPopup
        x: Theme.padding
        y: bar.height
        width: 420
        padding: 18
        background: Rectangle { color: Theme.panelRaised; radius: Theme.radius; border.color: Theme.panelBorder }
        contentItem: Column {
            spacing: 8
            Text { text: "Tembora " + Qt.application.version; font.pixelSize: Theme.fontTitle; font.bold: true; color: Theme.textPrimary }
            Text {
                width: 380
                wrapMode: Text.WordWrap
                text: "A keyboard workstation for church musicians and stage players: sampled pianos, General MIDI sounds, the built-in synth, zones, effects and the mixer."
                font.pixelSize: Theme.fontNormal
                color: Theme.textSecondary
            }
        }
    }

    Popup {
        id: searchPopup
        objectName: "presetSearchPopup"
        x: 200
        y: bar.height
        width: 560
        height: 440
        padding: 12
        focus: true
        onOpened: searchField.forceActiveFocus()
        background: Rectangle { color: Theme.panelRaised; radius: Theme.radius; border.color: Theme.panelBorder }
        contentItem: ColumnLayout {
            spacing: 8
            TextField {
                id: searchField
                objectName: "presetSearchField"
                Layout.fillWidth: true
                placeholderText: "Search instruments…"
            }
            ListView {
                id: results
                objectName: "presetResults"
                Layout.fillWidth: true
                Layout.fillHeight: true
                clip: true
                spacing: 2
                model: searchPopup.opened ? workstation.queryPresets("", searchField.text, false) : []
                delegate: Rectangle {
                    required property var modelData
                    width: results.width
                    height: 40
                    radius: 4
                    color: modelData.id === workstation.mainPresetId ? Theme.splitTint : Theme.panel
                    RowLayout {
                        anchors.fill: parent
                        anchors.leftMargin: 8
                        anchors.rightMargin: 6
                        Column {
                            Layout.fillWidth: true
                            ElidedText { text: modelData.name; width: parent.width; font.pixelSize: Theme.fontNormal; font.bold: true; color: Theme.textPrimary }
                            ElidedText { text: modelData.category + " • " + modelData.engineLabel; width: parent.width; font.pixelSize: Theme.fontSmall; color: Theme.textSecondary }
                        }
                        Button { objectName: "assignMain"; text: "MAIN"; onClicked: workstation.selectPresetForSlot(0, modelData.id) }
                        Button { objectName: "assignLayer"; text: "LAYER 2"; onClicked: workstation.selectPresetForSlot(1, modelData.id) }
                        Button { objectName: "assignSplit"; text: "SPLIT"; onClicked: workstation.selectPresetForSlot(2, modelData.id) }
                    }
                }
            }
        }
    }
}
