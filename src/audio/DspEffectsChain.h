#pragma once

#include <cstdint>

namespace tmb {

// Master effects on the mix bus.
// Threads: setters on the GUI thread (through the engine's parameter push);
// processStereoBlock on the audio thread.
// Placeholder until the effects land: passes the signal through unchanged.
class DspEffectsChain {
public:
    DspEffectsChain();

    void prepare(float sampleRate, std::uint32_t maxBlockFrames);
    void setEqGains(float lowDb, float midDb, float highDb, float brightness, float lid);
    void setReverb(float amount, float roomSize, float damperResonance);
    void setChorus(float amount);
    void setDelay(float amount, float timeSeconds, float feedback);
    void setDriveAndCompressor(float drive, float compressor);
    void setStereoWidth(float width);
    void processStereoBlock(float* left, float* right, std::uint32_t frames, bool sustainDown) noexcept;

private:
    float m_sampleRate = 48000.0f;
};

} // namespace tmb
