#pragma once

// How a style's sounds reach the SoundFont engine: its drum kit on the drum
// synthesizer and its band's programs, pans, effect sends and volumes on channels
// 3-6; shared by the controller and tembora-render. GUI thread (or the thread that
// owns an engine rendering offline): the changes are queued for the next block.

#include "engines/FluidSynthEngine.h"
#include "rhythm/StylePattern.h"

#include <QString>

#include <array>

namespace tmb {

// Controller 7 values of the band channels 3 (rhythm), 4 (bass), 5 (lead), 6 (harmony).
using StyleBandLevels = std::array<int, 4>;

// Selects everything from the SoundFont `fontPath`. False when its drum kit could
// not be selected (the band is programmed all the same).
bool applyStyleSounds(FluidSynthEngine& synth, const StylePattern& style, const QString& fontPath,
                      const StyleBandLevels& levels);

} // namespace tmb
