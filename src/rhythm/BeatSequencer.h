#pragma once

#include "audio/FunctionRef.h"

#include <atomic>
#include <cstdint>

namespace tmb {

// Drum step sequencer and the tempo everything else follows.
// Threads: settings from the GUI thread; processBlock on the audio thread.
// Placeholder until the sequencer lands: keeps a tempo (120 BPM) and never plays.
class BeatSequencer {
public:
    using DrumHit = FunctionRef<void(int note, int velocity, bool toPlugin)>;

    BeatSequencer() = default;

    void prepare(float sampleRate);
    void setBpm(float bpm);
    float bpm() const noexcept { return m_bpm.load(std::memory_order_relaxed); }
    bool isPlaying() const noexcept { return m_playing.load(std::memory_order_relaxed); }
    int currentStep() const noexcept { return m_currentStep.load(std::memory_order_relaxed); }
    void processBlock(std::uint32_t frames, float* outLeft, float* outRight, DrumHit onHit) noexcept;

private:
    float m_sampleRate = 48000.0f;
    std::atomic<float> m_bpm{120.0f};
    std::atomic<bool> m_playing{false};
    std::atomic<int> m_currentStep{0};
};

} // namespace tmb
