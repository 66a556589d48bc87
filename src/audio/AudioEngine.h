#pragma once

// The realtime heart of the workstation: owns every sound source, renders them
// block by block into seven mixer channels, runs the master effects, meters the
// result and hands it to PipeWire (or to the raw ALSA fallback thread).
//
// Threads:
// - GUI thread: construction, start/stop, channel setters, test tone, parameter pushes.
//   Fields it shares with the audio thread are atomics or go through a TripleBuffer.
// - MIDI input thread and GUI thread: submitMidiEvent (producers of the event queue).
// - Audio thread (PipeWire data thread or the ALSA fallback thread): processAudioCallback
//   and everything it calls. It never allocates, locks, logs or calls the controller.

#include "audio/AudioDevices.h"
#include "audio/DspEffectsChain.h"
#include "audio/MixerTypes.h"
#include "audio/PianoParameters.h"
#include "audio/RealtimeConfig.h"
#include "audio/TripleBuffer.h"
#include "audio/VoiceOwnershipTable.h"
#include "engines/FluidSynthEngine.h"
#include "engines/Lv2HostEngine.h"
#include "engines/SfzPianoEngine.h"
#include "engines/SynthEngine.h"
#include "midi/MidiEvent.h"
#include "midi/MidiRecorder.h"
#include "rhythm/BeatSequencer.h"

#include <QString>

#include <pthread.h>
#include <spa/utils/hook.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

struct pw_thread_loop;
struct pw_context;
struct pw_core;
struct pw_stream;
struct spa_loop;

namespace tmb {

class ThreadScheduler;

class AudioEngine {
public:
    AudioEngine();
    ~AudioEngine();
    AudioEngine(const AudioEngine&) = delete;
    AudioEngine& operator=(const AudioEngine&) = delete;

    // --- Lifecycle (GUI thread) ---

    // (Re)starts the output. Tries PipeWire unless backendName is "ALSA", then the
    // ALSA fallback. Returns false, with backendName "None", when neither plays.
    bool start(std::uint32_t sampleRate, std::uint32_t bufferFrames);
    bool restartWithSettings(const QString& backend, const QString& outputDevice, std::uint32_t sampleRate,
                             std::uint32_t bufferFrames);
    void stop();
    // Stops any backend and prepares every source for the rate without opening a
    // device; the caller then drives processAudioCallback itself (tests, offline rendering).
    void prepareOffline(std::uint32_t sampleRate, std::uint32_t bufferFrames);
    float latencyMs() const;

    // Renders one block of interleaved stereo (2 x frames floats). Audio thread only:
    // called by the backends, or by whoever prepared the engine with prepareOffline.
    void processAudioCallback(float* out, std::uint32_t frames) noexcept;

    // --- Mixer (GUI thread writes, audio thread reads) ---
    void setChannelVolume(MixerChannelId id, float volume);
    float channelVolume(MixerChannelId id) const;
    void setChannelPan(MixerChannelId id, float pan);
    float channelPan(MixerChannelId id) const;
    void setChannelMuted(MixerChannelId id, bool muted);
    bool isChannelMuted(MixerChannelId id) const;
    void setChannelSoloed(MixerChannelId id, bool soloed);
    bool isChannelSoloed(MixerChannelId id) const;
    float channelPeakL(MixerChannelId id) const;
    float channelPeakR(MixerChannelId id) const;
    bool isMasterClipped() const;
    void resetClipIndicator();

    void triggerTestTone();

    // --- Events and parameters ---
    // Any thread except the audio thread. A full queue drops the event.
    void submitMidiEvent(const MidiEvent& event) noexcept;
    void panicAllNotesOff() noexcept;
    // GUI thread: the records take effect at the start of the next block.
    void updatePianoParameters(const PianoParameters& params);
    void updateWorkstationState(const WorkstationState& state);
    void setSlotEngineType(int slot, SoundEngineType type);
    SoundEngineType slotEngineType(int slot) const;

