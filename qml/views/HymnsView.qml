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
    // Below this width the transport takes two rows and the page scrolls when short.
    readonly property bool wide: width >= 1250

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

    ScrollView {
        id: page
        objectName: "hymnsScroll"
        anchors.fill: parent
        anchors.margins: Theme.padding
        contentWidth: availableWidth
        // The least the columns need, measured after each change: read inside the
        // binding, a layout's size would feed back into it.
        property real neededHeight: 0
        function measure() {
            neededHeight = Math.max(2 * 150 + 58 + transportPanel.implicitHeight + 120 + 4 * Theme.spacing,
                                    chordPanel.Layout.preferredHeight + stylesPanel.implicitHeight + Theme.spacing)
        }
        contentHeight: Math.max(availableHeight, neededHeight)
        Connections { target: transportPanel; function onImplicitHeightChanged() { Qt.callLater(page.measure) } }
        Connections { target: stylesPanel; function onImplicitHeightChanged() { Qt.callLater(page.measure) } }
        Connections { target: view; function onWideChanged() { Qt.callLater(page.measure) } }
        Component.onCompleted: Qt.callLater(measure)
        clip: true
        // Shown whenever there is more below, so the lower panels are never a secret.
        ScrollBar.vertical.policy: contentHeight > availableHeight + 1 ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff

        RowLayout {
            // Narrow, room is kept for the scroll bar beside the panels.
            width: page.availableWidth - (view.wide ? 0 : 12)
            height: page.contentHeight
            spacing: Theme.spacing

            // ---- church and catalogue
            ColumnLayout {
                Layout.preferredWidth: view.wide ? 330 : 250
                Layout.fillWidth: false // its panels fill it, not the row
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
                Layout.preferredWidth: 400 // whatever the side columns leave
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
                    id: transportPanel
                    title: "TRANSPORT"
                    Layout.fillWidth: true
                    // One row when wide; narrower, two rows of three. The height follows the
                    // rows, not the panel's implicit height: a change of that during a layout
                    // pass left the column with the one-row height.
                    Layout.minimumHeight: 30 + 2 * Theme.padding + (view.wide ? 1 : 2) * 40 + (view.wide ? 0 : 6)
                    Layout.preferredHeight: Layout.minimumHeight
                    GridLayout {
                        width: parent.width
                        columns: view.wide ? 7 : 3
                        columnSpacing: 6
                        rowSpacing: 6
                        SmallButton { objectName: "hymnBack"; text: "◀ STEP"; onClicked: workstation.stepHymnBackward() }
                        SmallButton { objectName: "hymnPlay"; text: workstation.hymnPlaying ? "■ STOP" : "▶ PLAY"; selected: workstation.hymnPlaying; onClicked: workstation.hymnPlaying = !workstation.hymnPlaying }
                        SmallButton { objectName: "hymnForward"; text: "STEP ▶"; onClicked: workstation.stepHymnForward() }
                        SmallButton { objectName: "hymnRestart"; text: "⟲ RESTART"; onClicked: workstation.restartHymnLesson() }
                        SmallButton { objectName: "hymnHarmony"; text: "AUTO-HARMONY"; selected: workstation.hymnAutoHarmony; onClicked: workstation.hymnAutoHarmony = !workstation.hymnAutoHarmony }
                        SmallButton { objectName: "pitchPipe"; text: "🎺 PITCH PIPE"; onClicked: workstation.triggerChoirPitchPipe() }
                        Item { visible: view.wide; Layout.fillWidth: true }
                    }
                }

                Panel {
                    title: "LYRICS"
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    Layout.minimumHeight: 120
                    Layout.preferredHeight: 120 // and the rest of the column
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
                Layout.preferredWidth: view.wide ? 230 : 200
                Layout.fillWidth: false
                Layout.fillHeight: true
                spacing: Theme.spacing

                Panel {
                    id: chordPanel
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
                    id: stylesPanel
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
}
