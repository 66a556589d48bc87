#pragma once

#include <cstdint>

namespace tmb {

// One note of the studio track, positioned in beats. Plain value, copied freely.
struct PianoRollNote {
    std::uint32_t id = 0; // unique within the recorder, counted from 1
    int trackIndex = 0;   // 0 for the keyboard and the piano roll
    int pitch = 60;       // 0-127
    int velocity = 100;   // 1-127
    double startBeats = 0.0;
    double durationBeats = 1.0;

    bool operator==(const PianoRollNote&) const = default;
};

// A pedal or other controller move made during a take. Kept with the take, never
// played back or exported.
struct RecordedCcEvent {
    int trackIndex = 0;
    int controller = 0;
    int value = 0;
    double beat = 0.0;
};

} // namespace tmb
