#pragma once

#include "audio/AudioEngine.h"

namespace tmb::test {

// Voices sounding in every engine that counts its own (the published
// activeVoiceCount counts only the SFZ piano). Call it on the rendering thread.
inline int soundingVoices(const AudioEngine& engine) {
    int voices = engine.sfzPiano.activeVoiceCount() + engine.fluidSynth.activeVoiceCount();
    for (const SynthEngine& synth : engine.synths)
        voices += synth.activeVoiceCount();
    return voices;
}

} // namespace tmb::test
