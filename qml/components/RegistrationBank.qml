import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import ".."

// The eight registration memories as a row of buttons, each with its number and
// name; the active one is lit. The owner decides what a press does (recall or store).
RowLayout {
    id: bank
    signal chosen(int slot)
    spacing: 6

    Repeater {
        model: workstation.registrations
        delegate: Button {
            id: slotButton
            required property var modelData
            required property int index
            objectName: "registration_" + index
            readonly property bool active: workstation.activeRegistrationSlot === index
            // "1. Flagship C5 Concert Grand": the number shows large, the rest below.
            readonly property string shortName: String(modelData.name).replace(/^\d+\.\s*/, "")
            Layout.fillWidth: true
            Layout.preferredWidth: 100
            Layout.preferredHeight: 62
            focusPolicy: Qt.NoFocus
            onClicked: bank.chosen(index)
            background: Rectangle {
                radius: Theme.radius
                color: slotButton.active ? Theme.accent : slotButton.down ? Theme.panelHeader : Theme.panelRaised
                border.color: slotButton.active ? Theme.accentStrong : Theme.panelBorder
                border.width: slotButton.active ? 2 : 1
            }
            contentItem: Column {
                spacing: 1
                Text {
                    width: parent.width
                    horizontalAlignment: Text.AlignHCenter
                    text: slotButton.index + 1
                    font.family: Theme.fontFamily
                    font.pixelSize: Theme.fontLarge
                    font.bold: true
                    color: Theme.textPrimary
                }
                ElidedText {
                    width: parent.width
                    horizontalAlignment: Text.AlignHCenter
                    text: slotButton.shortName
                    wrapMode: Text.WordWrap
                    maximumLineCount: 2
                    lineHeight: 0.9
                    font.family: Theme.fontFamily
                    font.pixelSize: Theme.fontSmall
                    color: slotButton.active ? Theme.textOnAccent : Theme.textSecondary
                }
            }
        }
    }
}
