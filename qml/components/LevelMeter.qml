import QtQuick
import ".."

// A vertical (or horizontal) peak meter; `level` is a linear peak 0..1.
// The bar follows a dB scale from -60 dB so quiet signals still show.
Rectangle {
    id: meter
    property real level: 0
    property bool horizontal: false
    readonly property real fill: level <= 0.001 ? 0 : Math.max(0, Math.min(1, 1 + (20 * Math.log(level) / Math.LN10) / 60))
    // Whole pixels: a level that moves less than a pixel repaints nothing.
    readonly property int fillPixels: Math.round((horizontal ? width : height) * fill)

    implicitWidth: horizontal ? 120 : 10
    implicitHeight: horizontal ? 10 : 120
    radius: 2
    color: Theme.meterTrack

    Rectangle {
        radius: 2
        color: meter.fill > 0.9 ? Theme.meterHigh : (meter.fill > 0.7 ? Theme.meterMid : Theme.meterLow)
        x: 0
        visible: meter.fillPixels > 0
        y: meter.horizontal ? 0 : parent.height - meter.fillPixels
        width: meter.horizontal ? meter.fillPixels : parent.width
        height: meter.horizontal ? parent.height : meter.fillPixels
    }
}
