#pragma once

// Built-in 32-voice synthesizer that needs no sample files. The audio engine owns one
// per keyboard slot and adds its output to that slot's bus. Eight voice models: a slow
// saw pad (0), an FM electric piano (1), a nine-drawbar organ with rotary motion (2),
// two additive models (3, and 7 with a bell partial) and saw stacks that differ only in
// their envelopes (4, 5, 6, and every number from 8 up).
//
// Threads:
// - Audio thread: noteOn, noteOff, setSustainPedal, setPitchBend, allNotesOff,
//   renderAdding, the probes activeVoiceCount/voicesOnNote, and the public fields
//   modWheel and aftertouch (written by the event dispatch between blocks).
// - Any thread: setVoiceModel/voiceModel, one atomic word read at the start of a block;
//   publishedVoiceCount, written at the end of each block.
// - While the backends are stopped (or on the thread that renders offline): construction,
//   prepare, setDrawbar, setReferenceSines.

#include "audio/RealtimeConfig.h"

#include <array>
#include <atomic>
#include <cstdint>

namespace tmb {

struct SynthVoice {
    enum Stage : std::uint8_t { Idle, Attack, Decay, Sustain, Release };

    bool active = false;
    bool sustained = false; // released while the pedal was down
    std::uint32_t note = 60;
    float velocityGain = 0.8f;
    float frequency = 440.0f;
    // Phases are 32-bit fractions of a cycle, so wrapping is exact and integer multiples
    // of a phase (harmonics) stay continuous.
    std::uint32_t phase1 = 0;    // fundamental
    std::uint32_t phase2 = 0;    // fundamental detuned up (x 1.0045)
    std::uint32_t phase3 = 0;    // fundamental detuned down (x 0.9955)
    std::uint32_t subPhase = 0;  // half the fundamental: the sub-octave, and the organ's partials
    std::uint32_t bellPhase = 0; // 6.2 x the fundamental (model 7)
    float envelopeLevel = 0.0f;
    Stage stage = Idle;
    std::array<float, 4> filter{}; // ladder states: left a, b; right a, b
    std::uint64_t age = 0;
};

class SynthEngine {
public:
    static constexpr int voiceCount = 32;
    static constexpr int drawbarCount = 9;

    SynthEngine() = default;

    void prepare(float sampleRate);
    // Index 0-8 (partials 0.5, 1.5, 1, 2, 3, 4, 5, 6, 8 of the fundamental); level 0..1.
    void setDrawbar(int index, float level) noexcept;
    // Patch number from a preset; negative numbers become 0.
    void setVoiceModel(int model) noexcept;
    std::uint32_t voiceModel() const noexcept { return m_voiceModel.load(std::memory_order_relaxed); }
    // Renders with the C library's sin() in double precision instead of the sine table:
    // slow, kept to measure the table's error against the exact waveforms.
    void setReferenceSines(bool exact) { m_referenceSines = exact; }

    void noteOn(int note, int velocity, float tuningHz) noexcept;
    void noteOff(int note) noexcept;
    void setSustainPedal(bool down) noexcept;
    void setPitchBend(std::int16_t value) noexcept;
    // Pedal up, keys forgotten, every voice fades out with its release.
    void allNotesOff() noexcept;
    // Adds the synth's output to both buffers; any number of frames.
    void renderAdding(float* left, float* right, std::uint32_t frames) noexcept;

    int activeVoiceCount() const noexcept;
    int voicesOnNote(int note) const noexcept;
    // Any thread: the voices that sounded at the end of the last rendered block.
    int publishedVoiceCount() const noexcept { return m_publishedVoices.load(std::memory_order_relaxed); }

    // Written by the audio engine on the audio thread, 0..1.
    float modWheel = 0.0f;
    float aftertouch = 0.0f;

private:
    struct BlockSetup;

    void releaseVoice(SynthVoice& voice) noexcept;
    void renderChunk(float* left, float* right, std::uint32_t frames) noexcept;
    template <bool Exact>
    void renderVoice(SynthVoice& voice, const BlockSetup& setup, std::uint32_t frames) noexcept;
    template <bool Exact, int Waveform>
    void renderVoiceAs(SynthVoice& voice, const BlockSetup& setup, std::uint32_t frames) noexcept;

    float m_sampleRate = 48000.0f;
    std::atomic<std::uint32_t> m_voiceModel{0};
    std::atomic<int> m_publishedVoices{0};
    float m_cutoff = 0.65f;
    float m_resonance = 0.2f;
    float m_attackTime = 0.02f;  // models 8 and above
    float m_releaseTime = 0.45f; // models 8 and above
    float m_pitchBendSemitones = 0.0f;
    bool m_sustainDown = false;
    float m_lfoPhase = 0.0f; // radians
    std::uint64_t m_voiceCounter = 0;
    std::array<float, drawbarCount> m_drawbars{0.85f, 0.45f, 0.9f, 0.5f, 0.3f, 0.4f, 0.2f, 0.15f, 0.25f};
    std::array<SynthVoice, voiceCount> m_voices{};
    std::array<bool, 128> m_keyDown{};
    bool m_referenceSines = false;

    // DC blocker on the summed output (input and output of the last sample, per side).
    std::array<float, 2> m_dcIn{};
    std::array<float, 2> m_dcOut{};

    // Per-chunk scratch, sized for the largest block.
    std::array<float, config::maxBlockFrames> m_vibrato{};    // phase-increment factor
    std::array<float, config::maxBlockFrames> m_rotaryLeft{}; // organ's left/right motion
    std::array<float, config::maxBlockFrames> m_rotaryRight{};
    std::array<float, config::maxBlockFrames> m_mixLeft{};
    std::array<float, config::maxBlockFrames> m_mixRight{};
};

} // namespace tmb
