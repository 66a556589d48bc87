#pragma once

// General MIDI and other SoundFonts through FluidSynth: a melodic synthesizer whose
// channels carry the keyboard slots (0 main, 1 layer, 2 split) and the arranger
// parts (3-6), and a drum synthesizer whose channel 10 (index 9) plays the kit.
//
// Threads:
// - Control side (GUI thread, loader threads): prepare (only while the backends are
//   stopped), loadSoundFont, selectProgram, selectDrumKit, enumeratePresets. They
//   serialise on a mutex the audio thread never touches.
// - Audio thread: notes, controllers, bend, all-notes-off and rendering. The arranger
//   may also send controllers from the GUI thread; the library's own API lock
//   serialises those short calls.
//
// No audio block waits on a load: a SoundFont is read whole by a third synthesizer
// that never renders, then handed to the melodic or drum synthesizer, which holds
// the library's lock only for the moment of the hand-over. Samples are read at load
// time rather than when a program is chosen, so selecting a program reads no file
// either. Nothing sounding is cut by a load or a program change on any channel.

#include "Sf2PresetInfo.h"

#include <QHash>
#include <QList>
#include <QString>

#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

typedef struct _fluid_hashtable_t fluid_settings_t;
typedef struct _fluid_synth_t fluid_synth_t;

namespace tmb {

class FluidSynthEngine {
public:
    static constexpr int drumChannel = 9;
    static constexpr int channelCount = 16;

    FluidSynthEngine();
    ~FluidSynthEngine();
    FluidSynthEngine(const FluidSynthEngine&) = delete;
    FluidSynthEngine& operator=(const FluidSynthEngine&) = delete;

    // Creates the synthesizers on the first call; later calls change their rate.
    void prepare(float sampleRate);

    // Melodic synthesizer. Returns the font id, or -1 when the file is missing or
    // not a SoundFont. A file is loaded once and stays loaded.
    int loadSoundFont(const QString& path);
    // Loads the font if needed and selects (bank, program) on the channel; false
    // (and the channel keeps its sound) when the file or the preset is missing.
    bool selectProgram(int channel, const QString& path, int bank, int program);
    // Drum synthesizer, channel 10: bank 128 makes it a drum channel, any other
    // bank a melodic one.
    bool selectDrumKit(const QString& path, int bank, int program);
    // Presets of a font loaded in the melodic synthesizer, in the font's order.
    QList<Sf2PresetInfo> enumeratePresets(const QString& path) const;

    // Audio thread.
    void noteOn(int channel, int key, int velocity) noexcept;
    void noteOff(int channel, int key) noexcept;
    void controlChange(int channel, int controller, int value) noexcept;
    // value -8192..8191, centre 0.
    void pitchBend(int channel, int value) noexcept;
    // Lifts the sustain controller and releases the notes of one channel, or of all
    // sixteen for a negative channel.
    void allNotesOff(int channel) noexcept;
    void drumNoteOn(int key, int velocity) noexcept;
    void drumNoteOff(int key) noexcept;
    void drumControlChange(int controller, int value) noexcept;
    // Add the melodic (drum) synthesizer's output into the buffers; blocks longer
    // than 4096 frames render nothing.
    void renderBlock(float* left, float* right, std::uint32_t frames) noexcept;
    void renderDrumBlock(float* left, float* right, std::uint32_t frames) noexcept;

    // Voices sounding in both synthesizers (any thread; for tests and meters).
    int activeVoiceCount() const noexcept;
    // The value a melodic channel holds for a controller, -1 when there is none
    // (any thread; for tests and the mixer display).
    int controllerValue(int channel, int controller) const noexcept;
    float sampleRate() const noexcept { return m_sampleRate; }

private:
    struct Synth {
        fluid_settings_t* settings = nullptr;
        fluid_synth_t* synth = nullptr;
    };
    struct ChannelProgram {
        int fontId = -1; // -1: never chosen here
        int bank = 0;
        int program = 0;
    };

    static Synth createSynth(float sampleRate, int polyphony, double gain);
    static void destroySynth(Synth& synth);
    int loadInto(fluid_synth_t* target, QHash<QString, int>& fonts, bool listPresets, const QString& path);
    void restorePrograms(fluid_synth_t* target);
    static void render(fluid_synth_t* synth, float* scratchLeft, float* scratchRight, float* left,
                       float* right, std::uint32_t frames) noexcept;

    Synth m_melodic;
    Synth m_drums;
    // Reads fonts for the other two; never renders and never sounds.
    Synth m_loader;
    float m_sampleRate = 48000.0f;

    mutable std::mutex m_controlMutex;
    QHash<QString, int> m_melodicFonts; // absolute path -> font id
    QHash<QString, int> m_drumFonts;
    QHash<QString, QList<Sf2PresetInfo>> m_presets; // fonts of the melodic synthesizer
    std::array<ChannelProgram, channelCount> m_melodicPrograms;
    ChannelProgram m_drumProgram;

    std::vector<float> m_scratchLeft;
    std::vector<float> m_scratchRight;
};

} // namespace tmb
