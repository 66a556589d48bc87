import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import "../components"
import ".."

// HYMNS: the church preset, the lesson catalogue by category, the learn mode, the
// step card (lyric, sol-fa, target note, chord, finger), score and streak, the
// lesson transport with the choir pitch pipe, one-finger chord pads, hymn styles
// and the lyrics view. The keys to press light on the keyboard below.
Item {
    id: view

    readonly property var learnModes: ["🎯 WAIT-FOR-YOU TUTOR", "▶ AUTO-PLAY DEMO", "🥁 PLAY-ALONG BAND"]
    readonly property var categories: ["ALL", "Classic Church Hymns", "Praise & Worship Choruses",
                                       "Swahili & African Gospel", "Tenzi za Rohoni (1–161)"]
    readonly property var degrees: ["I", "ii", "iii", "IV", "V", "vi"]
    readonly property var hymnStyles: [24, 25, 22, 12, 4, 8]
    // The catalogue filter follows the church chosen, and the user after that.
    property string category: "ALL"
    readonly property var lessons: {
        var all = workstation.hymnCatalog
        if (category === "ALL")
            return all
        return all.filter(function (lesson) { return lesson.category === view.category })
    }

    property int shownChurch: 0
    Connections {
        target: workstation
        function onHymnStateChanged() {
            if (workstation.selectedChurchIndex === view.shownChurch)
                return
            view.shownChurch = workstation.selectedChurchIndex
            view.category = workstation.churchDenominations[view.shownChurch].defaultCategory
        }
    }

    component Caption: Text {
        font.family: Theme.fontFamily
        font.pixelSize: Theme.fontSmall
        font.bold: true
        color: Theme.textSecondary
    }
    component Value: Text {
        Layout.fillWidth: true
        elide: Text.ElideRight
        font.family: Theme.fontFamily
        font.pixelSize: Theme.fontLarge
        font.bold: true
        color: Theme.textPrimary
    }
    component SmallButton: Button {
        property bool selected: false
        highlighted: selected
        focusPolicy: Qt.NoFocus
        font.pixelSize: Theme.fontSmall
        font.bold: true
    }

    RowLayout {
        anchors.fill: parent
        anchors.margins: Theme.padding
        spacing: Theme.spacing

        // ---- church and catalogue
        ColumnLayout {
            Layout.preferredWidth: 330
            Layout.fillHeight: true
            spacing: Theme.spacing

            Panel {
                title: "CHURCH"
                Layout.fillWidth: true
                Layout.preferredHeight: 118
                ColumnLayout {
                    anchors.fill: parent
                    spacing: 4
                    ComboBox {
                        id: churchBox
                        objectName: "churchSelector"
                        Layout.fillWidth: true
                        model: workstation.churchDenominations
                        textRole: "shortLabel"
                        currentIndex: workstation.selectedChurchIndex
                        onActivated: function (index) { workstation.selectChurchDenomination(index) }
                    }
                    Text {
                        Layout.fillWidth: true
                        text: workstation.selectedChurchPresetSummary
                        wrapMode: Text.WordWrap
                        maximumLineCount: 2
                        elide: Text.ElideRight
                        font.pixelSize: Theme.fontSmall
                        color: Theme.textSecondary
                    }
                }
            }

            Panel {
                title: "HYMN CATALOGUE"
                Layout.fillWidth: true
                Layout.fillHeight: true
                ColumnLayout {
                    anchors.fill: parent
                    spacing: 4
                    ComboBox {
                        objectName: "hymnCategory"
                        Layout.fillWidth: true
                        model: view.categories
                        currentIndex: Math.max(0, view.categories.indexOf(view.category))
                        onActivated: function (index) { view.category = view.categories[index] }
                    }
                    ListView {
                        id: lessonList
                        objectName: "hymnLessonList"
                        Layout.fillWidth: true
                        Layout.fillHeight: true
                        clip: true
                        spacing: 2
                        model: view.lessons
                        ScrollBar.vertical: ScrollBar {}
                        delegate: Rectangle {
                            id: entry
                            required property var modelData
                            objectName: "hymnLesson_" + modelData.index
                            width: lessonList.width - 10
                            height: 38
                            radius: 4
                            color: modelData.index === workstation.currentHymnIndex ? Theme.accent : Theme.panelRaised
                            Column {
                                anchors.fill: parent
                                anchors.leftMargin: 8
                                anchors.topMargin: 3
                                Text { width: parent.width - 8; elide: Text.ElideRight; text: entry.modelData.title; font.pixelSize: Theme.fontNormal; font.bold: true; color: Theme.textPrimary }
                                Text { width: parent.width - 8; elide: Text.ElideRight; text: Math.round(entry.modelData.bpm) + " BPM • " + entry.modelData.stepCount + " steps • " + entry.modelData.category; font.pixelSize: Theme.fontSmall; color: Theme.textSecondary }
                            }
                            MouseArea { anchors.fill: parent; onClicked: workstation.currentHymnIndex = entry.modelData.index }
                        }
                    }
                }
            }
        }

        // ---- the lesson
        ColumnLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            spacing: Theme.spacing

            Panel {
                title: "LESSON"
                Layout.fillWidth: true
                Layout.preferredHeight: 150
                ColumnLayout {
                    anchors.fill: parent
                    spacing: 3
                    Value { objectName: "hymnTitle"; text: workstation.currentHymnTitle }
                    Text { Layout.fillWidth: true; elide: Text.ElideRight; text: workstation.currentHymnCategory + "  •  " + workstation.currentHymnProgression; font.pixelSize: Theme.fontSmall; color: Theme.textSecondary }
                    Text { Layout.fillWidth: true; Layout.fillHeight: true; wrapMode: Text.WordWrap; elide: Text.ElideRight; text: workstation.currentHymnTip; font.pixelSize: Theme.fontSmall; color: Theme.textPrimary }
                    RowLayout {
                        spacing: 4
                        Repeater {
                            model: view.learnModes
                            delegate: SmallButton {
                                required property int index
                                required property string modelData
                                objectName: "hymnMode_" + index
                                text: modelData
                                selected: workstation.hymnLearnMode === index
                                onClicked: workstation.hymnLearnMode = index
                            }
                        }
                    }
                }
            }

            // The step card, with the score.
            Rectangle {
                objectName: "hymnStepCard"
                Layout.fillWidth: true
                Layout.preferredHeight: 150
                radius: Theme.radius
                color: Theme.display
                GridLayout {
                    anchors.fill: parent
                    anchors.margins: 12
                    columns: 4
                    columnSpacing: 18
                    rowSpacing: 2
                    Text { Layout.columnSpan: 3; Layout.fillWidth: true; objectName: "hymnLyric"; elide: Text.ElideRight; text: workstation.currentHymnLyric.length > 0 ? workstation.currentHymnLyric : "—"; font.pixelSize: 32; font.bold: true; color: Theme.displayText }
                    Text { objectName: "hymnScore"; text: "✔ " + workstation.hymnScoreHits + "   🔥 " + workstation.hymnStreak; font.pixelSize: Theme.fontLarge; font.bold: true; color: Theme.topBarText }
                    Repeater {
                        model: ["SOL-FA", "PLAY", "CHORD", "FINGER"]
                        delegate: Text { required property string modelData; text: modelData; font.pixelSize: Theme.fontSmall; font.bold: true; color: Theme.topBarMuted }
                    }
                    Text { objectName: "hymnSolfa"; text: workstation.currentHymnSolfa; font.pixelSize: 22; color: Theme.topBarText }
                    Text { objectName: "hymnTarget"; text: workstation.currentHymnTargetNoteName; font.pixelSize: 22; font.bold: true; color: Theme.good }
                    Text { objectName: "hymnChord"; text: workstation.currentHymnTargetChord; font.pixelSize: 22; font.bold: true; color: Theme.warning }
                    Text { text: workstation.currentHymnFingerHint; font.pixelSize: Theme.fontNormal; color: Theme.topBarText }
                    Text { Layout.columnSpan: 4; text: "STEP " + (workstation.totalHymnSteps > 0 ? workstation.currentHymnStepIndex + 1 : 0) + " / " + workstation.totalHymnSteps + "  •  beat " + workstation.hymnPlayheadBeats.toFixed(1); font.pixelSize: Theme.fontSmall; color: Theme.topBarMuted }
                }
            }

            // Every step of the lesson, the current one marked.
            ListView {
                id: stepStrip
                objectName: "hymnStepStrip"
                Layout.fillWidth: true
                Layout.preferredHeight: 58
                orientation: ListView.Horizontal
                clip: true
                spacing: 3
                model: workstation.currentHymnSteps
                currentIndex: workstation.currentHymnStepIndex
                onCurrentIndexChanged: positionViewAtIndex(currentIndex, ListView.Contain)
                delegate: Rectangle {
                    id: stepCell
                    required property var modelData
                    width: Math.max(44, 30 * modelData.durationBeats)
                    height: stepStrip.height
                    radius: 4
                    color: modelData.stepIndex === workstation.currentHymnStepIndex ? Theme.good : Theme.panelRaised
                    border.color: Theme.panelBorder
                    Column {
                        anchors.centerIn: parent
                        Text { anchors.horizontalCenter: parent.horizontalCenter; text: stepCell.modelData.noteName; font.pixelSize: Theme.fontSmall; font.bold: true; color: Theme.textPrimary }
                        Text { anchors.horizontalCenter: parent.horizontalCenter; text: stepCell.modelData.chordName.split(" ")[0]; font.pixelSize: Theme.fontSmall; color: Theme.textSecondary }
                        Text { anchors.horizontalCenter: parent.horizontalCenter; text: stepCell.modelData.lyric; font.pixelSize: Theme.fontSmall; color: Theme.textPrimary }
                    }
                }
            }

            Panel {
                title: "TRANSPORT"
                Layout.fillWidth: true
                Layout.preferredHeight: 88
                RowLayout {
                    anchors.fill: parent
                    spacing: 6
                    SmallButton { objectName: "hymnBack"; text: "◀ STEP"; onClicked: workstation.stepHymnBackward() }
                    SmallButton { objectName: "hymnPlay"; text: workstation.hymnPlaying ? "■ STOP" : "▶ PLAY"; selected: workstation.hymnPlaying; onClicked: workstation.hymnPlaying = !workstation.hymnPlaying }
                    SmallButton { objectName: "hymnForward"; text: "STEP ▶"; onClicked: workstation.stepHymnForward() }
                    SmallButton { objectName: "hymnRestart"; text: "⟲ RESTART"; onClicked: workstation.restartHymnLesson() }
                    SmallButton { objectName: "hymnHarmony"; text: "AUTO-HARMONY"; selected: workstation.hymnAutoHarmony; onClicked: workstation.hymnAutoHarmony = !workstation.hymnAutoHarmony }
                    SmallButton { objectName: "pitchPipe"; text: "🎺 PITCH PIPE"; onClicked: workstation.triggerChoirPitchPipe() }
                    Item { Layout.fillWidth: true }
                }
            }

            Panel {
                title: "LYRICS"
                Layout.fillWidth: true
                Layout.fillHeight: true
                ScrollView {
                    anchors.fill: parent
                    clip: true
                    TextArea {
                        objectName: "hymnLyrics"
                        readOnly: true
                        wrapMode: TextEdit.Wrap
                        text: workstation.currentHymnFullLyrics
                        font.family: Theme.fontFamily
                        font.pixelSize: Theme.fontNormal
                        color: Theme.textPrimary
                    }
                }
            }
        }

        // ---- chords and band
        ColumnLayout {
            Layout.preferredWidth: 230
            Layout.fillHeight: true
            spacing: Theme.spacing

            Panel {
                title: "SMART CHORD PADS"
                Layout.fillWidth: true
                Layout.preferredHeight: 170
                ColumnLayout {
                    anchors.fill: parent
                    GridLayout {
                        columns: 3
                        columnSpacing: 4
                        rowSpacing: 4
                        Repeater {
                            model: view.degrees
                            delegate: SmallButton {
                                required property int index
                                required property string modelData
                                objectName: "hymnChordPad_" + (index + 1)
                                Layout.fillWidth: true
                                text: modelData
                                selected: workstation.arrangerChordDegree === index + 1
                                onClicked: workstation.triggerProChordDegree(index + 1)
                            }
                        }
                    }
                    SmallButton { text: "1-KEY CHORD"; selected: workstation.smartChordEnabled; onClicked: workstation.smartChordEnabled = !workstation.smartChordEnabled }
                }
            }

            Panel {
                title: "HYMN STYLES"
                Layout.fillWidth: true
                Layout.fillHeight: true
                ColumnLayout {
                    anchors.fill: parent
                    spacing: 4
                    Repeater {
                        model: view.hymnStyles
                        delegate: SmallButton {
                            required property int modelData
                            readonly property var style: workstation.beatStyles[modelData]
                            objectName: "hymnStyle_" + modelData
                            Layout.fillWidth: true
                            visible: style !== undefined
                            text: style ? style.name : ""
                            selected: workstation.currentBeatStyleIndex === modelData && workstation.proArrangerEnabled
                            onClicked: workstation.launchStylePreset(modelData)
                        }
                    }
                    Item { Layout.fillHeight: true }
                }
            }
        }
    }
}
