#include "BeatSequencer.h"

#include <algorithm>

namespace tmb {

void BeatSequencer::prepare(float sampleRate) {
    m_sampleRate = sampleRate;
}

void BeatSequencer::setBpm(float bpm) {
    m_bpm.store(std::clamp(bpm, 40.0f, 240.0f), std::memory_order_relaxed);
}

void BeatSequencer::processBlock(std::uint32_t, float*, float*, DrumHit) noexcept {}

} // namespace tmb
