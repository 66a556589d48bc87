import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import "components"
import "views"

ApplicationWindow {
    id: root
    objectName: "mainWindow"
    width: 1480
    height: 920
    minimumWidth: 1180
    minimumHeight: 740
    visible: true
    title: "Tembora"
    color: Theme.windowBackground
    visibility: workstation.fullScreenPerformance ? Window.FullScreen : Window.Windowed
    // The camera floats over the views instead of sitting docked at the right.
    property bool cameraFloating: false
    // Docked, the camera takes its width from the views; it docks only where they
    // keep the room they have in the smallest window, and floats elsewhere.
    readonly property bool roomToDock: width - cameraBay.implicitWidth >= minimumWidth
    readonly property bool cameraDocked: workstation.cameraEnabled && !cameraFloating && roomToDock

    Shortcut {
        sequence: "F11"
        context: Qt.ApplicationShortcut
        onActivated: workstation.fullScreenPerformance = !workstation.fullScreenPerformance
    }
    Shortcut {
        sequence: "Escape"
        context: Qt.ApplicationShortcut
        enabled: workstation.fullScreenPerformance
        onActivated: workstation.fullScreenPerformance = false
    }

    // Wooden side cheeks frame everything.
    Rectangle {
        id: leftCheek
        width: Theme.cheekWidth
        anchors { left: parent.left; top: parent.top; bottom: parent.bottom }
        gradient: Gradient {
            orientation: Gradient.Horizontal
            GradientStop { position: 0; color: Theme.woodDark }
            GradientStop { position: 1; color: Theme.woodLight }
        }
    }
    Rectangle {
        id: rightCheek
        width: Theme.cheekWidth
        anchors { right: parent.right; top: parent.top; bottom: parent.bottom }
        gradient: Gradient {
            orientation: Gradient.Horizontal
            GradientStop { position: 0; color: Theme.woodLight }
            GradientStop { position: 1; color: Theme.woodDark }
        }
    }

    ColumnLayout {
        anchors { left: leftCheek.right; right: rightCheek.left; top: parent.top; bottom: parent.bottom }
        spacing: 0

        TopBar {
            Layout.fillWidth: true
        }

        // The status banner: the latest message of any part of the program.
        Rectangle {
            Layout.fillWidth: true
            Layout.preferredHeight: 28
            color: Theme.panelHeader
            ElidedText {
                objectName: "statusBanner"
                anchors.verticalCenter: parent.verticalCenter
                anchors.left: parent.left
                anchors.right: parent.right
                anchors.leftMargin: Theme.padding
                anchors.rightMargin: Theme.padding
                text: workstation.statusBanner
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontNormal
                color: Theme.textPrimary
            }
        }

        PhoneDrawer {
            visible: workstation.phoneDrawerOpen
            Layout.fillWidth: true
            Layout.preferredHeight: implicitHeight
        }

        BroadcastDrawer {
            objectName: "broadcastDrawer"
            Layout.fillWidth: true
            visible: workstation.broadcastDrawerOpen
        }

        WatermarkStrip {
            objectName: "watermarkRibbon"
            Layout.fillWidth: true
            Layout.preferredHeight: 34
            visible: workstation.watermarkEnabled
            titleSize: Theme.fontLarge
        }

        RowLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            spacing: 0

            LeftNavRail {
                objectName: "leftNavRail"
                visible: !workstation.fullScreenPerformance
                Layout.fillHeight: true
            }

            Item {
                Layout.fillWidth: true
                Layout.fillHeight: true

                // One slot per mode, in mode order.
                StackLayout {
                    id: viewStack
                    objectName: "viewStack"
                    anchors.fill: parent
                    currentIndex: workstation.currentMode

                    PlayView { objectName: "view_0" }
                    SoundsView { objectName: "view_1" }
                    WorkstationView { objectName: "view_2" }
                    BeatsView { objectName: "view_3" }
                    StudioView { objectName: "view_4" }
                    MixerView { objectName: "view_5" }
                    DevicesView { objectName: "view_6" }
                    SettingsView { objectName: "view_7" }
                    HymnsView { objectName: "view_8" }
                    StylesView { objectName: "view_9" }
                }

                CameraPip {
                    objectName: "cameraPip"
                    visible: workstation.cameraEnabled && !root.cameraDocked
                    canDock: root.roomToDock
                    onDockRequested: root.cameraFloating = false
                }
            }

            CameraBay {
                id: cameraBay
                objectName: "cameraBay"
                Layout.fillHeight: true
                Layout.preferredWidth: implicitWidth
                visible: root.cameraDocked
                onFloatRequested: root.cameraFloating = true
            }
        }

        PianoKeyboard88 {
            id: keyboard
            Layout.fillWidth: true
            Layout.preferredHeight: Theme.keyboardHeight
        }
    }
}
