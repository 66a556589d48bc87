#pragma once

#include <cstdint>

namespace tmb {

// Built-in drawbar synthesizer; the audio engine owns one per keyboard slot.
// Threads: everything runs on the audio thread except construction and prepare.
// Placeholder until the synth lands: renders silence.
class SynthEngine {
public:
    SynthEngine() = default;

    void prepare(float sampleRate);
    void setDrawbar(int index, float level);
    void noteOn(int note, int velocity, float tuningHz) noexcept;
    void noteOff(int note) noexcept;
    void setSustainPedal(bool down) noexcept;
    void setPitchBend(std::int16_t value) noexcept;
    void allNotesOff() noexcept;
    void renderAdding(float* left, float* right, std::uint32_t frames) noexcept;

    // Written by the audio engine on the audio thread.
    float modWheel = 0.0f;
    float aftertouch = 0.0f;

private:
    float m_sampleRate = 48000.0f;
};

} // namespace tmb
