#pragma once

// One playable zone of an SFZ instrument. Written once by the loader; read-only
// after its bank is installed (the audio thread reads it without a lock).

#include "engines/SfzSampleData.h"

#include <cstdint>
#include <memory>

namespace tmb {

// What starts a region's voice.
enum class SfzTrigger : std::uint8_t { Attack = 0, Release = 1, Pedal = 2 };

struct SfzRegion {
    std::shared_ptr<const SfzSampleData> sample;
    std::int32_t lokey = 0;
    std::int32_t hikey = 127;
    std::int32_t lovel = 1;
    std::int32_t hivel = 127;
    std::int32_t pitchKeycenter = 60;
    float pitchKeytrack = 100.0f; // cents per key
    float tune = 0.0f;            // cents
    float volume = 0.0f;          // dB
    float ampVeltrack = 73.0f;    // percent
    float ampegRelease = 1.0f;    // seconds
    float rtDecay = 6.0f;         // dB per second of key hold (release samples)
    float lorand = 0.0f;
    float hirand = 1.0f;
    std::int32_t onLocc64 = -1; // sustain-controller window of pedal samples
    std::int32_t onHicc64 = -1;
    SfzTrigger trigger = SfzTrigger::Attack;
};

} // namespace tmb
