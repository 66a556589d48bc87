#pragma once

// The drum kits the workstation offers: four programs of the General MIDI font's
// drum bank, then the AVL drum kits in SoundFont form. GUI thread.

#include "storage/CatalogLocations.h"

#include <QVariantList>

namespace tmb {

// One map {"name", "path", "bank", "program"} per kit whose file exists, in the
// fixed order of the candidates. The General MIDI font is the one the SoundFont
// name "/usr/share/soundfonts/FluidR3_GM.sf2" resolves to; the AVL kits are looked
// for in `locations`' drum-kit folders, the home folder's first.
QVariantList findDrumKits(const CatalogLocations& locations);

} // namespace tmb
