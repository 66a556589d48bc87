#include "Lv2HostEngine.h"

#include <algorithm>

namespace tmb {

void Lv2HostEngine::prepare(float sampleRate, std::uint32_t maxBlockFrames) {
    m_sampleRate = std::max(sampleRate, 8000.0f);
    m_maxBlockFrames = std::max<std::uint32_t>(maxBlockFrames, 256);
}

QVariantList Lv2HostEngine::scanPlugins() {
    return {};
}
QVariantList Lv2HostEngine::pluginsAsVariantList() const {
    return {};
}

bool Lv2HostEngine::loadPlugin(const QString& uri, QString* error) {
    if (error) *error = QStringLiteral("LV2 plug-in not found: %1").arg(uri);
    return false;
}

void Lv2HostEngine::unloadPlugin() {}
void Lv2HostEngine::sendMidiNoteOn(std::uint8_t, std::uint8_t, std::uint8_t) noexcept {}
void Lv2HostEngine::sendMidiNoteOff(std::uint8_t, std::uint8_t) noexcept {}
void Lv2HostEngine::processAudio(float*, float*, std::uint32_t) noexcept {}
float Lv2HostEngine::busPeakLevel(int) const noexcept {
    return 0.0f;
}

} // namespace tmb
