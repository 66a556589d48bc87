#pragma once

#include "audio/PianoParameters.h"

#include <QString>

namespace tmb {

// One registration memory: a whole setup for a moment of a service, recalled with
// one touch, from the phone or by a program change.
struct RegistrationPreset {
    int slot = 0; // 0..7
    QString name;
    QString setListCategory;
    QString mainPresetId;
    QString layer2PresetId;
    QString splitPresetId;
    PianoParameters piano;
    WorkstationState zones;
    int beatStyleIndex = 0;
    float bpm = 112.0f;
};

} // namespace tmb
