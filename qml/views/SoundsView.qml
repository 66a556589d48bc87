import QtQuick
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Layouts
import "../components"
import ".."

// SOUNDS: the instrument catalogue by category, with search, favourites, slot
// assignment and import of SFZ and SoundFont files.
Item {
    id: view
    property string category: "All"
    property bool favoritesOnly: false
    property int refresh: 0 // bumped when the catalogue or a favourite changes

    readonly property var categories: {
        view.refresh
        return ["All"].concat(workstation.presetCategories())
    }
    readonly property var presets: {
        view.refresh
        return workstation.queryPresets(view.category === "All" ? "" : view.category, searchField.text, view.favoritesOnly)
    }

    Connections {
        target: workstation
        function onPresetsCatalogChanged() { view.refresh++ }
        function onActivePresetsChanged() { view.refresh++ }
    }

    FileDialog {
        id: importDialog
        title: "Import an SFZ or SF2 instrument"
        nameFilters: ["Instruments (*.sfz *.sf2 *.SFZ *.SF2)"]
        onAccepted: workstation.importInstrumentLibrary(selectedFile.toString())
    }

    RowLayout {
        anchors.fill: parent
        anchors.margins: Theme.padding
        spacing: Theme.spacing

        Panel {
            title: "CATEGORIES"
            Layout.preferredWidth: 250
            Layout.fillHeight: true
            ListView {
                id: categoryList
                objectName: "categoryList"
                anchors.fill: parent
                clip: true
                spacing: 2
                model: view.categories
                delegate: Rectangle {
                    required property string modelData
                    width: categoryList.width
                    height: 30
                    radius: 4
                    color: view.category === modelData ? Theme.accent : (catHover.containsMouse ? Theme.panelHeader : "transparent")
                    Text {
                        anchors.verticalCenter: parent.verticalCenter
                        anchors.left: parent.left
                        anchors.leftMargin: 8
                        width: parent.width - 16
                        elide: Text.ElideRight
                        text: modelData
                        font.pixelSize: Theme.fontNormal
                        color: Theme.textPrimary
                    }
                    MouseArea { id: catHover; anchors.fill: parent; hoverEnabled: true; onClicked: view.category = modelData }
                }
            }
        }

        Panel {
            title: "INSTRUMENTS"
            Layout.fillWidth: true
            Layout.fillHeight: true
            ColumnLayout {
                anchors.fill: parent
                spacing: 8
                RowLayout {
                    Layout.fillWidth: true
                    TextField {
                        id: searchField
                        objectName: "soundsSearch"
                        Layout.fillWidth: true
                        placeholderText: "Search by name, category or style…"
                    }
                    CheckBox {
                        objectName: "favoritesOnly"
                        text: "Favourites only"
                        checked: view.favoritesOnly
                        onToggled: view.favoritesOnly = checked
                    }
                    Button {
                        objectName: "importButton"
                        text: "+ IMPORT SFZ / SF2"
                        highlighted: true
                        onClicked: importDialog.open()
                    }
                }
                Text {
                    text: view.presets.length + " instruments" + (workstation.loadingInstrument ? " • loading…" : "")
                    font.pixelSize: Theme.fontSmall
                    color: Theme.textSecondary
                }
                ListView {
                    id: presetList
                    objectName: "presetList"
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    clip: true
                    spacing: 3
                    model: view.presets
                    ScrollBar.vertical: ScrollBar {}
                    delegate: Rectangle {
                        required property var modelData
                        width: presetList.width - 12
                        height: 46
                        radius: 4
                        color: modelData.id === workstation.mainPresetId ? Theme.splitTint : Theme.panelRaised
                        border.color: Theme.panelBorder
                        RowLayout {
                            anchors.fill: parent
                            anchors.leftMargin: 8
                            anchors.rightMargin: 8
                            spacing: 8
                            Text {
                                text: modelData.isFavorite ? "★" : "☆"
                                font.pixelSize: 20
                                color: modelData.isFavorite ? Theme.accentStrong : Theme.textDisabled
                                MouseArea {
                                    objectName: "favoriteStar"
                                    anchors.fill: parent
                                    // The change rebuilds the list, this row included: nothing
                                    // may follow the call here.
                                    onClicked: workstation.toggleFavoritePreset(modelData.id)
                                }
                            }
                            Column {
                                Layout.fillWidth: true
                                Text {
                                    width: parent.width
                                    text: modelData.name + (modelData.missingFile ? "  (file missing)" : "")
                                    elide: Text.ElideRight
                                    font.pixelSize: Theme.fontNormal
                                    font.bold: true
                                    color: modelData.missingFile ? Theme.textDisabled : Theme.textPrimary
                                }
                                Text {
                                    width: parent.width
                                    text: modelData.category + " • " + modelData.subcategory + " • " + modelData.engineLabel
                                    elide: Text.ElideRight
                                    font.pixelSize: Theme.fontSmall
                                    color: Theme.textSecondary
                                }
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
}
