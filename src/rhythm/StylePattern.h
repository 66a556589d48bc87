#pragma once

// One accompaniment style: identity, tempo and meter, the General MIDI sounds of
// its band, eight drum lanes with a velocity grid per section, and the imported
// accompaniment notes the arranger plays. Plain value, copied freely; GUI thread.

#include <QString>

#include <array>
#include <cstdint>
#include <vector>

namespace tmb {

enum class SongSection : int {
    Intro = 0,
    VerseA = 1,
    VerseB = 2,
    Chorus = 3,
    Bridge = 4,
    Fill = 5,
    Ending = 6
};
inline constexpr int songSectionCount = 7;
inline constexpr int drumLaneCount = 8;
inline constexpr int maxStepsPerBar = 16;

// Accompaniment notes of one section step. A note slot holding -128 (the byte 0x80)
// is empty; a bass pitch class of 128 means no bass note.
struct StyleArrangerStep {
    static constexpr std::int8_t noNote = -128;
    static constexpr std::uint8_t noBass = 128;

    std::uint8_t bassPitchClass = noBass; // 0-11
    std::uint8_t bassVelocity = 0;
    std::uint8_t bassLength = 2;                                            // steps
    std::array<std::int8_t, 4> chord1Notes{noNote, noNote, noNote, noNote}; // offsets from note 60
    std::uint8_t chord1Count = 0;
    std::uint8_t chord1Velocity = 0;
    std::uint8_t chord1Length = 2;
    std::array<std::int8_t, 4> chord2Notes{noNote, noNote, noNote, noNote}; // offsets from note 60
    std::uint8_t chord2Count = 0;
    std::uint8_t chord2Velocity = 0;
    std::uint8_t chord2Length = 2;
    std::array<std::int8_t, 3> padNotes{noNote, noNote, noNote}; // offsets from note 72
    std::uint8_t padCount = 0;
    std::uint8_t padVelocity = 0;
    std::uint8_t padLength = 2;
};

using DrumLaneRow = std::array<std::uint8_t, maxStepsPerBar>;
using SectionGrid = std::array<DrumLaneRow, drumLaneCount>;

struct StylePattern {
    QString id;
    QString name;
    QString genre;
    QString subDescription;
    QString mainPresetId = QStringLiteral("gm_seben_guitar");
    QString layerPresetId = QStringLiteral("gm_brass_section");
    QString splitPresetId = QStringLiteral("gm_finger_bass");
    int defaultProgIdx = 1;
    int arrangerArchetype = 0;
    float bpm = 110.0f;
    int beatsPerBar = 4;  // 4, 3 or 6
    int stepsPerBar = 16; // 16, or 12 in 3/4 and 6/8
    int drumKitProgram = 0;
    int rhythmGmProg = 27;
    int bassGmProg = 33;
    int leadGmProg = 61;
    int harmonyGmProg = 16;
    bool isCustomSty = false;
    bool hasStyleParts = false;
    QString styFilePath;
    std::array<std::array<StyleArrangerStep, maxStepsPerBar>, songSectionCount> arrangerSteps{};
    std::array<int, drumLaneCount> laneNotes{36, 38, 37, 42, 46, 47, 51, 70};
    std::array<SectionGrid, songSectionCount> velocityGrid{}; // 0 silent, 1-127

    std::uint8_t velocity(SongSection section, int lane, int step) const {
        return velocityGrid[static_cast<std::size_t>(section)][static_cast<std::size_t>(lane)]
                           [static_cast<std::size_t>(step)];
    }
};

// The 35 built-in styles, in catalogue order, their sections derived from each
// style's base pattern.
std::vector<StylePattern> builtinStyles();

} // namespace tmb
