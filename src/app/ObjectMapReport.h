#pragma once

class QQuickWindow;

namespace tmb {

// Where the window's named controls are, so a driver outside the program (the
// end-to-end check with xdotool) can click them wherever the layout puts them.
// When TEMBORA_OBJECT_MAP names a file, the program keeps it current: one line
// "objectName x y width height state" in window pixels for every visible item with
// an object name (state: its value, 1 or 0 for checked, or "-"), rewritten
// (atomically) within a quarter second of a change.
void publishObjectMapIfRequested(QQuickWindow* window);

} // namespace tmb
