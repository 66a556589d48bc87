#pragma once

// What the controller keeps of the style band and the hymn demo that the mixer and
// the reset of performance modifiers act on: switches, and the notes each part
// holds sounding. The arranger and the hymn tutor fill these; the mixer silences
// them. GUI thread only.

#include <QList>
#include <QString>

#include <algorithm>
#include <array>
#include <cmath>

namespace tmb {

// One pitched part of the style band, on its own SoundFont channel.
struct StyleBandPart {
    int channel = 0;
    QList<int> soundingNotes;
    int remainingSteps = 0; // sequencer steps until its notes end; 0 = nothing pending
};

struct ArrangerState {
    enum Part { Bass = 0, Rhythm = 1, Harmony = 2, Lead = 3 };

    bool proArrangerEnabled = false;
    bool bandActive = false;  // the current style's band parts play
    int arrangerPlayMode = 0; // 0 full-band loop, 1 play with keyboard (lead silent)
    bool smartChordEnabled = false;
    int progressionIndex = 1; // chord progression loop, 0 = manual chords
    int progressionBar = 0;   // bars of the loop played, used mod 4
    // The diatonic degree (1-6) the band plays and the keyboard names.
    int chordDegree = 1;
    int degreeSemitones = 0;
    bool degreeMinor = false;
    QString activeChordText = QStringLiteral("C (I)");
    // Bass on channel index 4, rhythm chords on 3, harmony pad on 6, lead on 5.
    std::array<StyleBandPart, 4> parts{{{4, {}, 0}, {3, {}, 0}, {6, {}, 0}, {5, {}, 0}}};
};

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
