#include "SfzPianoEngine.h"

#include <algorithm>

namespace tmb {

SfzPianoEngine::SfzPianoEngine() {
    prepare(48000.0f);
}

void SfzPianoEngine::prepare(float sampleRate) {
    m_sampleRate = std::max(sampleRate, 8000.0f);
}

bool SfzPianoEngine::loadSfzFile(const QString& path, QString* error) {
    if (error) *error = QStringLiteral("Cannot open SFZ file: %1").arg(path);
    return false;
}

QString SfzPianoEngine::currentSfzPath() const {
    return {};
}
int SfzPianoEngine::loadedRegionCount() const {
    return 0;
}
void SfzPianoEngine::noteOn(int, int, float) noexcept {}
void SfzPianoEngine::noteOff(int, float) noexcept {}
void SfzPianoEngine::setSustainPedal(bool, int, float) noexcept {}
void SfzPianoEngine::setSostenutoPedal(bool) noexcept {}
void SfzPianoEngine::setPitchBend(std::int16_t) noexcept {}
void SfzPianoEngine::allNotesOff() noexcept {}
void SfzPianoEngine::renderStereo(float*, float*, std::uint32_t) noexcept {}

} // namespace tmb
