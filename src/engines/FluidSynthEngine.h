#pragma once

#include "Sf2PresetInfo.h"

#include <QList>
#include <QString>

#include <cstdint>

namespace tmb {

// General MIDI SoundFonts: a melodic synthesizer and a drum synthesizer.
// Threads: fonts and programs are chosen on the GUI thread; note, controller and
// render calls come from the audio thread.
// Placeholder until the SoundFont engine lands: holds no synthesizer, so every
// operation does nothing and rendering adds silence.
class FluidSynthEngine {
public:
    FluidSynthEngine();

    void prepare(float sampleRate);
    int loadSoundFont(const QString& path);
    bool selectProgram(int channel, const QString& path, int bank, int program);
    bool selectDrumKit(const QString& path, int bank, int program);
    QList<Sf2PresetInfo> enumeratePresets(const QString& path) const;

    void noteOn(int channel, int key, int velocity) noexcept;
    void noteOff(int channel, int key) noexcept;
    void controlChange(int channel, int controller, int value) noexcept;
    void pitchBend(int channel, int value) noexcept;
    void allNotesOff(int channel) noexcept;
    void drumNoteOn(int key, int velocity) noexcept;
    void drumNoteOff(int key) noexcept;
    void renderBlock(float* left, float* right, std::uint32_t frames) noexcept;
    void renderDrumBlock(float* left, float* right, std::uint32_t frames) noexcept;

private:
    float m_sampleRate = 48000.0f;
};

} // namespace tmb