    // --- Realtime dispatch (audio thread, or the thread that renders offline) ---
    // Interprets one event: notes by channel and zone, pedals, wheels, bend, reset.
    void handleRtMidiEvent(const MidiEvent& event) noexcept;
    // The recorder's playback sink: the same route, but pedal values were stored as
    // heard, so they are never inverted again.
    void handlePlaybackEvent(const MidiEvent& event) noexcept;
    // Keyboard routing of the played key `note` (before transpose). The voices it
    // starts are recorded for that key; dispatchNoteOffToEngines(note) releases exactly
    // those, whatever the settings are by then.
    void dispatchNoteOnToEngines(int note, int velocity) noexcept;
    void dispatchNoteOffToEngines(int note) noexcept;
    // Once per block, after the queue is drained.
    void processArpeggiator(std::uint32_t frames) noexcept;
    // The velocity the engines receive for a played velocity under a touch curve.
    static int mapTouchVelocity(int velocity, int touchCurve) noexcept;
    // What the audio thread works with: the pushed records merged with the pedal
    // state that controller events set, and the voices each key holds.
    const PianoParameters& renderingParameters() const noexcept { return m_params; }
    const WorkstationState& renderingWorkstationState() const noexcept { return m_state; }
    const VoiceOwnershipTable& voiceOwnership() const noexcept { return m_voiceOwners; }

    // Microphone producer (the capture thread, or the phone's wireless microphone):
    // interleaved stereo samples into the microphone ring; a full ring drops the rest.
    void writeMicSamples(const float* interleaved, std::size_t count) noexcept;

    // --- Devices and microphone (AudioDevices.cpp) ---
    // GUI thread: the sound server's devices, listed by wpctl and pactl (up to 1.2 s a tool).
    QList<AudioDeviceEntry> enumerateAudioOutputs();
    QList<AudioDeviceEntry> enumerateAudioInputs();
    // GUI thread: both lists, their labels and the Bluetooth warning updated later,
    // from the event loop, then `listed` is called. A list enumerated meanwhile wins.
    void listDevicesInBackground(std::function<void()> listed);
    // The lists of the last enumeration; inputs flag the selected device.
    QVariantList audioOutputsAsVariantList() const;
    QVariantList audioInputsAsVariantList() const;
    // GUI thread: makes `deviceId` the microphone (and the server's default source);
    // a running PipeWire output restarts so the capture stream follows it.
    bool setAudioInputDevice(const QString& deviceId);
    void setMicEnabled(bool on);
    // Any thread (capture, phone audio; they serialise): conditions interleaved
    // stereo frames into the microphone ring. Nothing while the microphone is off.
    void pushMicSamples(const float* samples, std::size_t frames) noexcept;
    // The capture stream's data thread: one buffer's chunk, mono (stride 4) or stereo.
    void handleCaptureChunk(const void* data, std::uint32_t maxSize, std::uint32_t offset, std::uint32_t size,
                            std::int32_t stride) noexcept;
    const MicConditioner& micConditioner() const { return m_micConditioner; }

    // Offline observation (tools and tests; set only while no backend runs): told of
    // every note event an engine receives, the dispatched queue and playback events
    // and the sequencer's drum hits; ChordTones are the queued tones a one-finger
    // chord adds.
    enum class NoteSource { Events, Drums, ChordTones };
    class NoteObserver {
    public:
        virtual ~NoteObserver() = default;
        virtual void noteEvent(NoteSource source, int channel, bool on, int note, int velocity) noexcept = 0;
    };
    void setNoteObserver(NoteObserver* observer) { m_noteObserver = observer; }

    // Any thread: voices sounding at the end of the last block in every engine that
    // plays notes: the SFZ piano, both SoundFont synthesizers and the three synths.
    // (The LV2 host reports none yet: it hosts no plug-in.)
    int activeVoiceCount() const noexcept;

    // --- Backend health (GUI thread) ---
    // True once when the ALSA fallback thread ended on an error it could not
    // recover from; errorCode() then holds the ALSA error number.
    bool takeBackendFailure(int* errorCode = nullptr);
    std::uint64_t droppedMidiEvents() const noexcept {
        return m_droppedEvents.load(std::memory_order_relaxed);
    }
    // Frames rendered since construction: how far the backend has really driven the engine.
    std::uint64_t renderedFrames() const noexcept { return m_renderedFrames.load(std::memory_order_relaxed); }
    // Whether the thread that renders runs with realtime priority; every start asks
    // for it and publishes the answer here (false while nothing runs).
    bool audioThreadRealtime() const noexcept { return m_audioThreadRealtime.load(); }
    // Tests put a scheduler of their own here; nullptr restores the system's.
    void setThreadScheduler(ThreadScheduler* scheduler);

