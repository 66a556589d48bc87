import QtQuick
import QtQuick.Layouts
import ".."

// The on-screen 88-key keyboard (MIDI 21-108) with its wheels and pedal buttons.
// Every key press is a controller call; keys light from keyStateUpdated and
// isKeyPressed. The computer keys are played through the window's key filter.
Rectangle {
    id: housing
    objectName: "pianoKeyboard"
    color: Theme.woodDark
    implicitHeight: Theme.keyboardHeight

    readonly property int firstNote: 21
    readonly property int lastNote: 108
    readonly property int whiteKeyCount: 52
    readonly property alias keybed: keybed
    // The split plays the keys whose transposed note lies below the split key, so
    // the tint moves with transpose and octave shift.
    readonly property int splitBelow: workstation.splitKey - workstation.transposeSemitones
                                      - 12 * workstation.octaveShift
    // The hymn tutor's keys to press: re-read whenever the lesson, its step or the
    // key changes (the controller's answers carry no signal of their own).
    property int guideRevision: 0

    function isBlack(note) {
        var pc = note % 12
        return pc === 1 || pc === 3 || pc === 6 || pc === 8 || pc === 10
    }
    // Number of white keys before `note` on this keyboard.
    function whiteIndex(note) {
        var count = 0
        for (var n = firstNote; n < note; ++n)
            if (!isBlack(n))
                ++count
        return count
    }
    function whiteKeyWidth() { return keybed.width / whiteKeyCount }
    function blackKeyWidth() { return Math.max(7, whiteKeyWidth() * 0.64) }
    function blackKeyHeight() { return keybed.height * 0.63 }
    // Black keys sit centred on the boundary after the white key before them.
    function blackKeyX(note) { return whiteIndex(note) * whiteKeyWidth() - blackKeyWidth() / 2 }

    // The note under a point of the keybed: black keys first, then white; -1 if none.
    function noteAt(x, y) {
        if (x < 0 || y < 0 || x >= keybed.width || y >= keybed.height)
            return -1
        if (y < blackKeyHeight()) {
            var guess = firstNote + Math.floor(x / whiteKeyWidth() * 12 / 7)
            for (var n = Math.max(firstNote, guess - 3); n <= Math.min(lastNote, guess + 3); ++n) {
                if (isBlack(n)) {
                    var bx = blackKeyX(n)
                    if (x >= bx && x < bx + blackKeyWidth())
                        return n
                }
            }
        }
        var index = Math.floor(x / whiteKeyWidth())
        var white = -1
        for (var m = firstNote; m <= lastNote; ++m) {
            if (!isBlack(m)) {
                ++white
                if (white === index)
                    return m
            }
        }
        return -1
    }
    // Pressing lower on a key plays louder.
    function pressVelocity(note, y, rightButton) {
        if (rightButton)
            return 62
        var keyHeight = isBlack(note) ? blackKeyHeight() : keybed.height
        return Math.max(86, Math.min(127, Math.round(86 + 41 * y / keyHeight)))
    }
    function dragVelocity(y, rightButton) {
        if (rightButton)
            return 62
        return Math.max(88, Math.min(126, Math.round(88 + 38 * y / keybed.height)))
    }

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 10
        anchors.rightMargin: 10
        anchors.topMargin: 8
        anchors.bottomMargin: 8
        spacing: 10

        // Wheels
        Row {
            Layout.fillHeight: true
            spacing: 8
            Wheel {
                id: bendWheel
                objectName: "pitchBendWheel"
                height: parent.height
                label: "BEND"
                from: -1
                to: 1
                value: workstation.pitchBendValue
                springBack: true
                onMoved: function (v) { workstation.pitchBendValue = v }
            }
            Wheel {
                objectName: "modWheel"
                height: parent.height
                label: "MOD"
                from: 0
                to: 1
                value: workstation.modWheelValue
                onMoved: function (v) { workstation.modWheelValue = v }
            }
        }

        // Pedals and performance switches
        GridLayout {
            Layout.fillHeight: true
            Layout.fillWidth: false
            Layout.preferredWidth: 170
            columns: 2
            rowSpacing: 5
            columnSpacing: 5
            PedalButton { text: "SUSTAIN"; objectName: "sustainButton"; checked: workstation.sustainPedal; onToggled: workstation.sustainPedal = !workstation.sustainPedal }
            PedalButton { text: "SOSTENUTO"; checked: workstation.sostenutoPedal; onToggled: workstation.sostenutoPedal = !workstation.sostenutoPedal }
            PedalButton { text: "SOFT"; checked: workstation.softPedal; onToggled: workstation.softPedal = !workstation.softPedal }
            PedalButton { text: "LATCH"; checked: workstation.sustainLatched; onToggled: workstation.sustainLatched = !workstation.sustainLatched }
            PedalButton { text: "AUTO PEDAL"; checked: workstation.autoPedalEnabled; onToggled: workstation.autoPedalEnabled = !workstation.autoPedalEnabled }
            PedalButton { text: "PANIC"; danger: true; objectName: "panicButton"; onToggled: workstation.panicAllNotesOff() }
        }

        // The keys
        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true

            // Range of a 49-key controller (C2-C6), following the octave shift.
            Rectangle {
                id: rangeMarker
                objectName: "rangeMarker"
                readonly property int lowNote: Math.max(housing.firstNote, 36 + 12 * workstation.octaveShift)
                readonly property int highNote: Math.min(housing.lastNote, 84 + 12 * workstation.octaveShift)
                visible: highNote > lowNote
                height: 4
                radius: 2
                color: Theme.rangeMarker
                y: 0
                x: housing.whiteIndex(lowNote) * housing.whiteKeyWidth()
                width: (housing.whiteIndex(highNote) + 1) * housing.whiteKeyWidth() - x
            }

            Rectangle {
                id: keybed
                objectName: "keybed"
                anchors.fill: parent
                anchors.topMargin: 7
                color: Theme.keybed

                // One item per key, the black keys above the white ones.
                Repeater {
                    id: keys
                    model: housing.lastNote - housing.firstNote + 1
                    delegate: Key {
                        required property int index
                        note: housing.firstNote + index
                        black: housing.isBlack(note)
                        z: black ? 1 : 0
                        x: black ? housing.blackKeyX(note) : housing.whiteIndex(note) * housing.whiteKeyWidth()
                        width: black ? housing.blackKeyWidth() : housing.whiteKeyWidth() - 1
                        height: black ? housing.blackKeyHeight() : keybed.height
                    }
                }

                MouseArea {
                    id: keyMouse
                    z: 2
                    anchors.fill: parent
                    acceptedButtons: Qt.LeftButton | Qt.RightButton
                    property int dragNote: -1
                    property bool rightButton: false
                    onPressed: function (mouse) {
                        rightButton = mouse.button === Qt.RightButton
                        var note = housing.noteAt(mouse.x, mouse.y)
                        dragNote = note
                        if (note >= 0)
                            workstation.noteOn(note, housing.pressVelocity(note, mouse.y, rightButton))
                    }
                    onPositionChanged: function (mouse) {
                        if (!pressed)
                            return
                        var note = housing.noteAt(mouse.x, mouse.y)
                        if (note === dragNote)
                            return
                        if (dragNote >= 0)
                            workstation.noteOff(dragNote)
                        dragNote = note
                        if (note >= 0)
                            workstation.noteOn(note, housing.dragVelocity(mouse.y, rightButton))
                    }
                    onReleased: function (mouse) {
                        if (dragNote >= 0)
                            workstation.noteOff(dragNote)
                        dragNote = -1
                    }
                    onCanceled: {
                        if (dragNote >= 0)
                            workstation.noteOff(dragNote)
                        dragNote = -1
                    }
                }
            }
        }
    }

    // One listener for the whole keyboard: the signal names the one key to update.
    Connections {
        target: workstation
        function onKeyStateUpdated(note, pressed, velocity) {
            var key = keys.itemAt(note - housing.firstNote)
            if (key)
                key.down = pressed
        }
        function onHymnStepChanged() { ++housing.guideRevision }
        function onHymnStateChanged() { ++housing.guideRevision }
        function onPianoParamsChanged() { ++housing.guideRevision }
    }

    component Key: Rectangle {
        id: key
        property int note: 60
        property bool black: false
        property bool down: workstation.isKeyPressed(note)
        readonly property bool tinted: !black && workstation.splitEnabled && note < housing.splitBelow
        // Green: the melody note to play; amber: its chord.
        readonly property bool guideMelody: housing.guideRevision >= 0 && workstation.isGuideMelodyKey(note)
        readonly property bool guideChord: housing.guideRevision >= 0 && workstation.isGuideChordKey(note)
        objectName: "key_" + note
        radius: 2
        color: down ? (black ? Theme.blackKeyPressed : Theme.keyPressed)
                    : guideMelody ? Theme.guideMelodyKey
                    : guideChord ? Theme.guideChordKey
                    : (black ? Theme.blackKey : (tinted ? Theme.splitTint : Theme.whiteKey))
        border.color: black ? Theme.blackKey : Theme.whiteKeyEdge
        Behavior on color { ColorAnimation { duration: key.down ? 16 : 68 } }
        Text {
            visible: !key.black && key.note % 12 === 0
            anchors.bottom: parent.bottom
            anchors.bottomMargin: 4
            anchors.horizontalCenter: parent.horizontalCenter
            text: "C" + (Math.floor(key.note / 12) - 1)
            font.family: Theme.fontFamily
            font.pixelSize: 9
            color: Theme.textSecondary
        }
    }

    component PedalButton: Rectangle {
        id: pedal
        property string text: ""
        property bool checked: false
        property bool danger: false
        signal toggled()
        Layout.fillWidth: true
        Layout.fillHeight: true
        radius: 4
        color: danger ? (tap.pressed ? Qt.darker(Theme.danger, 1.3) : Theme.danger)
                      : (checked ? Theme.accent : Theme.railButton)
        Text {
            anchors.centerIn: parent
            text: pedal.text
            font.family: Theme.fontFamily
            font.pixelSize: 10
            font.bold: true
            color: pedal.checked && !pedal.danger ? Theme.textOnAccent : Theme.topBarText
        }
        MouseArea { id: tap; anchors.fill: parent; onClicked: pedal.toggled() }
    }

    component Wheel: Rectangle {
        id: wheel
        property string label: ""
        property real from: 0
        property real to: 1
        property real value: 0
        property bool springBack: false
        signal moved(real value)
        width: 30
        radius: 6
        color: Theme.keybed
        border.color: Theme.woodLight
        readonly property real position: (value - from) / (to - from)
        Rectangle {
            width: parent.width - 6
            height: 16
            radius: 4
            x: 3
            y: 3 + (wheel.height - 22 - 16) * (1 - wheel.position)
            color: Theme.topBarMuted
        }
        Text {
            anchors.bottom: parent.bottom
            anchors.bottomMargin: 2
            anchors.horizontalCenter: parent.horizontalCenter
            text: wheel.label
            font.family: Theme.fontFamily
            font.pixelSize: 8
            font.bold: true
            color: Theme.topBarText
        }
        MouseArea {
            anchors.fill: parent
            function valueAt(y) {
                var p = 1 - (y - 11) / (wheel.height - 22 - 16)
                return wheel.from + Math.max(0, Math.min(1, p)) * (wheel.to - wheel.from)
            }
            onPressed: function (mouse) { wheel.moved(valueAt(mouse.y)) }
            onPositionChanged: function (mouse) { if (pressed) wheel.moved(valueAt(mouse.y)) }
            onReleased: if (wheel.springBack) wheel.moved(0)
        }
    }
}
