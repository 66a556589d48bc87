#include "FluidSynthEngine.h"

#include <algorithm>

namespace tmb {

FluidSynthEngine::FluidSynthEngine() {
    prepare(48000.0f);
}

void FluidSynthEngine::prepare(float sampleRate) {
    m_sampleRate = std::max(sampleRate, 8000.0f);
}
int FluidSynthEngine::loadSoundFont(const QString&) {
    return -1;
}
bool FluidSynthEngine::selectProgram(int, const QString&, int, int) {
    return false;
}
bool FluidSynthEngine::selectDrumKit(const QString&, int, int) {
    return false;
}
QList<Sf2PresetInfo> FluidSynthEngine::enumeratePresets(const QString&) const {
    return {};
}
void FluidSynthEngine::noteOn(int, int, int) noexcept {}
void FluidSynthEngine::noteOff(int, int) noexcept {}
void FluidSynthEngine::controlChange(int, int, int) noexcept {}
void FluidSynthEngine::pitchBend(int, int) noexcept {}
void FluidSynthEngine::allNotesOff(int) noexcept {}
void FluidSynthEngine::drumNoteOn(int, int) noexcept {}
void FluidSynthEngine::drumNoteOff(int) noexcept {}
void FluidSynthEngine::renderBlock(float*, float*, std::uint32_t) noexcept {}
void FluidSynthEngine::renderDrumBlock(float*, float*, std::uint32_t) noexcept {}

} // namespace tmb
