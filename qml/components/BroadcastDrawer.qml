import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import ".."

// The broadcast drawer: one-click platform pages, the camera, the built-in encoder
// with its status and time on air, the watermark texts and the stream keys. The
// keys are never shown in clear: this window is what the stream shows.
Rectangle {
    id: drawer
    color: Theme.topBar
    implicitHeight: columns.implicitHeight + 2 * Theme.spacing

    readonly property var cornerNames: ["↘ CORNER", "↙ CORNER", "↗ CORNER", "↖ CORNER"]

    component Caption: Text {
        font.family: Theme.fontFamily
        font.pixelSize: Theme.fontSmall
        font.bold: true
        font.letterSpacing: 1
        color: Theme.topBarMuted
    }
    component DrawerButton: Button {
        property color tint: Theme.railButton
        focusPolicy: Qt.NoFocus
        Layout.fillWidth: true
        Layout.preferredHeight: 30
        font.family: Theme.fontFamily
        font.pixelSize: Theme.fontSmall
        font.bold: true
        contentItem: Text {
            text: parent.text
            font: parent.font
            color: Theme.topBarText
            elide: Text.ElideRight
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
        }
        background: Rectangle {
            radius: Theme.radius
            color: parent.down ? Qt.darker(parent.tint, 1.3) : parent.tint
        }
    }
    component DrawerSwitch: Switch {
        focusPolicy: Qt.NoFocus
        font.family: Theme.fontFamily
        font.pixelSize: Theme.fontSmall
        contentItem: Text {
            leftPadding: parent.indicator.width + 6
            text: parent.text
            font: parent.font
            color: Theme.topBarText
            verticalAlignment: Text.AlignVCenter
        }
    }
    // A field showing `value`; an edit goes out as `submitted` and the field then
    // follows `value` again (the controller may clean or refuse the text).
    component DrawerField: TextField {
        id: field
        property string value
        signal submitted(string text)
        text: value
        onEditingFinished: {
            if (text !== value) submitted(text)
            text = Qt.binding(function () { return field.value })
        }
        Layout.fillWidth: true
        Layout.preferredHeight: 28
        font.family: Theme.fontFamily
        font.pixelSize: Theme.fontSmall
        color: Theme.displayText
        placeholderTextColor: Theme.topBarMuted
        background: Rectangle {
            radius: 4
            color: Theme.display
            border.color: parent.activeFocus ? Theme.accent : Theme.railButton
        }
    }
    // One stream target: its switch, its key (hidden) and a paste button.
    component KeyRow: RowLayout {
        id: keyRow
        property alias label: enabledSwitch.text
        property bool targetEnabled
        property string key
        property string placeholder
        signal enableChanged(bool on)
        signal keyEdited(string key)
        signal paste()
        spacing: 6
        DrawerSwitch {
            id: enabledSwitch
            Layout.preferredWidth: 136
            checked: keyRow.targetEnabled
            onToggled: keyRow.enableChanged(checked)
        }
        DrawerField {
            objectName: keyRow.objectName + "Field"
            echoMode: TextInput.Password
            placeholderText: keyRow.placeholder
            value: keyRow.key
            onSubmitted: text => keyRow.keyEdited(text)
        }
        DrawerButton {
            objectName: keyRow.objectName + "Paste"
            Layout.fillWidth: false
            Layout.preferredWidth: 64
            text: "PASTE"
            onClicked: keyRow.paste()
        }
    }

    RowLayout {
        id: columns
        anchors.fill: parent
        anchors.margins: Theme.spacing
        spacing: 2 * Theme.spacing

        // One-click platform pages and the camera
        ColumnLayout {
            Layout.preferredWidth: 230
            Layout.alignment: Qt.AlignTop
            spacing: 6
            Caption { text: "ONE-CLICK LIVE" }
            GridLayout {
                Layout.fillWidth: true
                columns: 2
                columnSpacing: 6
                rowSpacing: 6
                Repeater {
                    model: [
                        { platform: "youtube", label: "YOUTUBE", tint: "#C4302B" },
                        { platform: "facebook", label: "FACEBOOK", tint: "#3B5998" },
                        { platform: "tiktok", label: "TIKTOK", tint: "#2B2B2B" },
                        { platform: "studio", label: "MULTI-PLATFORM", tint: Theme.railButton }
                    ]
                    DrawerButton {
                        objectName: "launch_" + modelData.platform
                        text: modelData.label
                        tint: modelData.tint
                        onClicked: workstation.openOneClickStreamPlatform(modelData.platform)
                    }
                }
            }
            DrawerSwitch {
                objectName: "cameraSwitch"
                text: "CAMERA"
                checked: workstation.cameraEnabled
                onToggled: workstation.cameraEnabled = checked
            }
            RowLayout {
                spacing: 6
                DrawerButton {
                    objectName: "cameraCornerButton"
                    text: drawer.cornerNames[workstation.cameraCorner]
                    onClicked: workstation.cycleCameraCorner()
                }
                DrawerSwitch {
                    objectName: "cameraMirrorSwitch"
                    text: "MIRROR"
                    checked: workstation.cameraMirror
                    onToggled: workstation.cameraMirror = checked
                }
            }
        }

        // The built-in encoder
        ColumnLayout {
            Layout.preferredWidth: 260
            Layout.alignment: Qt.AlignTop
            spacing: 6
            Caption { text: "BUILT-IN ENCODER" }
            DrawerButton {
                objectName: "encoderButton"
                Layout.preferredHeight: 40
                text: workstation.broadcastActive ? "■ STOP  " + workstation.broadcastElapsedText
                                                  : "● START STREAM / REC"
                tint: workstation.broadcastActive ? Theme.danger : Theme.accentStrong
                onClicked: workstation.toggleLiveBroadcast()
            }
            Text {
                objectName: "broadcastStatus"
                Layout.fillWidth: true
                text: workstation.broadcastStatusText
                wrapMode: Text.Wrap
                maximumLineCount: 3
                elide: Text.ElideRight
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontSmall
                color: workstation.broadcastStatusText.startsWith("⚠") ? Theme.warning : Theme.displayText
            }
            Text {
                objectName: "broadcastElapsed"
                text: "ON AIR " + workstation.broadcastElapsedText
                visible: workstation.broadcastActive
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontNormal
                font.bold: true
                color: Theme.danger
            }
            RowLayout {
                spacing: 6
                DrawerSwitch {
                    objectName: "recordMp4Switch"
                    text: "REC .MP4"
                    checked: workstation.recordBroadcastMp4
                    onToggled: workstation.recordBroadcastMp4 = checked
                }
                DrawerButton {
                    objectName: "lastVideoButton"
                    text: "▶ LAST VIDEO"
                    onClicked: workstation.openLastRecordedVideo()
                }
            }
        }

        // The watermark
        ColumnLayout {
            Layout.preferredWidth: 230
            Layout.alignment: Qt.AlignTop
            spacing: 6
            Caption { text: "WATERMARK" }
            DrawerSwitch {
                objectName: "watermarkSwitch"
                text: "SHOW LOGO RIBBON"
                checked: workstation.watermarkEnabled
                onToggled: workstation.watermarkEnabled = checked
            }
            DrawerField {
                objectName: "watermarkTextField"
                placeholderText: "Church or band name"
                value: workstation.watermarkText
                onSubmitted: text => workstation.watermarkText = text
            }
            DrawerField {
                objectName: "watermarkSubtextField"
                placeholderText: "Second line"
                value: workstation.watermarkSubtext
                onSubmitted: text => workstation.watermarkSubtext = text
            }
        }

        // The stream keys
        ColumnLayout {
            Layout.fillWidth: true
            Layout.minimumWidth: 280
            Layout.alignment: Qt.AlignTop
            spacing: 6
            RowLayout {
                Layout.fillWidth: true
                Caption { text: "STREAM KEYS"; Layout.fillWidth: true }
                ToolButton {
                    objectName: "closeBroadcastDrawer"
                    text: "✕"
                    focusPolicy: Qt.NoFocus
                    onClicked: workstation.broadcastDrawerOpen = false
                    contentItem: Text { text: parent.text; color: Theme.topBarText; horizontalAlignment: Text.AlignHCenter; verticalAlignment: Text.AlignVCenter }
                }
            }
            KeyRow {
                objectName: "youtubeKey"
                Layout.fillWidth: true
                label: "YOUTUBE"
                placeholder: "xxxx-xxxx-xxxx-xxxx"
                targetEnabled: workstation.streamYoutubeEnabled
                key: workstation.streamYoutubeKey
                onEnableChanged: on => workstation.streamYoutubeEnabled = on
                onKeyEdited: key => workstation.streamYoutubeKey = key
                onPaste: workstation.pasteYoutubeKeyFromClipboard()
            }
            KeyRow {
                objectName: "facebookKey"
                Layout.fillWidth: true
                label: "FACEBOOK"
                placeholder: "Facebook stream key"
                targetEnabled: workstation.streamFacebookEnabled
                key: workstation.streamFacebookKey
                onEnableChanged: on => workstation.streamFacebookEnabled = on
                onKeyEdited: key => workstation.streamFacebookKey = key
                onPaste: workstation.pasteFacebookKeyFromClipboard()
            }
            KeyRow {
                objectName: "tiktokKey"
                Layout.fillWidth: true
                label: "TIKTOK"
                placeholder: "TikTok stream key"
                targetEnabled: workstation.streamTiktokEnabled
                key: workstation.streamTiktokKey
                onEnableChanged: on => workstation.streamTiktokEnabled = on
                onKeyEdited: key => workstation.streamTiktokKey = key
                onPaste: workstation.pasteTiktokKeyFromClipboard()
            }
            DrawerField {
                objectName: "tiktokUrlField"
                placeholderText: "TikTok server URL"
                value: workstation.streamTiktokUrl
                onSubmitted: text => workstation.streamTiktokUrl = text
            }
        }
    }
}
