#pragma once

// What the controller keeps of the style band that the mixer and the reset of
// performance modifiers act on. The hymn's sounding notes are the hymn tutor's
// (HymnPlaybackState); the mixer silences both. GUI thread only.

#include "hymns/HymnTutor.h"
#include "rhythm/Arranger.h"

#include <QList>
#include <QString>

#include <algorithm>
#include <array>
#include <cmath>

namespace tmb {

// Controller 7 value of a style-band part: the band volume times the part's
// level, or 0 while the band is muted.
inline int styleBandChannelVolume(float styleVolume, float partLevel, bool muted) {
    if (muted) return 0;
    return std::clamp(static_cast<int>(std::lround(styleVolume * partLevel * 127.0f)), 0, 127);
}

} // namespace tmb
