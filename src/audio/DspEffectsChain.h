#pragma once

// Master effects on the mix bus: tone equaliser (brightness and lid), drive,
// chorus, ping-pong delay, reverb (larger while the damper pedal is held), stereo
// width, a fixed output lift, a compressor and a soft clipper, in that order.
//
// Threads:
// - prepare: only while nothing processes (the engine's backends are stopped); it
//   sizes every line, so it is the only function here that allocates.
// - The setters and processStereoBlock: the thread that processes. The audio engine
//   calls the setters on the audio thread at block start, from the parameter record
//   it fetched whole, so a block never sees half of a new coefficient set.
// - setEnabled: any thread.

#include "audio/BiquadState.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

namespace tmb {

class DspEffectsChain {
public:
    DspEffectsChain();

    void prepare(float sampleRate, std::uint32_t maxBlockFrames);

    void setEqGains(float lowDb, float midDb, float highDb, float brightness, float lid) noexcept;
    void setReverb(float amount, float roomSize, float damperResonance) noexcept;
    void setChorus(float amount) noexcept;
    void setDelay(float amount, float timeSeconds, float feedback) noexcept;
    void setDriveAndCompressor(float drive, float compressor) noexcept;
    void setStereoWidth(float width) noexcept;

    // Processes in place. sustainDown widens the reverb by the damper resonance.
    void processStereoBlock(float* left, float* right, std::uint32_t frames, bool sustainDown) noexcept;

    // When disabled, processStereoBlock leaves the signal untouched (offline
    // renders with the effects off). Enabled by default.
    void setEnabled(bool enabled) noexcept { m_enabled.store(enabled, std::memory_order_relaxed); }
    bool isEnabled() const noexcept { return m_enabled.load(std::memory_order_relaxed); }

    // The final stage: identical below the knee (0.96), above it a curve that
    // continues with slope 1, rises monotonically and approaches 1.0 without ever
    // reaching it.
    static float softClip(float x) noexcept;

    float sampleRate() const noexcept { return m_sampleRate; }

private:
    struct Comb {
        std::vector<float> line;
        std::size_t index = 0;
        float store = 0.0f;
        float damp1 = 0.22f;
        float damp2 = 0.78f;
        float feedback = 0.88f;
    };
    struct AllPass {
        std::vector<float> line;
        std::size_t index = 0;
        float feedback = 0.5f;
    };
    static constexpr int combCount = 8;
    static constexpr int allPassCount = 4;

    void applyReverbSettings() noexcept;
    void runReverb(float& left, float& right, float mix) noexcept;

    float m_sampleRate = 48000.0f;

    BiquadState m_lowShelf;
    BiquadState m_midPeak;
    BiquadState m_highShelf;
    BiquadState m_lowPass;

    std::vector<float> m_chorusLeft;
    std::vector<float> m_chorusRight;
    std::uint64_t m_chorusIndex = 0;
    float m_chorusPhase = 0.0f;
    float m_chorusAmount = 0.0f;

    std::vector<float> m_delayLeft;
    std::vector<float> m_delayRight;
    std::uint64_t m_delayIndex = 0;
    float m_delayAmount = 0.0f;
    float m_delayTime = 0.35f;
    float m_delayFeedback = 0.35f;

    std::array<Comb, combCount> m_combsLeft;
    std::array<Comb, combCount> m_combsRight;
    std::array<AllPass, allPassCount> m_allPassLeft;
    std::array<AllPass, allPassCount> m_allPassRight;

    float m_reverbAmount = 0.28f;
    float m_roomSize = 0.72f;
    float m_damperResonance = 0.35f;
    float m_driveAmount = 0.0f;
    float m_compressorAmount = 0.2f;
    float m_compressorEnvelope = 0.0f;
    float m_stereoWidth = 1.0f;

    std::atomic<bool> m_enabled{true};
};

} // namespace tmb
