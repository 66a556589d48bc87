#pragma once

// The church presets: for each congregation the sounds of the three keyboard
// slots, the zones, tone and room, and the style and tempo it sings to, with the
// catalogue category its musicians start from. Fixed table; any thread.

#include <QVariantList>

namespace tmb {

struct ChurchDenomination {
    const char* id;
    const char* name;
    const char* shortLabel;
    const char* summary;
    const char* mainPresetId;
    const char* layerPresetId;
    const char* splitPresetId;
    bool layerOn;
    bool splitOn;
    float brightness;
    float reverbAmount;
    float chorusAmount;
    int styleIndex;
    float tempo;
    const char* defaultCategory; // "ALL" or a catalogue category
};

inline constexpr int churchDenominationCount = 10;

// The row at `index` clamped to 0..9.
const ChurchDenomination& churchDenomination(int index);
// One map per row: index, id, name, shortLabel, summary, defaultCategory.
QVariantList churchDenominationsAsVariantList();

} // namespace tmb
