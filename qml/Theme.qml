pragma Singleton
import QtQuick

// Colours, sizes and fonts shared by every view. Views never hard-code colours.
QtObject {
    // Surfaces
    readonly property color windowBackground: "#D8DEE6"
    readonly property color panel: "#F4F6F9"
    readonly property color panelRaised: "#FFFFFF"
    readonly property color panelBorder: "#B8C2CE"
    readonly property color panelHeader: "#E6EBF1"
    readonly property color rail: "#27313D"
    readonly property color railButton: "#34404E"
    readonly property color railButtonActive: "#E0A458"
    readonly property color topBar: "#1F2A37"
    readonly property color topBarText: "#F4F1EA"
    readonly property color topBarMuted: "#9AA8B8"
    readonly property color display: "#0F1720"
    readonly property color displayText: "#7FE3C2"

    // Text
    readonly property color textPrimary: "#1F2A37"
    readonly property color textSecondary: "#566474"
    readonly property color textOnAccent: "#1F2A37"
    readonly property color textDisabled: "#98A3AF"

    // Accents
    readonly property color accent: "#E0A458"
    readonly property color accentStrong: "#C9822E"
    readonly property color accentBlue: "#3B7DD8"
    readonly property color good: "#3DAA6D"
    readonly property color warning: "#E0A458"
    readonly property color danger: "#D1495B"
    readonly property color mute: "#D1495B"
    readonly property color solo: "#E8C547"

    // Wood of the side cheeks and the keyboard housing
    readonly property color woodLight: "#8A5A36"
    readonly property color woodDark: "#5B3720"
    readonly property color keybed: "#20262E"

    // Keys
    readonly property color whiteKey: "#FBFAF7"
    readonly property color whiteKeyEdge: "#C9CDD3"
    readonly property color blackKey: "#1B1E22"
    readonly property color keyPressed: "#E0A458"
    readonly property color blackKeyPressed: "#B77B33"
    readonly property color splitTint: "#D7E6F6"
    readonly property color guideMelodyKey: "#4CC27E"
    readonly property color guideChordKey: "#F0B44C"
    readonly property color rangeMarker: "#3B7DD8"

    // Meters
    readonly property color meterLow: "#3DAA6D"
    readonly property color meterMid: "#E8C547"
    readonly property color meterHigh: "#D1495B"
    readonly property color meterTrack: "#2B3440"

    // Geometry
    readonly property int cheekWidth: 12
    readonly property int topBarHeight: 64
    readonly property int railWidth: 128
    readonly property int keyboardHeight: 170
    readonly property int radius: 6
    readonly property int spacing: 10
    readonly property int padding: 14

    // Type
    readonly property string fontFamily: "DejaVu Sans"
    readonly property int fontSmall: 11
    readonly property int fontNormal: 13
    readonly property int fontLarge: 16
    readonly property int fontTitle: 20

    // The style families of the quick-start buttons, in the order the controller's
    // triggerStyleQuickStart numbers them; each is also its styles' genre name.
    readonly property var styleFamilies: ["Mugithi", "Rhumba", "Lingala & Seben", "Country", "Reggae",
                                          "Twist & Benga", "Worship & Gospel"]
}
