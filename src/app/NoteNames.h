#pragma once

#include <QString>

#include <algorithm>

namespace tmb {

// Key and harmonizer displays spell with sharps: 60 is "C4", 61 "C#4".
inline QString sharpNoteName(int note) {
    static const char* const names[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    note = std::clamp(note, 0, 127);
    return QLatin1String(names[note % 12]) + QString::number(note / 12 - 1);
}

} // namespace tmb
