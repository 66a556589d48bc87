#pragma once

#include "storage/InstrumentPreset.h"

#include <QString>

#include <QtGlobal>
#include <vector>

namespace tmb {

// The instruments every catalogue starts from: the General MIDI SoundFont
// programs (all pointing at one GM font file) and the built-in synth patches.

// One entry per GM program of the table, in catalogue order, each playing
// `fontPath` (whose size is `fontSize`) at bank 0.
std::vector<InstrumentPreset> builtinSoundFontPresets(const QString& fontPath, qint64 fontSize);

// One entry per built-in synth patch, in catalogue order.
std::vector<InstrumentPreset> builtinSynthPresets();

// Ids that earlier versions of the program stored (registrations, projects) map
// to the preset that replaced them; any other id comes back unchanged.
QString translateLegacyPresetId(const QString& id);

} // namespace tmb
