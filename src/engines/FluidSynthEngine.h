#pragma once

// General MIDI and other SoundFonts through FluidSynth: a melodic synthesizer whose
// channels carry the keyboard slots (0 main, 1 layer, 2 split) and the arranger
// parts (3-6), and a drum synthesizer whose channel 10 (index 9) plays the kit.
//
// Threads:
// - Audio side (the rendering thread: the audio thread, or whoever renders offline):
//   beginBlock/endBlock around each block, notes, controllers, bend, all-notes-off,
//   drum notes (live drum input and the beat sequencer's hits), setTuning and
//   rendering. These are the only calls that touch the synthesizers, whose own
//   API lock is off, so none of them can wait for another thread.
// - Control side (GUI thread, loader threads): prepare (only while the backends are
//   stopped), loadSoundFont, enumeratePresets, and the channel changes
//   selectProgram, selectDrumKit and postControlChange (the keyboard slots' sounds,
//   a style's kit, and its band's sounds and volumes on channels 3-6, which the
//   arranger plays). They serialise on a mutex the audio side never touches; the
//   channel changes are checked here and then queued on a fixed ring that the audio
//   side applies at the start of its next block, in the order they were made. A
//   thread that renders offline calls them between its blocks, never inside one.
// - Any thread: activeVoiceCount and controllerValue read values the audio side
//   publishes.
//
// Font hand-over. A SoundFont is read whole by a third synthesizer that never
// renders, outside every lock the audio side could meet. Adding it to the melodic or
// drum synthesizer allocates inside the library and re-picks every channel's preset,
// so it cannot run on the audio thread and must not run while the audio thread is
// inside the synthesizer. The two sides share a gate (an atomic flag): the audio
// side only tries it, once per block, and the control side takes it right after a
// block ends, applies what is queued, adds the font and restores every channel's
// program in one step, then lets go. The audio thread therefore never waits; if a
// block starts during a hand-over (tens of microseconds, once per new font), that
// block renders no SoundFont sound and keeps its events for the next block
// (blocksWithoutSynths counts such blocks).

#include "Sf2PresetInfo.h"

#include <QHash>
#include <QList>
#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

typedef struct _fluid_hashtable_t fluid_settings_t;
typedef struct _fluid_synth_t fluid_synth_t;
typedef struct _fluid_sfont_t fluid_sfont_t;

namespace tmb {

class FluidSynthEngine {
public:
    static constexpr int drumChannel = 9;
    static constexpr int channelCount = 16;
    // Channel changes the control side may queue before a block applies them.
    static constexpr std::size_t commandSlots = 1024;
    // Audio-side events one block can keep while a hand-over holds the gate.
    static constexpr std::size_t deferredSlots = 512;

    FluidSynthEngine();
    ~FluidSynthEngine();
    FluidSynthEngine(const FluidSynthEngine&) = delete;
    FluidSynthEngine& operator=(const FluidSynthEngine&) = delete;

    // --- Control side ---

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
    // A controller for a melodic channel, applied at the start of the next block.
    void postControlChange(int channel, int controller, int value);
    // Presets of a font loaded in the melodic synthesizer, in the font's order.
    QList<Sf2PresetInfo> enumeratePresets(const QString& path) const;

    // --- Audio side ---

    // Around every block the audio engine renders: the block either holds the
    // synthesizers from start to end, or (during a hand-over) renders none of them.
    void beginBlock() noexcept;
    void endBlock() noexcept;
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
    // Concert pitch of A4 (415-466 Hz) for every melodic channel; channels playing a
    // drum kit (bank 128) and the drum synthesizer keep the font's own tuning.
    void setTuning(float tuningHz) noexcept;
    // Add the melodic (drum) synthesizer's output into the buffers; blocks longer
    // than 4096 frames render nothing.
    void renderBlock(float* left, float* right, std::uint32_t frames) noexcept;
    void renderDrumBlock(float* left, float* right, std::uint32_t frames) noexcept;

    // --- Any thread ---

