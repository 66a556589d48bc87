#include "DspEffectsChain.h"

namespace tmb {

DspEffectsChain::DspEffectsChain() {
    prepare(48000.0f, 4096);
}

void DspEffectsChain::prepare(float sampleRate, std::uint32_t) {
    m_sampleRate = sampleRate;
}
void DspEffectsChain::setEqGains(float, float, float, float, float) {}
void DspEffectsChain::setReverb(float, float, float) {}
void DspEffectsChain::setChorus(float) {}
void DspEffectsChain::setDelay(float, float, float) {}
void DspEffectsChain::setDriveAndCompressor(float, float) {}
void DspEffectsChain::setStereoWidth(float) {}
void DspEffectsChain::processStereoBlock(float*, float*, std::uint32_t, bool) noexcept {}

} // namespace tmb
