import QtQuick
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Layouts
import "../components"
import ".."

// SYSTEM: the audio backend, output device, sample rate and buffer size, the
// Bluetooth warning, the test tone, saving and opening projects, what the catalogue
// and libraries hold, and what the program is, with its manual.
Item {
    id: view
    // The listed choices, with the running value among them even when it is not a
    // usual one, so the boxes show it and APPLY keeps it.
    function withCurrent(listed, current) {
        return current <= 0 || listed.indexOf(current) >= 0 ? listed
                                                             : listed.concat([current]).sort((a, b) => a - b)
    }
    readonly property var rates: withCurrent([44100, 48000, 96000], workstation.audioSampleRate)
    readonly property var buffers: withCurrent([64, 128, 256, 512, 1024], workstation.audioBufferFrames)
    // A choice not applied yet (0: none), shown instead of the running value.
    property int chosenRate: 0
    property int chosenBuffer: 0
    readonly property int shownRate: chosenRate > 0 ? chosenRate : workstation.audioSampleRate
    readonly property int shownBuffer: chosenBuffer > 0 ? chosenBuffer : workstation.audioBufferFrames
    property int catalogueRefresh: 0 // bumped when the catalogue changes

    Connections {
        target: workstation
        function onAudioSettingsChanged() { view.chosenRate = 0; view.chosenBuffer = 0; outputBox.chosenId = "" }
        function onPresetsCatalogChanged() { view.catalogueRefresh++ }
    }

    FileDialog {
        id: saveDialog
        objectName: "saveProjectDialog"
        parentWindow: view.Window.window
        title: "Save the project"
        fileMode: FileDialog.SaveFile
        nameFilters: ["Tembora project (*.json)", "Project folder (*.vks)"]
        defaultSuffix: "json"
        onAccepted: workstation.saveProjectToFile(selectedFile.toString(), view.projectNameText())
    }
    FileDialog {
        id: openDialog
        objectName: "openProjectDialog"
        parentWindow: view.Window.window
        title: "Open a project"
        nameFilters: ["Tembora project (*.json)", "All files (*)"]
        onAccepted: workstation.loadProjectFromFile(selectedFile.toString())
    }
    FolderDialog {
        id: openFolderDialog
        objectName: "openProjectFolderDialog"
        parentWindow: view.Window.window
        title: "Open a project folder (.vks)"
        onAccepted: workstation.loadProjectFromFile(selectedFolder.toString())
    }
    function projectNameText() {
        var name = projectName.text.trim()
        return name.length > 0 ? name : "Untitled Session"
    }

    component Caption: Text {
        font.pixelSize: Theme.fontSmall
        font.bold: true
        color: Theme.textSecondary
    }

    RowLayout {
        anchors.fill: parent
        anchors.margins: Theme.padding
        spacing: Theme.spacing

        Panel {
            title: "AUDIO OUTPUT"
            Layout.preferredWidth: 560
            Layout.fillHeight: true
            ColumnLayout {
                spacing: 10
                GridLayout {
                    columns: 2
                    columnSpacing: 14
                    rowSpacing: 8
                    Caption { text: "BACKEND" }
                    ComboBox {
                        id: backendBox
                        objectName: "backendBox"
                        model: ["PipeWire", "ALSA"]
                        currentIndex: workstation.activeAudioBackend === "ALSA" ? 1 : 0
                    }
                    Caption { text: "OUTPUT DEVICE" }
                    ComboBox {
                        id: outputBox
                        objectName: "outputDeviceBox"
                        Layout.preferredWidth: 380
                        model: workstation.audioOutputs
                        textRole: "name"
                        // The running device until another is chosen.
                        property string chosenId: ""
                        readonly property int runningIndex: {
                            var list = workstation.audioOutputs
                            for (var i = 0; i < list.length; ++i)
                                if (list[i].isDefault) return i
                            return 0
                        }
                        currentIndex: runningIndex
                        onActivated: index => chosenId = workstation.audioOutputs[index].id
                    }
                    Caption { text: "SAMPLE RATE" }
                    ComboBox {
                        id: rateBox
                        objectName: "rateBox"
                        model: view.rates.map(r => r + " Hz")
                        currentIndex: view.rates.indexOf(view.shownRate)
                        onActivated: index => view.chosenRate = view.rates[index]
                    }
                    Caption { text: "BUFFER SIZE" }
                    ComboBox {
                        id: bufferBox
                        objectName: "bufferBox"
                        model: view.buffers.map(b => b + " frames")
                        currentIndex: view.buffers.indexOf(view.shownBuffer)
                        onActivated: index => view.chosenBuffer = view.buffers[index]
                    }
                }
                RowLayout {
                    spacing: 10
                    Button {
                        objectName: "applyAudioButton"
                        text: "APPLY"
                        highlighted: true
                        onClicked: workstation.applyAudioSettings(backendBox.currentText,
                                                                  outputBox.chosenId.length > 0 ? outputBox.chosenId : "default",
                                                                  view.shownRate, view.shownBuffer)
                    }
                    Button {
                        objectName: "testToneButton"
                        text: "PLAY TEST TONE"
                        onClicked: workstation.playTestTone()
                    }
                }
                Text {
                    objectName: "bluetoothWarning"
                    visible: workstation.bluetoothAudioWarning
                    Layout.preferredWidth: 520
                    wrapMode: Text.WordWrap
                    text: "⚠ The output is a Bluetooth device: it delays every note by a fifth of a second or more. Use a cable or a USB interface to play live."
                    font.pixelSize: Theme.fontNormal
                    font.bold: true
                    color: Theme.danger
                }
                Rectangle {
                    Layout.preferredWidth: 520
                    Layout.preferredHeight: 116
                    radius: Theme.radius
                    color: Theme.display
                    Column {
                        anchors.fill: parent
                        anchors.margins: 12
                        spacing: 4
                        Text { text: "RUNNING: " + workstation.activeAudioBackend + " • " + workstation.activeAudioDevice; color: Theme.displayText; font.pixelSize: Theme.fontNormal; font.bold: true }
                        Text { text: workstation.audioSampleRate + " Hz • " + workstation.audioBufferFrames + " frames • " + workstation.audioLatencyMs.toFixed(1) + " ms"; color: Theme.displayText; font.pixelSize: Theme.fontNormal }
                        Text {
                            objectName: "audioThreadLine"
                            // A normal-priority audio thread can click while the window draws.
                            text: workstation.activeAudioBackend === "None" ? "Audio thread: not running"
                                  : (workstation.audioThreadRealtime ? "Audio thread: realtime" : "Audio thread: normal priority")
                            color: workstation.audioThreadRealtime ? Theme.displayText : Theme.danger
                            font.pixelSize: Theme.fontNormal
                        }
                        Text { text: "CPU load " + workstation.audioCpuLoad.toFixed(1) + "% • " + workstation.activeVoiceCount + " piano voices"; color: Theme.topBarMuted; font.pixelSize: Theme.fontSmall }
                        ElidedText { width: parent.width; text: "MIDI: " + workstation.primaryControllerName; color: Theme.topBarMuted; font.pixelSize: Theme.fontSmall }
                    }
                }
            }
        }

        ColumnLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            spacing: Theme.spacing

            // The whole setup in one file: voices, sound, zones, mappings, the recorded
            // notes, tempo and the LV2 plug-in. A name ending in ".vks" makes a project folder.
            Panel {
                title: "PROJECT"
                Layout.fillWidth: true
                ColumnLayout {
                    width: parent.width
                    spacing: 8
                    RowLayout {
                        spacing: 10
                        Caption { text: "NAME" }
                        TextField {
                            id: projectName
                            objectName: "projectName"
                            Layout.fillWidth: true
                            text: "Untitled Session"
                            selectByMouse: true
                        }
                    }
                    RowLayout {
                        spacing: 10
                        Button {
                            objectName: "saveProjectButton"
                            text: "SAVE PROJECT…"
                            highlighted: true
                            onClicked: saveDialog.open()
                        }
                        Button {
                            objectName: "openProjectButton"
                            text: "OPEN PROJECT…"
                            onClicked: openDialog.open()
                        }
                        Button {
                            objectName: "openProjectFolderButton"
                            text: "OPEN .VKS FOLDER…"
                            onClicked: openFolderDialog.open()
                        }
                    }
                    Text {
                        Layout.fillWidth: true
                        wrapMode: Text.WordWrap
                        text: "The setup is also saved every 30 seconds while the program runs."
                        font.pixelSize: Theme.fontSmall
                        color: Theme.textSecondary
                    }
                }
            }

            // What the catalogue database and the libraries hold: a count far below what
            // was imported, or a style library in trouble, shows here first.
            Panel {
                title: "DATABASE"
                Layout.fillWidth: true
                Layout.fillHeight: true
                Layout.minimumHeight: implicitHeight
                ColumnLayout {
                    width: parent.width
                    spacing: 2
                    ElidedText {
                        Layout.fillWidth: true
                        font.pixelSize: Theme.fontSmall
                        color: Theme.textPrimary
                        objectName: "instrumentCount"
                        font.bold: true
                        text: {
                            view.catalogueRefresh
                            return "Instruments in the catalogue: " + workstation.queryPresets("", "", false).length
                        }
                    }
                    ElidedText {
                        Layout.fillWidth: true
                        font.pixelSize: Theme.fontSmall
                        color: Theme.textPrimary
                        objectName: "catalogueDetail"
                        text: {
                            view.catalogueRefresh
                            return workstation.presetCategories().length + " categories • "
                                   + workstation.queryPresets("", "", true).length + " favourites • "
                                   + workstation.availableDrumKits.length + " drum kits"
                        }
                    }
                    ElidedText {
                        Layout.fillWidth: true
                        font.pixelSize: Theme.fontSmall
                        color: Theme.textPrimary
                        objectName: "styleLibraryLine"
                        text: "Style files: " + workstation.userStyCount + " imported • " + workstation.styStatusText
                    }
                    ElidedText {
                        Layout.fillWidth: true
                        font.pixelSize: Theme.fontSmall
                        color: Theme.textPrimary
                        objectName: "libraryLine"
                        text: workstation.registrations.length + " registration memories • "
                              + workstation.lv2Plugins.length + " LV2 plug-ins • "
                              + workstation.hymnCatalog.length + " hymn lessons"
                    }
                }
            }

            Panel {
                title: "ABOUT"
                Layout.fillWidth: true
                Layout.fillHeight: true
                Layout.minimumHeight: implicitHeight
                ColumnLayout {
                    width: parent.width
                    spacing: 4
                    RowLayout {
                        Layout.fillWidth: true
                        Text { Layout.fillWidth: true; text: "Tembora " + Qt.application.version; font.pixelSize: Theme.fontTitle; font.bold: true; color: Theme.textPrimary }
                        Button {
                            objectName: "manualButton"
                            text: "USER MANUAL (PDF)"
                            font.pixelSize: Theme.fontSmall
                            font.bold: true
                            focusPolicy: Qt.NoFocus
                            onClicked: workstation.openUserManualPdf()
                        }
                    }
                    ElidedText { Layout.fillWidth: true; text: "For church musicians and stage players • © 2026 Sandorik • MIT licence"; font.pixelSize: Theme.fontSmall; color: Theme.textSecondary }
                }
            }
        }
    }
}

