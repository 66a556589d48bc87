import QtQuick
import QtQuick.Controls

// A text that elides where space is short and then shows the whole of it on hover.
Text {
    id: label
    elide: Text.ElideRight
    ToolTip.text: label.text
    ToolTip.visible: hover.hovered && label.truncated
    ToolTip.delay: 300

    HoverHandler {
        id: hover
    }
}
