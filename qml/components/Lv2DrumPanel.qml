import QtQuick
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Layouts
import ".."

// The LV2 instrument on the LV2 bus (DrumGizmo first): the plug-in list with load,
// unload and bypass, DrumGizmo's kit and midimap files, and the output peaks.
Panel {
    id: panel
    title: "LV2 • " + (workstation.lv2Loaded ? workstation.activeLv2Name : "NO PLUG-IN")
    property string kitFile: ""
    property string midimapFile: ""
    // Peaks of the first outputs, read with the meters.
    property var peaks: [0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0]
    readonly property var plugins: workstation.lv2Plugins

    Connections {
        target: workstation
        function onMetersUpdated() {
            if (!workstation.lv2Loaded) return
            var fresh = []
            for (var i = 0; i < 16; ++i)
                fresh.push(workstation.lv2BusPeak(i))
            panel.peaks = fresh
        }
        function onLv2StateChanged() { if (!workstation.lv2Loaded) panel.peaks = panel.peaks.map(() => 0) }
    }

    FileDialog {
        id: kitDialog
        title: "DrumGizmo Kit"
        nameFilters: ["Drum kits (*.xml)", "All files (*)"]
        onAccepted: panel.kitFile = selectedFile.toString()
    }
    FileDialog {
        id: midimapDialog
        title: "DrumGizmo Midimap"
        nameFilters: ["Midimaps (*.xml)", "All files (*)"]
        onAccepted: panel.midimapFile = selectedFile.toString()
    }

    ColumnLayout {
        width: parent.width
        spacing: 6
        ComboBox {
            id: pluginBox
            objectName: "lv2PluginBox"
            Layout.fillWidth: true
            model: panel.plugins
            textRole: "name"
            displayText: currentIndex >= 0 && panel.plugins.length > currentIndex
                         ? panel.plugins[currentIndex].name + " • " + panel.plugins[currentIndex].category
                         : "No LV2 plug-ins found"
        }
        // Three buttons a row, sharing the panel's width, so none is pushed out of it.
        GridLayout {
            Layout.fillWidth: true
            columns: 3
            columnSpacing: 6
            rowSpacing: 6
            component GridButton: Button {
                Layout.fillWidth: true
                Layout.preferredWidth: 1
                leftPadding: 4
                rightPadding: 4
                font.pixelSize: Theme.fontSmall
                font.bold: true
            }
            GridButton {
                objectName: "lv2LoadButton"
                text: "LOAD"
                enabled: pluginBox.currentIndex >= 0 && panel.plugins.length > 0
                onClicked: workstation.loadLv2Plugin(panel.plugins[pluginBox.currentIndex].uri)
            }
            GridButton {
                objectName: "lv2UnloadButton"
                text: "UNLOAD"
                enabled: workstation.lv2Loaded
                onClicked: workstation.unloadLv2Plugin()
            }
            GridButton {
                objectName: "lv2BypassButton"
                text: "BYPASS"
                checkable: true
                checked: workstation.lv2Bypassed
                onToggled: workstation.lv2Bypassed = checked
            }
            GridButton { text: "RESCAN"; onClicked: workstation.rescanLv2Plugins() }
            GridButton { text: "KIT…"; onClicked: kitDialog.open() }
            GridButton { text: "MIDIMAP…"; onClicked: midimapDialog.open() }
            GridButton {
                objectName: "drumGizmoConfigureButton"
                text: "USE KIT"
                enabled: panel.kitFile.length > 0
                onClicked: workstation.configureDrumGizmo(panel.kitFile, panel.midimapFile)
            }
        }
        Text {
            Layout.fillWidth: true
            elide: Text.ElideMiddle
            text: panel.kitFile.length > 0 ? panel.kitFile.replace("file://", "") : "No kit chosen"
            font.pixelSize: Theme.fontSmall
            color: Theme.textSecondary
        }
        // Two lines kept for it: a wrapped text's height would not reach the layout
        // in time, and the meters below would spill out of the panel.
        Text {
            objectName: "lv2Status"
            Layout.fillWidth: true
            Layout.preferredHeight: 2 * statusMetrics.height
            FontMetrics { id: statusMetrics; font.pixelSize: Theme.fontSmall }
            wrapMode: Text.WordWrap
            maximumLineCount: 2
            elide: Text.ElideRight
            text: workstation.lv2StatusMessage
            font.pixelSize: Theme.fontSmall
            color: Theme.textPrimary
        }
        Row {
            spacing: 2
            Repeater {
                model: 16
                delegate: LevelMeter {
                    required property int index
                    width: 8
                    height: 36
                    level: panel.peaks[index]
                }
            }
        }
    }
}
