#include "AudioEngine.h"

#include <pipewire/pipewire.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <unistd.h>

namespace tmb {

namespace {

constexpr float initialVolumes[config::mixerChannelCount] = {0.96f, 0.65f, 0.82f, 0.78f, 0.80f, 0.85f, 0.96f};

// Angular steps of the test-tone triad at 1 Hz sample rate: 2π × 261.63, 329.63, 392.00.
constexpr float testToneOmega[3] = {1643.8699f, 2071.1265f, 2463.0088f};
constexpr float testToneSeconds = 0.9f;
constexpr float testToneFadeSeconds = 0.25f;
constexpr float clipThreshold = 0.98f;

std::uint32_t acceptedSampleRate(std::uint32_t rate) {
    return (rate == 44100 || rate == 48000 || rate == 96000) ? rate : config::defaultSampleRate;
}

float peakOf(const float* data, std::uint32_t frames, float gain) noexcept {
    float peak = 0.0f;
    for (std::uint32_t i = 0; i < frames; ++i)
        peak = std::max(peak, std::fabs(data[i] * gain));
    return std::min(peak, 1.0f);
}

} // namespace

AudioEngine::AudioEngine()
    : m_slotTypes{SoundEngineType::Sfz, SoundEngineType::Synth, SoundEngineType::SoundFont} {
    m_micRing.assign(config::micRingSamples, 0.0f);
    for (int b = 0; b < BusCount; ++b) {
        m_busLeft[b].assign(config::maxBlockFrames, 0.0f);
        m_busRight[b].assign(config::maxBlockFrames, 0.0f);
    }
    m_programInterleaved.assign(2 * std::size_t{config::maxBlockFrames}, 0.0f);
    for (int c = 0; c < config::mixerChannelCount; ++c)
        m_channels[c].volume.store(initialVolumes[c], std::memory_order_relaxed);
    // The split zone starts on the short saw; presets replace the models later.
    synths[2].setVoiceModel(4);
    pw_init(nullptr, nullptr);
}

AudioEngine::~AudioEngine() {
    stop();
}

// ---------------------------------------------------------------- lifecycle

void AudioEngine::prepareSources(std::uint32_t rate, std::uint32_t bufferFrames) {
    sampleRate = acceptedSampleRate(rate);
    blockFrames = std::clamp(bufferFrames, config::minBufferFrames, config::maxBufferFrames);
    const auto sr = static_cast<float>(sampleRate);
    sfzPiano.prepare(sr);
    fluidSynth.prepare(sr);
    for (auto& synth : synths)
        synth.prepare(sr);
    lv2Host.prepare(sr, config::maxBlockFrames);
    beatSequencer.prepare(sr);
    midiRecorder.prepare(sr);
    effects.prepare(sr, config::maxBlockFrames);
    // The freshly prepared chain needs the current effect settings again.
    updatePianoParameters(m_publishedParams);
}

void AudioEngine::stopBackends() {
    running = false;
    stopPipeWire();
    alsaRunning.store(false);
    if (m_alsaThread.joinable()) m_alsaThread.join();
    m_audioThreadRealtime.store(false);
}

bool AudioEngine::start(std::uint32_t rate, std::uint32_t bufferFrames) {
    stopBackends();
    prepareSources(rate, bufferFrames);
    m_backendFailed.store(false);
    // The device lists are the caller's: listed in the background at start-up,
    // synchronously when the user changes the settings.
    const bool alsaRequested = backendName == QLatin1String("ALSA");
    const auto startOn = [this](bool pipeWire) {
        if (!(pipeWire ? startPipeWire() : startAlsaFallback())) return false;
        backendName = pipeWire ? QStringLiteral("PipeWire") : QStringLiteral("ALSA");
        running = true;
        return true;
    };
    // ALSA was asked for but does not open: PipeWire is the safe output.
    if (!((!alsaRequested && startOn(true)) || startOn(false) || (alsaRequested && startOn(true)))) {
        // Neither backend produced a stream: say so rather than name a silent device.
        backendName = QStringLiteral("None");
        running = false;
    }
    labelRunningBackend();
    return running;
}

void AudioEngine::labelRunningBackend() {
    if (backendName == QLatin1String("None"))
        outputDeviceLabel = QStringLiteral("No audio output");
    else if (!running)
        return;
    else if (backendName == QLatin1String("ALSA"))
        outputDeviceLabel = QStringLiteral("System Default Output (ALSA)");
    else if (outputDeviceId.isEmpty() || outputDeviceId == QLatin1String("default"))
        outputDeviceLabel = QStringLiteral("System Default Output (PipeWire)");
}

bool AudioEngine::restartWithSettings(const QString& backend, const QString& outputDevice, std::uint32_t rate,
                                      std::uint32_t bufferFrames) {
    backendName = backend;
    outputDeviceId = outputDevice;
    enumerateAudioOutputs();
    enumerateAudioInputs();
    return start(rate, bufferFrames);
}

void AudioEngine::stop() {
    stopBackends();
}

void AudioEngine::prepareOffline(std::uint32_t rate, std::uint32_t bufferFrames) {
    stopBackends();
    prepareSources(rate, bufferFrames);
}

float AudioEngine::latencyMs() const {
    if (sampleRate == 0) return 0.0f;
    return static_cast<float>(blockFrames) * 1000.0f / static_cast<float>(sampleRate);
}

bool AudioEngine::takeBackendFailure(int* errorCode) {
    if (!m_backendFailed.exchange(false)) return false;
    if (errorCode) *errorCode = m_backendErrorCode.load();
    // The fallback thread has ended; nothing plays any more.
    stopBackends();
    backendName = QStringLiteral("None");
    outputDeviceLabel = QStringLiteral("No audio output");
    return true;
}

// ---------------------------------------------------------------- mixer

void AudioEngine::setChannelVolume(MixerChannelId id, float volume) {
    if (isValidMixerChannel(id))
        m_channels[static_cast<int>(id)].volume.store(std::clamp(volume, 0.0f, 1.2f));
}

float AudioEngine::channelVolume(MixerChannelId id) const {
    return isValidMixerChannel(id) ? m_channels[static_cast<int>(id)].volume.load() : 0.0f;
}

void AudioEngine::setChannelPan(MixerChannelId id, float pan) {
    if (isValidMixerChannel(id)) m_channels[static_cast<int>(id)].pan.store(std::clamp(pan, -1.0f, 1.0f));
}

float AudioEngine::channelPan(MixerChannelId id) const {
    return isValidMixerChannel(id) ? m_channels[static_cast<int>(id)].pan.load() : 0.0f;
}

void AudioEngine::setChannelMuted(MixerChannelId id, bool muted) {
    if (isValidMixerChannel(id)) m_channels[static_cast<int>(id)].muted.store(muted);
}

bool AudioEngine::isChannelMuted(MixerChannelId id) const {
    return isValidMixerChannel(id) && m_channels[static_cast<int>(id)].muted.load();
}

void AudioEngine::setChannelSoloed(MixerChannelId id, bool soloed) {
    if (isValidMixerChannel(id)) m_channels[static_cast<int>(id)].soloed.store(soloed);
}

bool AudioEngine::isChannelSoloed(MixerChannelId id) const {
    return isValidMixerChannel(id) && m_channels[static_cast<int>(id)].soloed.load();
}

float AudioEngine::channelPeakL(MixerChannelId id) const {
    return isValidMixerChannel(id) ? m_channels[static_cast<int>(id)].peakL.load(std::memory_order_relaxed)
                                   : 0.0f;
}

float AudioEngine::channelPeakR(MixerChannelId id) const {
    return isValidMixerChannel(id) ? m_channels[static_cast<int>(id)].peakR.load(std::memory_order_relaxed)
                                   : 0.0f;
}

bool AudioEngine::isMasterClipped() const {
    return m_channels[static_cast<int>(MixerChannelId::Master)].clipped.load();
}

void AudioEngine::resetClipIndicator() {
    for (auto& channel : m_channels)
        channel.clipped.store(false);
}

void AudioEngine::triggerTestTone() {
    // The audio thread arms the tone at its next block, so the phases and the
    // remaining count are only ever touched there.
    m_testToneRequest.store(static_cast<std::int32_t>(static_cast<float>(sampleRate) * testToneSeconds));
}

void AudioEngine::writeMicSamples(const float* interleaved, std::size_t count) noexcept {
    std::size_t write = m_micWrite.load(std::memory_order_relaxed);
    const std::size_t read = m_micRead.load(std::memory_order_acquire);
    // Whole frames only: a ring that filled up between a left and a right sample
    // would swap the channels until it drained.
    const std::size_t used = (write + config::micRingSamples - read) % config::micRingSamples;
    const std::size_t room = config::micRingSamples - 1 - used;
    const std::size_t samples = std::min(count, room) & ~std::size_t{1};
    for (std::size_t i = 0; i < samples; ++i) {
        m_micRing[write] = interleaved[i];
        write = (write + 1) % config::micRingSamples;
    }
    m_micWrite.store(write, std::memory_order_release);
}

int AudioEngine::activeVoiceCount() const noexcept {
    int voices = sfzPiano.activeVoiceCount() + fluidSynth.activeVoiceCount();
    for (const SynthEngine& synth : synths)
        voices += synth.publishedVoiceCount();
    return voices;
}

// ---------------------------------------------------------------- events and parameters

void AudioEngine::submitMidiEvent(const MidiEvent& event) noexcept {
    while (m_eventLock.test_and_set(std::memory_order_acquire)) {
        // Producers hold the flag only for one 32-byte copy.
    }
    const std::size_t write = m_eventWrite.load(std::memory_order_relaxed);
    const std::size_t next = (write + 1) % config::midiQueueSlots;
    if (next != m_eventRead.load(std::memory_order_acquire)) {
        m_eventQueue[write] = event;
        m_eventWrite.store(next, std::memory_order_release);
    } else {
        m_droppedEvents.fetch_add(1, std::memory_order_relaxed);
    }
    m_eventLock.clear(std::memory_order_release);
}

void AudioEngine::panicAllNotesOff() noexcept {
    submitMidiEvent(MidiEvent::reset());
}

void AudioEngine::updatePianoParameters(const PianoParameters& params) {
    m_publishedParams = params;
    // The effect settings follow on the audio thread, from the whole record.
    m_paramsMailbox.publish(params);
}

void AudioEngine::updateWorkstationState(const WorkstationState& state) {
    m_stateMailbox.publish(state);
}

void AudioEngine::setSlotEngineType(int slot, SoundEngineType type) {
    if (slot >= 0 && slot < config::keyboardSlotCount) m_slotTypes[slot].store(type);
}

SoundEngineType AudioEngine::slotEngineType(int slot) const {
    if (slot < 0 || slot >= config::keyboardSlotCount) return SoundEngineType::Sfz;
    return m_slotTypes[slot].load();
}

void AudioEngine::applyPublishedRecords() noexcept {
    if (m_paramsMailbox.fetch()) {
        adoptPushedParameters(m_paramsMailbox.current());
        applyEffectSettings(m_params);
    }
    if (m_stateMailbox.fetch()) m_state = m_stateMailbox.current();
}

// Audio thread: the chain's coefficients come from one whole record, so a block
// never runs with half of a new setting.
void AudioEngine::applyEffectSettings(const PianoParameters& params) noexcept {
    effects.setEqGains(0.0f, 0.0f, 0.0f, params.brightness, params.lidPosition);
    effects.setReverb(params.reverbAmount, params.reverbRoomSize, params.damperResonance);
    effects.setChorus(params.chorusAmount);
    effects.setDelay(params.delayAmount, params.delayTime, 0.35f);
    effects.setDriveAndCompressor(params.driveAmount, params.compressorAmount);
    effects.setStereoWidth(params.stereoWidth);
}

// Only the events queued before the block began: re-reading the write index would let
// a producer that keeps pushing hold the block in this loop for as long as it pushes.
void AudioEngine::drainEventQueue() noexcept {
    std::size_t read = m_eventRead.load(std::memory_order_relaxed);
    const std::size_t end = m_eventWrite.load(std::memory_order_acquire);
    while (read != end) {
        const MidiEvent event = m_eventQueue[read];
        read = (read + 1) % config::midiQueueSlots;
        m_eventRead.store(read, std::memory_order_release);
        handleRtMidiEvent(event);
    }
}

// ---------------------------------------------------------------- block callback

void AudioEngine::processAudioCallback(float* out, std::uint32_t frames) noexcept {
    if (out == nullptr || frames == 0) return;
    frames = std::min(frames, config::maxBlockFrames);
    const auto started = std::chrono::steady_clock::now();
    // The SoundFont synthesizers are this block's from here to their render.
    fluidSynth.beginBlock();

    applyPublishedRecords();
    drainEventQueue();
    processArpeggiator(frames);
    midiRecorder.processPlaybackBlock(frames, beatSequencer.bpm(),
                                      [this](const MidiEvent& event) { handlePlaybackEvent(event); });

    for (int b = 0; b <= MixBus; ++b) {
        std::fill_n(m_busLeft[b].data(), frames, 0.0f);
        std::fill_n(m_busRight[b].data(), frames, 0.0f);
    }

    beatSequencer.processBlock(frames, m_busLeft[BeatsBus].data(), m_busRight[BeatsBus].data(),
                               [this](int note, int velocity, bool toPlugin) {
                                   if (m_noteObserver)
                                       m_noteObserver->noteEvent(NoteSource::Drums,
                                                                 FluidSynthEngine::drumChannel, true, note,
                                                                 velocity);
                                   fluidSynth.drumNoteOn(note, velocity);
                                   if (toPlugin && lv2Host.isPluginActive())
                                       lv2Host.sendMidiNoteOn(9, static_cast<std::uint8_t>(note & 0x7F),
                                                              static_cast<std::uint8_t>(velocity & 0x7F));
                               });

    sfzPiano.renderStereo(m_busLeft[PianoBus].data(), m_busRight[PianoBus].data(), frames);
    synths[0].renderAdding(m_busLeft[PianoBus].data(), m_busRight[PianoBus].data(), frames);
    fluidSynth.renderBlock(m_busLeft[PianoBus].data(), m_busRight[PianoBus].data(), frames);
    synths[1].renderAdding(m_busLeft[Layer2Bus].data(), m_busRight[Layer2Bus].data(), frames);
    synths[2].renderAdding(m_busLeft[SplitBus].data(), m_busRight[SplitBus].data(), frames);
    fluidSynth.renderDrumBlock(m_busLeft[BeatsBus].data(), m_busRight[BeatsBus].data(), frames);
    fluidSynth.endBlock();
    lv2Host.processAudio(m_busLeft[Lv2BusIndex].data(), m_busRight[Lv2BusIndex].data(), frames);

    // Microphone: interleaved pairs from the capture ring; silence when disabled.
    if (!micEnabled.load(std::memory_order_relaxed)) {
        m_micRead.store(m_micWrite.load(std::memory_order_acquire), std::memory_order_release);
    } else {
        std::size_t read = m_micRead.load(std::memory_order_relaxed);
        const std::size_t write = m_micWrite.load(std::memory_order_acquire);
        float* micL = m_busLeft[MicBus].data();
        float* micR = m_busRight[MicBus].data();
        for (std::uint32_t i = 0; i < frames && read != write; ++i) {
            micL[i] = m_micRing[read];
            read = (read + 1) % config::micRingSamples;
            if (read != write) {
                micR[i] = m_micRing[read];
                read = (read + 1) % config::micRingSamples;
            } else {
                micR[i] = micL[i];
            }
        }
        m_micRead.store(read, std::memory_order_release);
    }

    renderTestTone(frames);
    runChannelStrips(frames);
    effects.processStereoBlock(m_busLeft[MixBus].data(), m_busRight[MixBus].data(), frames,
                               m_params.sustainPedal);
    runMasterStage(out, frames);
    midiRecorder.pushAudioStereoBlock(m_busLeft[ProgramBus].data(), m_busRight[ProgramBus].data(), frames);
    m_renderedFrames.fetch_add(frames, std::memory_order_relaxed);
    writeBroadcast(frames);

    const auto elapsed = std::chrono::steady_clock::now() - started;
    updateCpuLoad(
        static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count()),
        frames);
}

