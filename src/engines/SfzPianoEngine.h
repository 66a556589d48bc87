#pragma once

#include <QString>

#include <cstdint>

namespace tmb {

// Sampled piano from SFZ instruments.
// Threads: loadSfzFile runs on loader threads; note, pedal and render calls run on
// the audio thread only; currentSfzPath/loadedRegionCount are read by the GUI thread.
// Placeholder until the sampler lands: loads nothing and renders silence.
class SfzPianoEngine {
public:
    SfzPianoEngine();

    void prepare(float sampleRate);
    bool loadSfzFile(const QString& path, QString* error = nullptr);
    QString currentSfzPath() const;
    int loadedRegionCount() const;
    int activeVoiceCount() const noexcept { return 0; }
    // Audio thread: whether an instrument is installed (the dispatch falls back to the
    // SoundFont piano without one).
    bool hasInstrument() const noexcept { return false; }

    void noteOn(int note, int velocity, float tuningHz) noexcept;
    void noteOff(int note, float keyOffVolume) noexcept;
    void setSustainPedal(bool down, int controllerValue, float pedalNoiseVolume) noexcept;
    void setSostenutoPedal(bool down) noexcept;
    void setPitchBend(std::int16_t value) noexcept;
    void allNotesOff() noexcept;
    void renderStereo(float* left, float* right, std::uint32_t frames) noexcept;

    // Written by the audio engine on the audio thread.
    bool softPedal = false;
    float stringResonance = 0.30f;

private:
    float m_sampleRate = 48000.0f;
};

} // namespace tmb
