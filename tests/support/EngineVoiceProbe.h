#pragma once

#include "audio/AudioEngine.h"

namespace tmb::test {

// Voices sounding in every engine right now, counted on the rendering thread (the
// published activeVoiceCount is as of the end of the last block).
inline int soundingVoices(const AudioEngine& engine) {
    int voices = engine.sfzPiano.activeVoiceCount() + engine.fluidSynth.activeVoiceCount();
    for (const SynthEngine& synth : engine.synths)
        voices += synth.activeVoiceCount();
    return voices;
}

} // namespace tmb::test