void AudioEngine::renderTestTone(std::uint32_t frames) noexcept {
    const std::int32_t request = m_testToneRequest.exchange(0, std::memory_order_acq_rel);
    if (request > 0) {
        m_testToneRemaining = request;
        m_testTonePhase[0] = m_testTonePhase[1] = m_testTonePhase[2] = 0.0f;
    }
    if (m_testToneRemaining <= 0) return;
    const auto sr = static_cast<float>(sampleRate);
    const float fadeSamples = testToneFadeSeconds * sr;
    float* left = m_busLeft[PianoBus].data();
    float* right = m_busRight[PianoBus].data();
    for (std::uint32_t i = 0; i < frames && m_testToneRemaining > 0; ++i) {
        const float envelope = std::min(static_cast<float>(m_testToneRemaining) / fadeSamples, 1.0f);
        const float sample = 0.14f *
                             (std::sin(m_testTonePhase[0]) + 0.8f * std::sin(m_testTonePhase[1]) +
                              0.7f * std::sin(m_testTonePhase[2])) *
                             envelope;
        left[i] += sample;
        right[i] += sample;
        for (int k = 0; k < 3; ++k) {
            m_testTonePhase[k] += testToneOmega[k] / sr;
            // Keep the phase small so float precision holds over the whole tone.
            if (m_testTonePhase[k] > 6.2831853f) m_testTonePhase[k] -= 6.2831853f;
        }
        --m_testToneRemaining;
    }
}