    // Voices sounding in both synthesizers after their last rendered blocks.
    int activeVoiceCount() const noexcept;
    // The value a melodic channel holds for a controller as last applied by the
    // audio side, -1 when there is none.
    int controllerValue(int channel, int controller) const noexcept;
    // Blocks that found a hand-over in progress and rendered no SoundFont sound.
    std::uint64_t blocksWithoutSynths() const noexcept { return m_blocksWithoutSynths.load(); }
    // Changes or events dropped because the command ring or the deferred list was full.
    std::uint64_t droppedMessages() const noexcept { return m_droppedMessages.load(); }
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
    struct LoadedFont {
        int id = -1;
        fluid_sfont_t* font = nullptr;
    };
    // One change for a synthesizer: queued by the control side, or kept by the audio
    // side while a hand-over holds the gate.
    struct Message {
        enum Kind : std::uint8_t {
            NoteOn,
            NoteOff,
            ControlChange,
            PitchBend,
            AllNotesOff,
            DrumNoteOn,
            DrumNoteOff,
            DrumControlChange,
            ProgramSelect,
            DrumKit,
        };
        Kind kind = NoteOn;
        std::int8_t channel = 0;
        std::uint8_t data1 = 0;
        std::uint8_t data2 = 0;
        std::int32_t value = 0; // bend; font id of a program or kit
        std::int16_t bank = 0;
        std::int16_t program = 0;
    };
    class AudioAccess;

    static Synth createSynth(float sampleRate, int polyphony, double gain, bool threadSafe);
    static void destroySynth(Synth& synth);
    LoadedFont loadInto(Synth& target, QHash<QString, LoadedFont>& fonts, bool listPresets,
                        const QString& path);
    void restorePrograms(fluid_synth_t* target);
    void post(const Message& message);
    void holdGateBetweenBlocks();
    void releaseGate() noexcept;

    bool tryOpenForAudio() noexcept;
    void play(const Message& message) noexcept;
    void apply(const Message& message) noexcept;
    void applyQueued() noexcept;
    void applyTuning(int channel) noexcept;
    void refreshControllers(int channel, int controller) noexcept;
    void render(fluid_synth_t* synth, std::atomic<int>& published, float* left, float* right,
                std::uint32_t frames) noexcept;

    Synth m_melodic;
    Synth m_drums;
    // Reads fonts for the other two; never renders and never sounds.
    Synth m_loader;
    float m_sampleRate = 48000.0f;

    // Control side.
    mutable std::mutex m_controlMutex;
    QHash<QString, LoadedFont> m_melodicFonts; // absolute path -> font
    QHash<QString, LoadedFont> m_drumFonts;
    QHash<QString, QList<Sf2PresetInfo>> m_presets; // fonts of the melodic synthesizer
    std::array<ChannelProgram, channelCount> m_melodicPrograms;
    ChannelProgram m_drumProgram;

    // Control side to audio side: single producer (under m_controlMutex), single
    // consumer (whoever holds the gate).
    std::array<Message, commandSlots> m_commands{};
    alignas(64) std::atomic<std::size_t> m_commandWrite{0};
    alignas(64) std::atomic<std::size_t> m_commandRead{0};

    // Whoever holds it may use the melodic and drum synthesizers.
    alignas(64) std::atomic<bool> m_gate{false};
    std::atomic<std::uint64_t> m_blocksEnded{0};
    std::atomic<std::int64_t> m_lastBlockNs{0};
    std::atomic<std::thread::id> m_renderThread{};

    // Under the gate.
    std::array<bool, channelCount> m_channelIsKit{};
    std::array<float, channelCount> m_appliedCents{};

    // Written by the audio side, applied by whoever holds the gate.
    std::atomic<float> m_tuningCents{0.0f};

    // Audio side only.
    bool m_inBlock = false;
    bool m_blockOpen = false;
    std::array<Message, deferredSlots> m_deferred{};
    std::size_t m_deferredCount = 0;
    std::vector<float> m_scratchLeft;
    std::vector<float> m_scratchRight;

    // Published by the audio side.
    std::array<std::atomic<std::int8_t>, channelCount * 128> m_controllers{};
    std::atomic<int> m_melodicVoices{0};
    std::atomic<int> m_drumVoices{0};
    std::atomic<std::uint64_t> m_blocksWithoutSynths{0};
    std::atomic<std::uint64_t> m_droppedMessages{0};
};

} // namespace tmb
