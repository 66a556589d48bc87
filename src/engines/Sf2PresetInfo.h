#pragma once

#include <QString>

namespace tmb {

// One preset of a SoundFont, as the font lists it.
struct Sf2PresetInfo {
    int bank = 0;
    int program = 0;
    QString name;
};

} // namespace tmb