void AudioEngine::runChannelStrips(std::uint32_t frames) noexcept {
    bool anySolo = false;
    for (int c = 0; c <= static_cast<int>(MixerChannelId::Mic); ++c)
        anySolo = anySolo || m_channels[c].soloed.load(std::memory_order_relaxed);

    float* mixL = m_busLeft[MixBus].data();
    float* mixR = m_busRight[MixBus].data();
    // Buses and channels share their order for channels 0-4.
    for (int c = 0; c <= static_cast<int>(MixerChannelId::Lv2Bus); ++c) {
        MixerChannelState& channel = m_channels[c];
        const float volume = channel.volume.load(std::memory_order_relaxed);
        const float pan = channel.pan.load(std::memory_order_relaxed);
        const float gainL = std::min(1.0f - pan, 1.0f) * volume;
        const float gainR = std::min(1.0f + pan, 1.0f) * volume;
        const float* busL = m_busLeft[c].data();
        const float* busR = m_busRight[c].data();
        const bool audible = !channel.muted.load(std::memory_order_relaxed) &&
                             (!anySolo || channel.soloed.load(std::memory_order_relaxed));
        if (audible) {
            for (std::uint32_t i = 0; i < frames; ++i) {
                mixL[i] += busL[i] * gainL;
                mixR[i] += busR[i] * gainR;
            }
        }
        // A muted channel's meter still shows what it would play.
        channel.peakL.store(peakOf(busL, frames, gainL), std::memory_order_relaxed);
        channel.peakR.store(peakOf(busR, frames, gainR), std::memory_order_relaxed);
    }

    MixerChannelState& mic = m_channels[static_cast<int>(MixerChannelId::Mic)];
    const float volume = mic.volume.load(std::memory_order_relaxed);
    const float pan = mic.pan.load(std::memory_order_relaxed);
    const float gainL = std::min(1.0f - pan, 1.0f) * volume;
    const float gainR = std::min(1.0f + pan, 1.0f) * volume;
    float* micL = m_busLeft[MicBus].data();
    float* micR = m_busRight[MicBus].data();
    mic.peakL.store(peakOf(micL, frames, gainL), std::memory_order_relaxed);
    mic.peakR.store(peakOf(micR, frames, gainR), std::memory_order_relaxed);
    const bool micAudible = !mic.muted.load(std::memory_order_relaxed) &&
                            micEnabled.load(std::memory_order_relaxed) &&
                            (!anySolo || mic.soloed.load(std::memory_order_relaxed));
    for (std::uint32_t i = 0; i < frames; ++i) {
        micL[i] = micAudible ? micL[i] * gainL : 0.0f;
        micR[i] = micAudible ? micR[i] * gainR : 0.0f;
    }
}

