import QtQuick
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Layouts
import "../components"
import ".."

// PRESETS: launch a full band (as a loop that plays on its own, or backing the
// player's keys), pick the chord progression loop or play the chords from pads,
// balance the band's parts, and keep the directory of imported style files.
Item {
    id: view
    readonly property var progressions: ["MANUAL CHORDS", "1–4–1–5 SEBEN", "1–4–5–4 MUGITHI", "1–6m–4–5 RHUMBA",
                                         "6m–4–5–6m REGGAE", "1–3m–4–5 SOUL", "1–4–5–1 COUNTRY"]
    readonly property var degrees: ["I", "ii", "iii", "IV", "V", "vi"]
    // The built-in catalogue grouped under its genres, in catalogue order (imported
    // styles are listed in the style-file directory).
    readonly property var genres: {
        var names = []
        var styles = workstation.beatStyles
        for (var i = 0; i < styles.length; ++i)
            if (!styles[i].isCustomSty && names.indexOf(styles[i].genre) < 0)
                names.push(styles[i].genre)
        return names
    }

    FileDialog {
        id: styleFilesDialog
        title: "Add style files"
        fileMode: FileDialog.OpenFiles
        nameFilters: ["Style files (*.sty *.STY *.prs *.PRS *.bcs *.BCS *.sst *.SST *.mid *.MID *.zip *.ZIP)"]
        onAccepted: workstation.importStyFiles(selectedFiles)
    }
    FolderDialog {
        id: styleFolderDialog
        title: "Load a folder of style files"
        onAccepted: workstation.importStyFolder(selectedFolder.toString())
    }

    component ChoiceButton: Button {
        property bool selected: false
        highlighted: selected
        font.pixelSize: Theme.fontSmall
        font.bold: true
    }
    component Caption: Text {
        font.pixelSize: Theme.fontSmall
        font.bold: true
        color: Theme.textSecondary
    }
    component PartFader: ColumnLayout {
        id: fader
        property string label
        property real value
        signal moved(real value)
        spacing: 2
        Caption { text: fader.label + " " + Math.round(fader.value * 100) + "%" }
        Slider {
            objectName: "fader_" + fader.label
            Layout.preferredWidth: 150
            from: 0
            to: 1
            value: fader.value
            onMoved: fader.moved(value)
        }
    }

    ScrollView {
        anchors.fill: parent
        anchors.margins: Theme.padding
        contentWidth: availableWidth
        clip: true

        ColumnLayout {
            width: parent.width
            spacing: Theme.spacing

            Panel {
                title: "NOW PLAYING"
                Layout.fillWidth: true
                RowLayout {
                    spacing: 12
                    Button {
                        objectName: "transportButton"
                        text: workstation.beatPlaying ? "■ STOP" : "▶ START"
                        highlighted: workstation.beatPlaying
                        onClicked: workstation.beatPlaying = !workstation.beatPlaying
                    }
                    Text {
                        objectName: "nowPlaying"
                        Layout.fillWidth: true
                        elide: Text.ElideRight
                        text: workstation.arrangerStyleName + " • " + workstation.arrangerGenreFamily + " • "
                              + Math.round(workstation.bpm) + " BPM • " + workstation.arrangerActiveChordText
                        font.pixelSize: Theme.fontLarge
                        font.bold: true
                        color: Theme.textPrimary
                    }
                    ChoiceButton {
                        objectName: "modeLoop"
                        text: "🎤 SING-ALONG LOOP"
                        selected: workstation.arrangerPlayMode === 0
                        onClicked: workstation.arrangerPlayMode = 0
                    }
                    ChoiceButton {
                        objectName: "modeKeys"
                        text: "🎹 PLAY WITH KEYBOARD"
                        selected: workstation.arrangerPlayMode === 1
                        onClicked: workstation.arrangerPlayMode = 1
                    }
                }
            }

            Panel {
                title: "QUICK START"
                Layout.fillWidth: true
                Flow {
                    width: parent.width
                    spacing: 6
                    Repeater {
                        model: Theme.styleFamilies
                        delegate: ChoiceButton {
                            required property string modelData
                            required property int index
                            objectName: "family_" + index
                            text: modelData.toUpperCase().replace("&", "&&") // a lone "&" marks a shortcut
                            selected: workstation.arrangerGenreFamily === modelData
                            onClicked: workstation.triggerStyleQuickStart(index)
                        }
                    }
                }
            }

            Panel {
                title: "STYLES"
                Layout.fillWidth: true
                ColumnLayout {
                    width: parent.width
                    spacing: 6
                    Repeater {
                        model: view.genres
                        delegate: ColumnLayout {
                            id: genreRow
                            required property string modelData
                            Layout.fillWidth: true
                            spacing: 4
                            Caption { text: genreRow.modelData.toUpperCase() }
                            Flow {
                                Layout.fillWidth: true
                                spacing: 6
                                Repeater {
                                    model: workstation.beatStyles.filter(s => s.genre === genreRow.modelData)
                                    delegate: ChoiceButton {
                                        required property var modelData
                                        objectName: "style_" + modelData.index
                                        text: modelData.name + "  " + Math.round(modelData.bpm)
                                        selected: workstation.currentBeatStyleIndex === modelData.index
                                        ToolTip.visible: hovered
                                        ToolTip.text: modelData.subDescription
                                        onClicked: workstation.launchStylePreset(modelData.index, workstation.arrangerPlayMode)
                                    }
                                }
                            }
                        }
                    }
                }
            }

            RowLayout {
                Layout.fillWidth: true
                spacing: Theme.spacing

                Panel {
                    title: "CHORD PROGRESSION LOOP"
                    Layout.fillWidth: true
                    Layout.alignment: Qt.AlignTop
                    ColumnLayout {
                        spacing: 6
                        Flow {
                            Layout.preferredWidth: 460
                            spacing: 6
                            Repeater {
                                model: view.progressions
                                delegate: ChoiceButton {
                                    required property string modelData
                                    required property int index
                                    objectName: "progression_" + index
                                    text: modelData
                                    selected: workstation.arrangerProgressionIndex === index
                                    onClicked: workstation.arrangerProgressionIndex = index
                                }
                            }
                        }
                        Switch {
                            objectName: "autoFill"
                            text: "AUTO-FILL IN BAR 4"
                            checked: workstation.arrangerAutoFill
                            onToggled: workstation.arrangerAutoFill = checked
                        }
                    }
                }

                Panel {
                    title: "LIVE CHORDS"
                    Layout.alignment: Qt.AlignTop
                    ColumnLayout {
                        spacing: 6
                        Row {
                            spacing: 6
                            Repeater {
                                model: view.degrees
                                delegate: Rectangle {
                                    required property string modelData
                                    required property int index
                                    objectName: "chordPad_" + modelData
                                    width: 52
                                    height: 44
                                    radius: Theme.radius
                                    color: workstation.arrangerChordDegree === index + 1 ? Theme.accent : Theme.railButton
                                    Text { anchors.centerIn: parent; text: modelData; font.bold: true; font.pixelSize: Theme.fontLarge; color: Theme.topBarText }
                                    MouseArea { anchors.fill: parent; onPressed: workstation.triggerProChordDegree(index + 1) }
                                }
                            }
                        }
                        Text {
                            objectName: "activeChord"
                            text: workstation.arrangerActiveChordText
                            font.pixelSize: Theme.fontTitle
                            font.bold: true
                            color: Theme.textPrimary
                        }
                        Row {
                            spacing: 10
                            Switch {
                                objectName: "oneKeyChord"
                                text: "1-KEY CHORD"
                                checked: workstation.smartChordEnabled
                                onToggled: workstation.smartChordEnabled = checked
                            }
                            Switch {
                                objectName: "proBand"
                                text: "PRO BAND"
                                checked: workstation.proArrangerEnabled
                                onToggled: workstation.proArrangerEnabled = checked
                            }
                        }
                    }
                }

                Panel {
                    title: "BAND BALANCE"
                    Layout.alignment: Qt.AlignTop
                    ColumnLayout {
                        spacing: 4
                        PartFader { label: "BAND"; value: workstation.styleVolume; onMoved: v => workstation.styleVolume = v }
                        PartFader { label: "BASS"; value: workstation.styleBassVolume; onMoved: v => workstation.styleBassVolume = v }
                        PartFader { label: "CHORDS"; value: workstation.styleChordVolume; onMoved: v => workstation.styleChordVolume = v }
                        PartFader { label: "LEAD"; value: workstation.styleLeadVolume; onMoved: v => workstation.styleLeadVolume = v }
                        Switch {
                            objectName: "bandMuted"
                            text: "MUTE BAND"
                            checked: workstation.styleMuted
                            onToggled: workstation.styleMuted = checked
                        }
                    }
                }
            }

            Panel {
                title: "STYLE FILE DIRECTORY • " + workstation.userStyCount + " IMPORTED"
                Layout.fillWidth: true
                ColumnLayout {
                    width: parent.width
                    spacing: 6
                    RowLayout {
                        spacing: 6
                        Button { objectName: "addStyFiles"; text: "+ ADD .STY FILES"; onClicked: styleFilesDialog.open() }
                        Button { objectName: "loadStyFolder"; text: "📁 LOAD FOLDER"; onClicked: styleFolderDialog.open() }
                        Button { objectName: "scanUsb"; text: "🔌 SCAN USB"; onClicked: workstation.scanUsbFlashDiskForSty() }
                        Button {
                            objectName: "clearSty"
                            text: "🗑 CLEAR ALL"
                            enabled: workstation.userStyCount > 0
                            onClicked: workstation.clearAllCustomStyStyles()
                        }
                        ElidedText {
                            objectName: "styStatus"
                            Layout.fillWidth: true
                            text: workstation.styStatusText
                            font.pixelSize: Theme.fontSmall
                            color: Theme.textSecondary
                        }
                    }
                    Flow {
                        Layout.fillWidth: true
                        spacing: 6
                        Repeater {
                            model: workstation.beatStyles.filter(s => s.isCustomSty)
                            delegate: Row {
                                required property var modelData
                                spacing: 1
                                ChoiceButton {
                                    objectName: "style_" + modelData.index
                                    text: modelData.name
                                    selected: workstation.currentBeatStyleIndex === modelData.index
                                    onClicked: workstation.launchStylePreset(modelData.index, workstation.arrangerPlayMode)
                                }
                                Button {
                                    objectName: "removeSty_" + modelData.index
                                    text: "✕"
                                    font.pixelSize: Theme.fontSmall
                                    onClicked: workstation.removeCustomStyStyle(modelData.index)
                                }
                            }
                        }
                    }
                }
            }
        }
    }
}
