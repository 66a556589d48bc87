pragma Singleton
import QtQuick

// Colours, sizes and fonts shared by every view.
QtObject {
    readonly property color windowBackground: "#D8DEE6"
    readonly property color panel: "#FFFFFF"
    readonly property color panelBorder: "#B8C2CE"
    readonly property color textPrimary: "#1F2A37"
}
