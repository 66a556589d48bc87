import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import "../components"
import ".."

// DRUMS: the beat styles by family, the step grid of the current section, the
// sections and fill, swing and humanize, the drum kits, pads, the beat faders, the
// loader of style files from a flash disk, and the LV2 instrument (DrumGizmo) with
// its kit files and output peaks.
Item {
    id: view
    // Below this width the lower panels take two rows and the page scrolls.
    readonly property bool wide: width >= 1250

    readonly property var sections: ["INTRO", "VERSE A", "VERSE B", "CHORUS", "BRIDGE", "FILL", "ENDING"]
    // The catalogue, taken again only when its styles change, so the list keeps its
    // place while the transport is announced.
    property var styles: []
    function refreshStyles() {
        var fresh = workstation.beatStyles
        var ids = fresh.map(function (s) { return s.id }).join(" ")
        if (ids !== styles.map(function (s) { return s.id }).join(" "))
            styles = fresh
    }
    Component.onCompleted: refreshStyles()
    readonly property var currentStyle: {
        var i = workstation.currentBeatStyleIndex
        return i >= 0 && i < styles.length ? styles[i] : null
    }
    readonly property int stepsPerBar: currentStyle ? currentStyle.stepsPerBar : 16
    readonly property var grid: workstation.beatStepGrid
    // The playing step, read with the meters.
    property int playingStep: -1
    Connections {
        target: workstation
        function onMetersUpdated() { view.playingStep = workstation.beatPlaying ? workstation.currentBeatStep : -1 }
        function onBeatStateChanged() { view.refreshStyles() }
    }

    component Caption: Text {
        font.pixelSize: Theme.fontSmall
        font.bold: true
        color: Theme.textSecondary
    }

    ScrollView {
        id: page
        objectName: "beatsScroll"
        anchors.fill: parent
        anchors.margins: Theme.padding
        contentWidth: availableWidth
        // The least the parts need, measured after each change of theirs: read inside
        // the binding, a layout's size would feed back into it.
        property real neededHeight: 0
        function measure() {
            neededHeight = Math.max(sectionsPanel.Layout.preferredHeight + stepGrid.Layout.minimumHeight + lowerPanels.implicitHeight + 2 * Theme.spacing,
                                    150 + Theme.spacing + lv2Panel.implicitHeight)
        }
        contentHeight: Math.max(availableHeight, neededHeight)
        Connections { target: lowerPanels; function onImplicitHeightChanged() { Qt.callLater(page.measure) } }
        Connections { target: view; function onWideChanged() { Qt.callLater(page.measure) } }
        Connections { target: lv2Panel; function onImplicitHeightChanged() { Qt.callLater(page.measure) } }
        Component.onCompleted: Qt.callLater(measure)
        clip: true
        // Shown whenever there is more below, so the lower panels are never a secret.
        ScrollBar.vertical.policy: contentHeight > availableHeight + 1 ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff

        RowLayout {
            id: content
            objectName: "beatsContent"
            // Narrow, room is kept for the scroll bar beside the panels.
            width: page.availableWidth - (view.wide ? 0 : 12)
            height: page.contentHeight
            spacing: Theme.spacing

            ColumnLayout {
                Layout.preferredWidth: view.wide ? 320 : 270
                Layout.fillWidth: false // its panels fill it, not the row
                Layout.fillHeight: true
                spacing: Theme.spacing

                Panel {
                    title: "BEAT STYLES"
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    ListView {
                        id: styleList
                        objectName: "beatStyleList"
                        anchors.fill: parent
                        clip: true
                        spacing: 2
                        model: view.styles
                        delegate: Column {
                            id: styleEntry
                            required property var modelData
                            // A family heading above the first style of each family.
                            readonly property bool firstOfGenre: modelData.index === 0
                                || styleList.model[modelData.index - 1].genre !== modelData.genre
                            width: styleList.width
                            spacing: 2
                            Caption {
                                visible: styleEntry.firstOfGenre
                                topPadding: 6
                                text: styleEntry.modelData.genre.toUpperCase()
                            }
                            Rectangle {
                                objectName: "beatStyle_" + styleEntry.modelData.index
                                width: parent.width
                                height: 40
                                radius: 4
                                color: styleEntry.modelData.index === workstation.currentBeatStyleIndex ? Theme.accent : Theme.panelRaised
                                Column {
                                    anchors.fill: parent
                                    anchors.leftMargin: 8
                                    anchors.topMargin: 3
                                    Text { width: parent.width - 8; elide: Text.ElideRight; text: styleEntry.modelData.name; font.pixelSize: Theme.fontNormal; font.bold: true; color: Theme.textPrimary }
                                    Text {
                                        width: parent.width - 8
                                        elide: Text.ElideRight
                                        text: Math.round(styleEntry.modelData.bpm) + " BPM • " + (styleEntry.modelData.stepsPerBar === 12 ? "12-step" : "16-step") + (styleEntry.modelData.isCustomSty ? " • imported" : "")
                                        font.pixelSize: Theme.fontSmall
                                        color: Theme.textSecondary
                                    }
                                }
                                MouseArea { anchors.fill: parent; onClicked: workstation.currentBeatStyleIndex = styleEntry.modelData.index }
                            }
                        }
                    }
                }

                Lv2DrumPanel {
                    id: lv2Panel
                    objectName: "lv2DrumPanel"
                    Layout.fillWidth: true
                    Layout.minimumHeight: implicitHeight // the style list gives way, not the meters
                }
            }

            ColumnLayout {
                Layout.fillWidth: true
                Layout.fillHeight: true
                // Whatever the left column leaves; the panels below share it.
                Layout.preferredWidth: 400
                spacing: Theme.spacing

                Panel {
                    id: sectionsPanel
                    title: "SECTIONS" + (view.currentStyle ? " • " + view.currentStyle.name : "")
                    Layout.fillWidth: true
                    Layout.preferredHeight: 96
                    RowLayout {
                        width: parent.width
                        spacing: 6
                        Button {
                            objectName: "beatStartStop"
                            text: workstation.beatPlaying ? "■ STOP" : "▶ START"
                            highlighted: workstation.beatPlaying
                            onClicked: workstation.beatPlaying = !workstation.beatPlaying
                        }
                        Repeater {
                            model: view.sections
                            delegate: Button {
                                required property string modelData
                                required property int index
                                objectName: "section_" + index
                                Layout.fillWidth: true
                                Layout.preferredWidth: 1
                                leftPadding: 4
                                rightPadding: 4
                                text: modelData
                                highlighted: workstation.beatSection === index
                                font.pixelSize: Theme.fontSmall
                                font.bold: true
                                // A fill remembers the section it returns to.
                                onClicked: index === 5 ? workstation.triggerBeatFill() : (workstation.beatSection = index)
                            }
                        }
                    }
                }

                Panel {
                    id: stepGrid
                    title: "STEP GRID • " + view.sections[Math.max(0, Math.min(6, workstation.beatSection))]
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    Layout.minimumHeight: 220 // eight lanes a finger can hit
                    ColumnLayout {
                        anchors.fill: parent
                        spacing: 3
                        // Fixed rows and cells whose values follow the grid, so an edit
                        // repaints one cell instead of rebuilding the grid.
                        Repeater {
                            model: 8
                            delegate: RowLayout {
                                id: laneRow
                                required property int index
                                readonly property var lane: view.grid.length > index ? view.grid[index] : null
                                Layout.fillWidth: true
                                Layout.fillHeight: true
                                spacing: 3
                                Text {
                                    Layout.preferredWidth: 150
                                    elide: Text.ElideRight
                                    text: laneRow.lane ? laneRow.lane.name : ""
                                    font.pixelSize: Theme.fontSmall
                                    color: Theme.textPrimary
                                }
                                Repeater {
                                    model: 16
                                    delegate: Rectangle {
                                        required property int index
                                        readonly property int velocity: laneRow.lane ? laneRow.lane.steps[index] : 0
                                        readonly property bool inBar: index < view.stepsPerBar
                                        objectName: "cell_" + laneRow.index + "_" + index
                                        Layout.fillWidth: true
                                        Layout.fillHeight: true
                                        radius: 3
                                        opacity: inBar ? 1.0 : 0.3
                                        border.width: index === view.playingStep ? 2 : 0
                                        border.color: Theme.accentBlue
                                        // Beats stand out from the steps between them.
                                        color: velocity > 0 ? Qt.rgba(0.88, 0.64, 0.35, 0.35 + 0.65 * velocity / 127)
                                                            : (index % (view.stepsPerBar === 12 ? 3 : 4) === 0 ? Theme.panelHeader : Theme.panelRaised)
                                        MouseArea {
                                            anchors.fill: parent
                                            enabled: parent.inBar
                                            onClicked: workstation.toggleBeatStep(laneRow.index, index)
                                        }
                                    }
                                }
                            }
                        }
                    }
                }

                // One row when wide; narrower, two rows of two.
                GridLayout {
                    id: lowerPanels
                    Layout.fillWidth: true
                    columns: view.wide ? 4 : 2
                    columnSpacing: Theme.spacing
                    rowSpacing: Theme.spacing

                    Panel {
                        title: "GROOVE"
                        Layout.fillWidth: true
                        Layout.preferredWidth: 240
                        Layout.fillHeight: true
                        GridLayout {
                            width: parent.width
                            columns: 3
                            Caption { text: "SWING" }
                            Slider { objectName: "swingSlider"; Layout.fillWidth: true; from: 0; to: 0.75; value: workstation.swing; onMoved: workstation.swing = value }
                            Caption { text: Math.round(workstation.swing * 100) + "%" }
                            Caption { text: "HUMANIZE" }
                            Slider { Layout.fillWidth: true; from: 0; to: 1; value: workstation.humanize; onMoved: workstation.humanize = value }
                            Caption { text: Math.round(workstation.humanize * 100) + "%" }
                        }
                    }

                    Panel {
                        title: "DRUM KIT"
                        Layout.fillWidth: true
                        Layout.preferredWidth: 300
                        Layout.fillHeight: true
                        ColumnLayout {
                            width: parent.width
                            ComboBox {
                                objectName: "drumKitBox"
                                Layout.fillWidth: true
                                model: workstation.availableDrumKits
                                textRole: "name"
                                displayText: workstation.currentDrumKitName
                                onActivated: index => workstation.selectDrumKitByIndex(index)
                            }
                            // Three pads a row, sharing the panel's width.
                            GridLayout {
                                Layout.fillWidth: true
                                columns: 3
                                columnSpacing: 6
                                rowSpacing: 6
                                Repeater {
                                    model: [ { name: "KICK", note: 36, pad: 0 }, { name: "SNARE", note: 38, pad: 1 },
                                             { name: "HI-HAT", note: 42, pad: 2 }, { name: "CRASH", note: 49, pad: 3 },
                                             { name: "TOM", note: 47, pad: 3 }, { name: "RIDE", note: 51, pad: 3 } ]
                                    delegate: Rectangle {
                                        required property var modelData
                                        objectName: "drumPad_" + modelData.note
                                        Layout.fillWidth: true
                                        Layout.preferredWidth: 1
                                        Layout.preferredHeight: 30
                                        radius: Theme.radius
                                        color: workstation.activePadIndex === modelData.pad ? Theme.accent : Theme.railButton
                                        Text { anchors.centerIn: parent; text: modelData.name; font.bold: true; font.pixelSize: Theme.fontSmall; color: Theme.topBarText }
                                        MouseArea { anchors.fill: parent; onPressed: workstation.triggerDrumPad(modelData.note) }
                                    }
                                }
                            }
                        }
                    }

                    Panel {
                        title: "FLASH DISK"
                        Layout.fillWidth: true
                        Layout.preferredWidth: 240
                        Layout.fillHeight: true
                        ColumnLayout {
                            width: parent.width
                            ElidedText {
                                objectName: "flashDiskPath"
                                Layout.fillWidth: true
                                elide: Text.ElideMiddle
                                font.pixelSize: Theme.fontSmall
                                color: Theme.textSecondary
                                text: workstation.detectedFlashDiskPath !== "" ? workstation.detectedFlashDiskPath : "No flash disk found"
                            }
                            Button {
                                objectName: "loadFlashDisk"
                                Layout.fillWidth: true
                                text: "🔌 LOAD .STY FROM FLASH DISK"
                                onClicked: workstation.scanUsbFlashDiskForSty()
                            }
                        }
                    }

                    Panel {
                        title: "BEATS"
                        Layout.fillWidth: true
                        Layout.preferredWidth: 170
                        Layout.fillHeight: true
                        ColumnLayout {
                            width: parent.width
                            Slider { Layout.fillWidth: true; from: 0; to: 1.2; value: workstation.beatsVolume; onMoved: workstation.beatsVolume = value }
                            RowLayout {
                                Caption { text: Math.round(workstation.beatsVolume * 100) + "%" }
                                Button {
                                    text: "MUTE"
                                    highlighted: workstation.beatsMuted
                                    onClicked: workstation.beatsMuted = !workstation.beatsMuted
                                }
                            }
                        }
                    }
                }
            }
        }
    }
}
