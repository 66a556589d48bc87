import QtQuick
import ".."

// A knob for one sound parameter. Drag up/down to change it; the owner writes
// `value` back to the controller in onMoved. The wheel turns it only once it has
// been clicked, or the pointer has rested on it for a moment without scrolling,
// so a page scrolled past it never turns it. A learnable knob asks for MIDI learn
// on a right-click; while `learning` it is marked until a control is moved.
Item {
    id: knob
    objectName: "knob_" + label
    property string label: ""
    property real value: 0
    property real from: 0
    property real to: 1
    property real defaultValue: from
    property int decimals: 2
    property string unit: ""
    property string valueText: (value).toFixed(decimals) + unit
    signal moved(real newValue)
    property bool learnable: false
    property bool learning: false
    signal learnRequested()

    readonly property real position: to > from ? (value - from) / (to - from) : 0
    // How long the pointer must rest on the knob before the wheel turns it.
    property int wheelDelay: 700
    property bool wheelArmed: false

    implicitWidth: 78
    implicitHeight: 96

    function setFromPosition(p) {
        var clamped = Math.max(0, Math.min(1, p))
        knob.moved(from + clamped * (to - from))
    }

    Rectangle {
        id: dial
        width: 52
        height: 52
        radius: 26
        anchors.horizontalCenter: parent.horizontalCenter
        y: 2
        color: Theme.panelRaised
        border.color: knob.learning ? Theme.danger : knob.wheelArmed ? Theme.accent : Theme.panelBorder
        border.width: knob.learning ? 3 : 2

        Canvas {
            id: arc
            anchors.fill: parent
            property real position: knob.position
            onPositionChanged: requestPaint()
            onPaint: {
                var ctx = getContext("2d")
                ctx.reset()
                var start = 0.75 * Math.PI
                ctx.lineWidth = 4
                ctx.strokeStyle = Theme.panelBorder
                ctx.beginPath()
                ctx.arc(width / 2, height / 2, width / 2 - 5, start, start + 1.5 * Math.PI)
                ctx.stroke()
                ctx.strokeStyle = Theme.accent
                ctx.beginPath()
                ctx.arc(width / 2, height / 2, width / 2 - 5, start, start + 1.5 * Math.PI * position)
                ctx.stroke()
            }
        }
        Rectangle {
            width: 3
            height: 14
            radius: 1.5
            color: Theme.textPrimary
            x: parent.width / 2 - 1.5
            y: 8
            transformOrigin: Item.Bottom
            transform: Rotation {
                origin.x: 1.5
                origin.y: 18
                angle: -135 + 270 * knob.position
            }
        }
        Timer {
            id: restTimer
            interval: knob.wheelDelay
            onTriggered: knob.wheelArmed = true
        }
        MouseArea {
            anchors.fill: parent
            property real pressY: 0
            property real pressPosition: 0
            acceptedButtons: knob.learnable ? Qt.LeftButton | Qt.RightButton : Qt.LeftButton
            hoverEnabled: true
            // A drag turns the knob, never the page around it.
            preventStealing: true
            onEntered: restTimer.restart()
            onExited: {
                restTimer.stop()
                knob.wheelArmed = false
            }
            onPressed: function (mouse) {
                if (mouse.button === Qt.RightButton) {
                    knob.learnRequested()
                    return
                }
                knob.wheelArmed = true
                pressY = mouse.y
                pressPosition = knob.position
            }
            onPositionChanged: function (mouse) {
                if (pressedButtons & Qt.LeftButton)
                    knob.setFromPosition(pressPosition + (pressY - mouse.y) / 150)
            }
            onDoubleClicked: function (mouse) {
                if (mouse.button === Qt.LeftButton)
                    knob.moved(knob.defaultValue)
            }
            onWheel: function (wheel) {
                if (!knob.wheelArmed) {
                    // The page is scrolling past: let it, and wait for a rest again.
                    restTimer.restart()
                    wheel.accepted = false
                    return
                }
                knob.setFromPosition(knob.position + (wheel.angleDelta.y > 0 ? 0.02 : -0.02))
            }
        }
    }
    Text {
        id: valueLabel
        anchors.top: dial.bottom
        anchors.topMargin: 3
        anchors.horizontalCenter: parent.horizontalCenter
        text: knob.learning ? "LEARNING…" : knob.valueText
        font.family: Theme.fontFamily
        font.pixelSize: Theme.fontSmall
        font.bold: knob.learning
        color: knob.learning ? Theme.danger : Theme.textPrimary
    }
    Text {
        anchors.top: valueLabel.bottom
        anchors.horizontalCenter: parent.horizontalCenter
        width: knob.width
        horizontalAlignment: Text.AlignHCenter
        elide: Text.ElideRight
        text: knob.label
        font.family: Theme.fontFamily
        font.pixelSize: Theme.fontSmall
        font.bold: true
        color: Theme.textSecondary
    }
}
