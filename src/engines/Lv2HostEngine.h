#pragma once

#include <QString>
#include <QVariantList>

#include <cstdint>

namespace tmb {

// Hosts one LV2 instrument plug-in on the LV2 bus.
// Threads: scanning and loading on the GUI thread; sendMidi* from any thread;
// processAudio on the audio thread.
// Placeholder until the LV2 host lands: finds no plug-ins and renders silence.
class Lv2HostEngine {
public:
    Lv2HostEngine() = default;

    void prepare(float sampleRate, std::uint32_t maxBlockFrames);
    QVariantList scanPlugins();
    QVariantList pluginsAsVariantList() const;
    bool loadPlugin(const QString& uri, QString* error = nullptr);
    void unloadPlugin();
    bool isPluginActive() const noexcept { return false; }
    void sendMidiNoteOn(std::uint8_t channel, std::uint8_t note, std::uint8_t velocity) noexcept;
    void sendMidiNoteOff(std::uint8_t channel, std::uint8_t note) noexcept;
    void processAudio(float* left, float* right, std::uint32_t frames) noexcept;
    float busPeakLevel(int index) const noexcept;

private:
    float m_sampleRate = 48000.0f;
    std::uint32_t m_maxBlockFrames = 4096;
};

} // namespace tmb
