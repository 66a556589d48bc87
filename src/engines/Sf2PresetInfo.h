#pragma once

#include <QString>

namespace tmb {

// One preset of a loaded SoundFont, as the font lists it.
struct Sf2PresetInfo {
    QString path; // absolute path of the SoundFont file
    int sfontId = -1;
    int bank = 0;
    int program = 0;
    QString name;
};

} // namespace tmb