void AudioEngine::runMasterStage(float* out, std::uint32_t frames) noexcept {
    MixerChannelState& master = m_channels[static_cast<int>(MixerChannelId::Master)];
    const float gain =
        master.muted.load(std::memory_order_relaxed) ? 0.0f : master.volume.load(std::memory_order_relaxed);
    const bool monitorMic = micMonitorEnabled.load(std::memory_order_relaxed);
    const float* mixL = m_busLeft[MixBus].data();
    const float* mixR = m_busRight[MixBus].data();
    const float* micL = m_busLeft[MicBus].data();
    const float* micR = m_busRight[MicBus].data();
    float* progL = m_busLeft[ProgramBus].data();
    float* progR = m_busRight[ProgramBus].data();
    float* interleaved = m_programInterleaved.data();

    float peakL = 0.0f;
    float peakR = 0.0f;
    bool clipped = false;
    for (std::uint32_t i = 0; i < frames; ++i) {
        const float mL = mixL[i] * gain;
        const float mR = mixR[i] * gain;
        const float pL = std::clamp(mL + micL[i], -1.0f, 1.0f);
        const float pR = std::clamp(mR + micR[i], -1.0f, 1.0f);
        progL[i] = pL;
        progR[i] = pR;
        interleaved[2 * i] = pL;
        interleaved[2 * i + 1] = pR;
        // The microphone is recorded and broadcast, but kept off the speakers
        // unless monitoring is on, to avoid feedback.
        const float sL = monitorMic ? mL + 0.75f * micL[i] : mL;
        const float sR = monitorMic ? mR + 0.75f * micR[i] : mR;
        clipped = clipped || std::fabs(sL) >= clipThreshold || std::fabs(sR) >= clipThreshold;
        out[2 * i] = std::clamp(sL, -1.0f, 1.0f);
        out[2 * i + 1] = std::clamp(sR, -1.0f, 1.0f);
        peakL = std::max(peakL, std::fabs(pL));
        peakR = std::max(peakR, std::fabs(pR));
    }
    master.peakL.store(peakL, std::memory_order_relaxed);
    master.peakR.store(peakR, std::memory_order_relaxed);
    if (clipped) master.clipped.store(true, std::memory_order_relaxed);
}

void AudioEngine::writeBroadcast(std::uint32_t frames) noexcept {
    const int fd = broadcastAudioFd.load(std::memory_order_relaxed);
    if (fd < 0) return;
    // A full FIFO simply loses this block.
    [[maybe_unused]] const ssize_t written =
        ::write(fd, m_programInterleaved.data(), std::size_t{frames} * 2 * sizeof(float));
}

void AudioEngine::updateCpuLoad(std::uint64_t elapsedUs, std::uint32_t frames) noexcept {
    const double blockUs = static_cast<double>(frames) * 1e6 / static_cast<double>(sampleRate);
    const double load = blockUs > 1.0 ? static_cast<double>(elapsedUs) / blockUs * 100.0 : 0.0;
    const float previous = cpuLoadPercent.load(std::memory_order_relaxed);
    const auto smoothed = static_cast<float>(previous * 0.85 + load * 0.15);
    cpuLoadPercent.store(std::clamp(smoothed, 0.2f, 99.9f), std::memory_order_relaxed);
}

} // namespace tmb
