#include "SynthEngine.h"

#include <algorithm>

namespace tmb {

void SynthEngine::prepare(float sampleRate) {
    m_sampleRate = std::max(sampleRate, 8000.0f);
}
void SynthEngine::setDrawbar(int, float) {}
void SynthEngine::noteOn(int, int, float) noexcept {}
void SynthEngine::noteOff(int) noexcept {}
void SynthEngine::setSustainPedal(bool) noexcept {}
void SynthEngine::setPitchBend(std::int16_t) noexcept {}
void SynthEngine::allNotesOff() noexcept {}
void SynthEngine::renderAdding(float*, float*, std::uint32_t) noexcept {}

} // namespace tmb
