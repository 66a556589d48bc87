#pragma once

// What the controller keeps of the style band and the hymn demo that the mixer and
// the reset of performance modifiers act on: switches, and the notes each part
// holds sounding. The arranger and the hymn tutor fill these; the mixer silences
// them. GUI thread only.

#include "rhythm/Arranger.h"

#include <QList>
#include <QString>

#include <algorithm>
#include <array>
#include <cmath>

namespace tmb {

struct HymnPlaybackState {
    bool hymnPlaying = false;
    int guideNote = -1;      // the demo's sounding guide key, -1 when none
    QList<int> harmonyNotes; // sounding on channel index 0
};

// Controller 7 value of a style-band part: the band volume times the part's
// level, or 0 while the band is muted.
inline int styleBandChannelVolume(float styleVolume, float partLevel, bool muted) {
    if (muted) return 0;
    return std::clamp(static_cast<int>(std::lround(styleVolume * partLevel * 127.0f)), 0, 127);
}

} // namespace tmb