    // --- Running format and devices (GUI thread reads) ---
    std::uint32_t sampleRate = config::defaultSampleRate;
    std::uint32_t blockFrames = config::defaultBufferFrames;
    QString backendName = QStringLiteral("PipeWire");
    QString outputDeviceLabel = QStringLiteral("System Default Output (PipeWire)");
    QString outputDeviceId = QStringLiteral("default");
    QString inputDeviceId = QStringLiteral("default");
    QString inputDeviceLabel = QStringLiteral("System Default Microphone");
    bool running = false;
    std::atomic<float> cpuLoadPercent{1.2f};

    bool bluetoothAudioWarning = false; // the default output looks like a Bluetooth device
    std::atomic<bool> micEnabled{false};
    std::atomic<bool> micMonitorEnabled{false};
    // Receives the program output while broadcasting (a non-blocking FIFO); -1 when unused.
    std::atomic<int> broadcastAudioFd{-1};

    // --- Sound sources, reached by the controller through the engine ---
    SfzPianoEngine sfzPiano;
    FluidSynthEngine fluidSynth;
    std::array<SynthEngine, config::keyboardSlotCount> synths;
    Lv2HostEngine lv2Host;
    BeatSequencer beatSequencer;
    MidiRecorder midiRecorder;
    DspEffectsChain effects;

private:
    struct PipeWireCallbackRecord {
        AudioEngine* engine = nullptr;
        pw_stream* stream = nullptr;
    };

    void prepareSources(std::uint32_t sampleRate, std::uint32_t bufferFrames);
    void stopBackends();
    bool startPipeWire();
    void stopPipeWire();
    bool startAlsaFallback();
    void alsaThreadLoop(void* pcm);
    void applyPublishedRecords() noexcept;
    void applyEffectSettings(const PianoParameters& params) noexcept;
    void drainEventQueue() noexcept;
    // Dispatch helpers (AudioEngineDispatch.cpp).
    void handleEvent(const MidiEvent& event, bool fromPlayback) noexcept;
    void handleControlChange(const MidiEvent& event, bool fromPlayback) noexcept;
    void handleKeyboardNoteOn(int note, int velocity) noexcept;
    void handleKeyboardNoteOff(int note) noexcept;
    void handleZoneChannelNote(int channel, int note, int velocity) noexcept;
    void handleChordTone(int note, int velocity) noexcept;
    void handleReset() noexcept;
    void dispatchNoteOn(int note, int velocity, int owner) noexcept;
    void startVoice(int owner, VoiceTarget target, int pitch, int velocity) noexcept;
    void stopVoice(VoiceTarget target, int pitch) noexcept;
    void releaseOwner(int owner) noexcept;
    void adoptPushedParameters(const PianoParameters& pushed) noexcept;
    void renderTestTone(std::uint32_t frames) noexcept;
    void runChannelStrips(std::uint32_t frames) noexcept;
    void runMasterStage(float* out, std::uint32_t frames) noexcept;
    void writeBroadcast(std::uint32_t frames) noexcept;
    void updateCpuLoad(std::uint64_t elapsedUs, std::uint32_t frames) noexcept;

    static void onPipeWireProcess(void* data);
    static void onPipeWireCaptureProcess(void* data);
    static int onDataThreadStarted(spa_loop* loop, bool async, std::uint32_t seq, const void* data,
                                   std::size_t size, void* userData);
    void requestRealtime(pthread_t thread);

    // PipeWire handles (GUI thread; null while stopped). One context and one
    // connection carry both streams, so one data thread renders and captures.
    pw_thread_loop* m_pwLoop = nullptr;
    pw_context* m_pwContext = nullptr;
    pw_core* m_pwCore = nullptr;
    pw_stream* m_pwStream = nullptr;
    pw_stream* m_pwCaptureStream = nullptr;
    spa_hook m_playbackListener{};
    spa_hook m_captureListener{};
    PipeWireCallbackRecord m_playbackRecord;
    PipeWireCallbackRecord m_captureRecord;

