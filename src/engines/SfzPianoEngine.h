#pragma once

// Sampled piano from SFZ instruments: velocity layers, random round-robin, release
// and pedal-noise samples, key-dependent decay, a velocity-dependent tone filter,
// stereo key placement and six-string sympathetic resonance, 128 voices.
//
// Threads:
// - Loader threads (any thread except the audio thread): loadSfzFile. Reading and
//   mapping happen without a lock; the install takes m_installMutex, which only
//   non-audio threads ever take, so installs from several loaders are serialised.
// - GUI thread: currentSfzPath, loadedRegionCount, retiredBankCount (under
//   m_installMutex) and activeVoiceCount (an atomic).
// - Audio thread: note, pedal, bend and render calls, and softPedal/stringResonance.
//   It reads the active bank through an atomic pointer, announcing the bank it is
//   using (m_bankInUse) so a concurrent install cannot free it underneath.
// - Reclaimer thread (started with the first replaced bank): frees replaced banks
//   once no voice plays them. The audio thread never frees or unmaps anything; when
//   the last voice of a replaced bank ends it only wakes the reclaimer.
// - prepare runs while the audio thread is stopped.

#include "audio/RealtimeConfig.h"
#include "engines/SfzBank.h"

#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <semaphore>
#include <thread>
#include <vector>

namespace tmb {

enum class SfzVoiceKind : std::uint8_t { Attack = 0, Release = 1, Pedal = 2 };

// One sounding sample (audio thread only).
struct SfzVoice {
    bool active = false;
    bool released = false;      // key released (release phase)
    bool sustained = false;     // key released while the sustain pedal was down
    bool sostenutoHeld = false; // caught by the sostenuto pedal
    std::int32_t note = -1;     // -1 for pedal samples
    std::int32_t velocity = 0;  // after the soft pedal
    SfzVoiceKind kind = SfzVoiceKind::Attack;
    const SfzSampleData* sampleData = nullptr;
    SfzBank* bank = nullptr; // the bank whose voiceCount this voice holds
    double position = 0.0;   // read position in frames
    double increment = 0.0;  // frames per output sample
    float gain = 0.0f;
    float level = 1.0f;
    float panL = 1.0f;
    float panR = 1.0f;
    float toneCoeff = 1.0f;
    float toneStateL = 0.0f;
    float toneStateR = 0.0f;
    float holdDecay = 1.0f;
    float releaseDecay = 1.0f;
    std::uint64_t age = 0;
    std::uint64_t framesPlayed = 0;
};

class SfzPianoEngine {
public:
    SfzPianoEngine();
    ~SfzPianoEngine();
    SfzPianoEngine(const SfzPianoEngine&) = delete;
    SfzPianoEngine& operator=(const SfzPianoEngine&) = delete;

    void prepare(float sampleRate);

    // Loads and installs an instrument; on failure the previous one stays and
    // *error (when given) holds the message. Any thread except the audio thread.
    bool loadSfzFile(const QString& path, QString* error = nullptr);
    // The second half of loadSfzFile, for loaders that read a bank with
    // SfzBank::load and may still drop it: makes `bank` the playing instrument.
    // Any thread except the audio thread.
    void install(std::shared_ptr<SfzBank> bank);
    QString currentSfzPath() const;
    int loadedRegionCount() const;
    // Replaced instruments still held by sounding voices.
    int retiredBankCount() const;
    int activeVoiceCount() const noexcept { return static_cast<int>(m_lastActiveVoiceCount.load()); }
    // Audio thread: whether an instrument is installed (the dispatch falls back to the
    // SoundFont piano without one). Instruments are only ever replaced, never removed.
    bool hasInstrument() const noexcept { return m_activeBank.load() != nullptr; }

    // Audio thread.
    void noteOn(int note, int velocity, float tuningHz) noexcept;
    void noteOff(int note, float keyOffVolume) noexcept;
    void setSustainPedal(bool down, int controllerValue, float pedalNoiseVolume) noexcept;
    void setSostenutoPedal(bool down) noexcept;
    void setPitchBend(std::int16_t value) noexcept;
    void allNotesOff() noexcept;
    // Adds the piano into both buffers.
    void renderStereo(float* left, float* right, std::uint32_t frames) noexcept;

    // Written by the audio engine on the audio thread.
    bool softPedal = false;
    float stringResonance = 0.30f;

private:
    struct Resonator {
        std::vector<float> line;
        std::size_t index = 0;
        float state = 0.0f;
    };
    class BankUse;

    SfzBank* enterBank() noexcept;
    void leaveBank() noexcept;
    float nextRandom() noexcept;
    SfzVoice& allocateVoice() noexcept;
    void endVoice(SfzVoice& voice) noexcept;
    void startVoice(SfzVoice& voice, SfzBank* bank, const SfzRegion& region, SfzVoiceKind kind) noexcept;
    void triggerReleaseSample(SfzBank* bank, int note, int velocity, std::uint64_t framesHeld,
                              float keyOffVolume) noexcept;
    void triggerPedalSample(int controllerValue, float volume) noexcept;
    void releaseVoice(SfzVoice& voice) noexcept;
    std::uint32_t renderVoices(float* left, float* right, std::uint32_t frames) noexcept;
    std::uint32_t renderGroup(SfzVoice* const* voices, const std::uint32_t* voiceFrames, std::size_t count,
                              std::uint32_t frames) noexcept;
    void renderResonance(float* left, float* right, std::uint32_t frames, float amount) noexcept;

    void reclaimRetiredBanks();
    void reclaimerLoop();

    // Audio thread state.
    float m_sampleRate = 48000.0f;
    std::array<SfzVoice, config::sfzVoiceCount> m_voices{};
    std::array<bool, 128> m_keyHeld{};
    std::uint64_t m_voiceCounter = 0;
    std::uint32_t m_rngState = 0x12345678u;
    bool m_sustainDown = false;
    bool m_sostenutoDown = false;
    float m_pitchBendSemitones = 0.0f;
    std::array<Resonator, 6> m_resonators;
    std::vector<float> m_mixLeft; // the piano alone, before it is added to the output
    std::vector<float> m_mixRight;
    // Voices render in groups of four lanes; frame k of lane l sits at k * 4 + l.
    std::vector<float> m_laneInputLeft; // interpolated sample values
    std::vector<float> m_laneInputRight;
    std::vector<float> m_laneMixLeft; // the voices' output per lane
    std::vector<float> m_laneMixRight;
    std::atomic<std::uint32_t> m_lastActiveVoiceCount{0};

    // Bank hand-over between loaders, the audio thread and the reclaimer.
    std::atomic<SfzBank*> m_activeBank{nullptr};
    std::atomic<SfzBank*> m_bankInUse{nullptr};
    mutable std::mutex m_installMutex; // never taken by the audio thread
    std::shared_ptr<SfzBank> m_currentBank;
    std::vector<std::shared_ptr<SfzBank>> m_retiredBanks;
    std::thread m_reclaimer;
    std::counting_semaphore<> m_reclaimWake{0};
    bool m_stopReclaimer = false; // under m_installMutex
};

} // namespace tmb
