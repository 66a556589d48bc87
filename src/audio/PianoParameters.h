#pragma once

#include <cstdint>

namespace tmb {

// Sound, pedal and touch settings. The controller owns the master copy (two of
// them, for A/B comparison) and pushes it whole to the audio engine.
struct PianoParameters {
    float brightness = 0.55f;
    float damperResonance = 0.35f;
    float stringResonance = 0.30f;
    float keyOffVolume = 0.50f;
    float pedalNoiseVolume = 0.40f;
    float lidPosition = 1.0f;
    float reverbAmount = 0.28f;
    float reverbRoomSize = 0.72f;
    float chorusAmount = 0.0f;
    float delayAmount = 0.0f;
    float delayTime = 0.35f;
    float driveAmount = 0.0f;
    float compressorAmount = 0.20f;
    float stereoWidth = 1.0f;
    float tuningHz = 440.0f;
    std::int32_t transposeSemitones = 0;
    std::int32_t octaveShift = 0;
    std::int32_t touchCurve = 1; // 0 soft, 1 medium, 2 hard, 3 fixed
    bool sustainPedal = false;
    bool sostenutoPedal = false;
    bool softPedal = false;
    float continuousPedal = 0.0f;
    float expressionPedal = 1.0f;
    bool autoPedalEnabled = false;
    bool invertPedalPolarity = false;
};

// Zone, arpeggiator and chord-memory settings; the engine only reads it.
struct WorkstationState {
    bool layer2Enabled = false;
    bool splitEnabled = false;
    std::int32_t splitKey = 54;
    bool velocitySwitchEnabled = false;
    std::int32_t velocityThreshold = 96;
    bool arpeggiatorEnabled = false;
    std::int32_t arpMode = 0;
    std::int32_t arpOctaves = 1;
    bool chordMemoryEnabled = false;
    std::int32_t layer2OctaveOffset = 0;
    std::int32_t splitOctaveOffset = 0;
};

} // namespace tmb