    // Realtime scheduling of the audio thread.
    ThreadScheduler* m_scheduler = nullptr; // nullptr: the system's
    std::atomic<bool> m_audioThreadRealtime{false};

    // Microphone ring: the capture thread writes, the audio thread reads.
    std::vector<float> m_micRing;
    alignas(config::cacheLineBytes) std::atomic<std::size_t> m_micWrite{0};
    alignas(config::cacheLineBytes) std::atomic<std::size_t> m_micRead{0};

    // Devices and microphone producers.
    static constexpr std::size_t micChunkFrames = 256;
    static constexpr std::size_t captureWidenFrames = 2048;
    void applyOutputListing(const QString& wpctlStatus);
    void applyInputListing(const QString& pactlSources, const std::function<QString()>& wpctlStatus);
    // The output label a running backend shows over the listed default sink.
    void labelRunningBackend();
    QList<AudioDeviceEntry> m_outputs;
    QList<AudioDeviceEntry> m_inputs;
    std::uint64_t m_outputsListed = 0; // enumerations so far, so older answers lose
    std::uint64_t m_inputsListed = 0;
    DeviceListing m_deviceListing;
    // Mirrors inputDeviceId == "phone_wireless_mic" for the capture thread.
    std::atomic<bool> m_phoneMicSelected{false};
    std::atomic_flag m_micProducerLock = ATOMIC_FLAG_INIT;
    MicConditioner m_micConditioner;
    std::array<float, 2 * captureWidenFrames> m_captureWiden{};

    // ALSA fallback.
    std::atomic<bool> alsaRunning{false};
    std::thread m_alsaThread;
    std::atomic<bool> m_backendFailed{false};
    std::atomic<int> m_backendErrorCode{0};

    // Realtime event queue: producers serialise on a spin flag; the audio thread is
    // the single consumer.
    std::array<MidiEvent, config::midiQueueSlots> m_eventQueue{};
    alignas(config::cacheLineBytes) std::atomic<std::size_t> m_eventWrite{0};
    alignas(config::cacheLineBytes) std::atomic<std::size_t> m_eventRead{0};
    std::atomic_flag m_eventLock = ATOMIC_FLAG_INIT;
    std::atomic<std::uint64_t> m_droppedEvents{0};
    std::atomic<std::uint64_t> m_renderedFrames{0};

    // Slot engine types and the engine's copies of the published records.
    std::array<std::atomic<SoundEngineType>, config::keyboardSlotCount> m_slotTypes;
    PianoParameters m_publishedParams; // GUI thread: last record pushed
    TripleBuffer<PianoParameters> m_paramsMailbox;
    TripleBuffer<WorkstationState> m_stateMailbox;
    PianoParameters m_params; // audio thread's working copy; its pedal fields are the audio thread's own
    WorkstationState m_state; // audio thread's working copy

    // Realtime dispatch (audio thread).
    VoiceOwnershipTable m_voiceOwners;
    std::array<bool, 128> m_arpHeld{};
    double m_arpAccumulator = 0.0; // frames since the last step
    std::uint64_t m_arpStep = 0;   // never reset: a new chord continues the pattern
    int m_arpLastNote = -1;        // sounding arpeggiated note, -1 when none
    // One-finger chord tones sounding per pitch: chords overlapping on a tone each
    // hold it, and it ends with the last of them.
    std::array<std::uint16_t, 128> m_chordToneHolds{};

    std::array<MixerChannelState, config::mixerChannelCount> m_channels;

    // Scratch buses, allocated once for the largest block.
    enum Bus { PianoBus, Layer2Bus, SplitBus, BeatsBus, Lv2BusIndex, MicBus, MixBus, ProgramBus, BusCount };
    std::vector<float> m_busLeft[BusCount];
    std::vector<float> m_busRight[BusCount];
    std::vector<float> m_programInterleaved;

    NoteObserver* m_noteObserver = nullptr;

    // Test tone (armed from the GUI thread, rendered on the audio thread).
    std::atomic<std::int32_t> m_testToneRequest{0};
    std::int32_t m_testToneRemaining = 0;
    float m_testTonePhase[3] = {0.0f, 0.0f, 0.0f};
};

} // namespace tmb
