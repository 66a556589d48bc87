#pragma once

#include <QString>

namespace tmb {

// One hardware control bound to an action: a controller number (CC) or a note number.
struct MidiControllerMapping {
    int ccOrNote = 0;
    bool isNote = false;
    // Note mappings only: the note must come from a control-surface port (true) or
    // from an ordinary keyboard port (false); channel 10 notes match either way.
    bool fromControllerPort = false;
    QString controlName;
    QString targetParameter;
    // CC mappings send minValue at controller value 0 and maxValue at 127.
    float minValue = 0.0f;
    float maxValue = 1.0f;

    friend bool operator==(const MidiControllerMapping&, const MidiControllerMapping&) = default;
};

} // namespace tmb
