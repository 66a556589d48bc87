#pragma once

// How a catalogue preset reaches a keyboard slot (0 main, 1 layer, 2 split) of the
// audio engine; shared by the controller and tembora-render. GUI thread (or the
// thread that owns an engine rendering offline).

#include "audio/AudioEngine.h"
#include "storage/InstrumentPreset.h"

#include <QString>

#include <optional>

namespace tmb {

class ProjectManager;

// The engine a preset names: SFZ 0, SoundFont 1, the built-in synth for the rest.
SoundEngineType presetEngineType(const InstrumentPreset& preset);

// The preset a slot's identifier names. Uses the catalogue's lookup, which
// understands identifiers of earlier versions and stands the General MIDI grand in
// for the missing sampled grand, but not its last resort (the first preset for an
// identifier it does not know): an unknown identifier finds nothing.
std::optional<InstrumentPreset> findSlotPreset(const ProjectManager& catalogue, const QString& presetId);

// Sets the slot's engine and gives it the preset's SoundFont program or synth
// voice model. Loading a sampled piano is the caller's part (only the main slot
// plays them). False when a SoundFont program could not be selected (the channel
// keeps its sound).
bool applySlotSound(AudioEngine& engine, int slot, const InstrumentPreset& preset);

} // namespace tmb
