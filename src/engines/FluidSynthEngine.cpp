#include "FluidSynthEngine.h"

#include "SoundFontPaths.h"
#include "audio/RealtimeConfig.h"

#include <fluidsynth.h>
#include <glib.h>

#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace tmb {

namespace {

// The library would otherwise print warnings (for example a note on a channel
// without a preset) from whichever thread calls it, the audio thread included.
void discardLibraryMessage(int, const char*, void*) {}

// A file that is not a readable SoundFont is also offered to the library's DLS
// reader (libinstpatch), whose complaints go through GLib's log without a domain.
void discardGlibMessage(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

void silenceLibraryLog() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG})
            fluid_set_log_function(level, discardLibraryMessage, nullptr);
        const auto levels =
            static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE |
                                        G_LOG_LEVEL_INFO | G_LOG_LEVEL_DEBUG);
        g_log_set_handler(nullptr, levels, discardGlibMessage, nullptr);
    });
}

bool validChannel(int channel) {
    return channel >= 0 && channel < FluidSynthEngine::channelCount;
}

constexpr int kitBank = 128;

std::int64_t steadyNanoseconds() noexcept {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

// The audio side's right to use the synthesizers for one call: inside a block the
// block's own, outside one (a thread that drives the engine without blocks) taken
// for the call alone.
class FluidSynthEngine::AudioAccess {
public:
    explicit AudioAccess(FluidSynthEngine& engine) noexcept
        : m_engine(engine) {
        if (engine.m_inBlock) {
            m_open = engine.m_blockOpen;
            return;
        }
        m_open = m_owned = engine.tryOpenForAudio();
    }
    ~AudioAccess() {
        if (m_owned) m_engine.releaseGate();
    }
    AudioAccess(const AudioAccess&) = delete;
    AudioAccess& operator=(const AudioAccess&) = delete;
    bool open() const noexcept { return m_open; }

private:
    FluidSynthEngine& m_engine;
    bool m_open = false;
    bool m_owned = false;
};

FluidSynthEngine::FluidSynthEngine() {
    silenceLibraryLog();
    m_channelIsKit[drumChannel] = true; // the library's default drum channel
    for (auto& value : m_controllers)
        value.store(-1, std::memory_order_relaxed);
    prepare(48000.0f);
}

FluidSynthEngine::~FluidSynthEngine() {
    // The fonts were read by the loader; it goes last.
    destroySynth(m_melodic);
    destroySynth(m_drums);
    destroySynth(m_loader);
}

FluidSynthEngine::Synth FluidSynthEngine::createSynth(float sampleRate, int polyphony, double gain,
                                                      bool threadSafe) {
    Synth s;
    s.settings = new_fluid_settings();
    if (s.settings == nullptr) return s;
    fluid_settings_setnum(s.settings, "synth.sample-rate", sampleRate);
    fluid_settings_setint(s.settings, "synth.polyphony", polyphony);
    fluid_settings_setnum(s.settings, "synth.gain", gain);
    // Only the side that holds the gate calls a rendering synthesizer, so the
    // library's own lock, which a note would otherwise take, stays off.
    fluid_settings_setint(s.settings, "synth.threadsafe-api", threadSafe ? 1 : 0);
    // Samples are read with the font, off the audio path; read on demand they
    // would be read by a program change on the audio thread.
    fluid_settings_setint(s.settings, "synth.dynamic-sample-loading", 0);
    // The master effects chain provides reverb and chorus.
    fluid_settings_setint(s.settings, "synth.reverb.active", 0);
    fluid_settings_setint(s.settings, "synth.chorus.active", 0);
    s.synth = new_fluid_synth(s.settings);
    if (s.synth == nullptr) {
        delete_fluid_settings(s.settings);
        s.settings = nullptr;
    }
    return s;
}

void FluidSynthEngine::destroySynth(Synth& s) {
    if (s.synth) delete_fluid_synth(s.synth);
    if (s.settings) delete_fluid_settings(s.settings);
    s = Synth{};
}

// ---------------------------------------------------------------- control side

void FluidSynthEngine::prepare(float sampleRate) {
    const std::lock_guard lock(m_controlMutex);
    holdGateBetweenBlocks();
    m_sampleRate = std::max(sampleRate, 8000.0f);
    m_scratchLeft.assign(config::maxBlockFrames, 0.0f);
    m_scratchRight.assign(config::maxBlockFrames, 0.0f);
    if (m_melodic.synth == nullptr && m_drums.synth == nullptr) {
        m_loader = createSynth(m_sampleRate, 16, 0.2, true);
        m_melodic = createSynth(m_sampleRate, 192, 1.38, false);
        m_drums = createSynth(m_sampleRate, 96, 0.78, false);
        for (int channel = 0; channel < channelCount; ++channel)
            refreshControllers(channel, -1);
    } else {
        // Changing only the setting is ignored by a synthesizer that already exists;
        // the library's own rate change retunes its voices and keeps fonts and programs.
        for (Synth* s : {&m_melodic, &m_drums}) {
            if (s->synth == nullptr) continue;
            fluid_settings_setnum(s->settings, "synth.sample-rate", m_sampleRate);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
            fluid_synth_set_sample_rate(s->synth, m_sampleRate);
#pragma GCC diagnostic pop
        }
    }
    releaseGate();
}

// Control mutex held. Reads the font with the loader, then hands it to `target`.
FluidSynthEngine::LoadedFont FluidSynthEngine::loadInto(Synth& target, QHash<QString, LoadedFont>& fonts,
                                                        bool listPresets, const QString& path) {
    if (target.synth == nullptr || m_loader.synth == nullptr) return {};
    const QFileInfo file(resolveSoundFontPath(path));
    if (!file.isFile()) return {};
    const QString key = file.absoluteFilePath();
    if (const auto hit = fonts.constFind(key); hit != fonts.constEnd()) return hit.value();

    const int loadedId = fluid_synth_sfload(m_loader.synth, key.toLocal8Bit().constData(), 0);
    if (loadedId == FLUID_FAILED) return {};
    fluid_sfont_t* font = fluid_synth_get_sfont_by_id(m_loader.synth, loadedId);
    if (font == nullptr || fluid_synth_remove_sfont(m_loader.synth, font) != FLUID_OK) return {};
    // Listed while the font is still ours alone: iterating moves the font's cursor.
    QList<Sf2PresetInfo> presets;
    if (listPresets) {
        fluid_sfont_iteration_start(font);
        while (fluid_preset_t* preset = fluid_sfont_iteration_next(font))
            presets.append({key, -1, fluid_preset_get_banknum(preset), fluid_preset_get_num(preset),
                            QString::fromUtf8(fluid_preset_get_name(preset))});
    }

    // The hand-over, in one step between two blocks: what is queued applies first,
    // then the font joins, and every channel the library re-picked from the newest
    // font gets its own program back before any note can start.
    holdGateBetweenBlocks();
    applyQueued();
    const int id = fluid_synth_add_sfont(target.synth, font);
    if (id != FLUID_FAILED) restorePrograms(target.synth);
    releaseGate();

    if (id == FLUID_FAILED) {
        fluid_synth_add_sfont(m_loader.synth, font); // freed with the loader
        return {};
    }

    const LoadedFont loaded{id, font};
    fonts.insert(key, loaded);
    if (listPresets) {
        for (Sf2PresetInfo& preset : presets)
            preset.sfontId = id;
        m_presets.insert(key, presets);
    }
    return loaded;
}

// Under the control mutex and the gate.
void FluidSynthEngine::restorePrograms(fluid_synth_t* target) {
    if (target == m_melodic.synth) {
        for (int channel = 0; channel < channelCount; ++channel) {
            const ChannelProgram& p = m_melodicPrograms[channel];
            if (p.fontId >= 0) fluid_synth_program_select(target, channel, p.fontId, p.bank, p.program);
        }
    } else if (m_drumProgram.fontId >= 0) {
        fluid_synth_program_select(target, drumChannel, m_drumProgram.fontId, m_drumProgram.bank,
                                   m_drumProgram.program);
    }
}

int FluidSynthEngine::loadSoundFont(const QString& path) {
    const std::lock_guard lock(m_controlMutex);
    return loadInto(m_melodic, m_melodicFonts, true, path).id;
}

bool FluidSynthEngine::selectProgram(int channel, const QString& path, int bank, int program) {
    const std::lock_guard lock(m_controlMutex);
    if (m_melodic.synth == nullptr || !validChannel(channel)) return false;
    const LoadedFont font = loadInto(m_melodic, m_melodicFonts, true, path);
    // Fonts stay loaded, so a preset found here is found when the block selects it.
    if (font.font == nullptr || fluid_sfont_get_preset(font.font, bank, program) == nullptr) return false;
    m_melodicPrograms[channel] = {font.id, bank, program};
    post({.kind = Message::ProgramSelect,
          .channel = static_cast<std::int8_t>(channel),
          .value = font.id,
          .bank = static_cast<std::int16_t>(bank),
          .program = static_cast<std::int16_t>(program)});
    return true;
}

bool FluidSynthEngine::selectDrumKit(const QString& path, int bank, int program) {
    const std::lock_guard lock(m_controlMutex);
    if (m_drums.synth == nullptr) return false;
    const LoadedFont font = loadInto(m_drums, m_drumFonts, false, path);
    if (font.font == nullptr || fluid_sfont_get_preset(font.font, bank, program) == nullptr) return false;
    m_drumProgram = {font.id, bank, program};
    post({.kind = Message::DrumKit,
          .channel = drumChannel,
          .value = font.id,
          .bank = static_cast<std::int16_t>(bank),
          .program = static_cast<std::int16_t>(program)});
    return true;
}

void FluidSynthEngine::postControlChange(int channel, int controller, int value) {
    if (!validChannel(channel) || controller < 0 || controller > 127) return;
    const std::lock_guard lock(m_controlMutex);
    post({.kind = Message::ControlChange,
          .channel = static_cast<std::int8_t>(channel),
          .data1 = static_cast<std::uint8_t>(controller),
          .data2 = static_cast<std::uint8_t>(std::clamp(value, 0, 127))});
}

QList<Sf2PresetInfo> FluidSynthEngine::enumeratePresets(const QString& path) const {
    const std::lock_guard lock(m_controlMutex);
    if (m_melodic.synth == nullptr) return {};
    const QFileInfo file(resolveSoundFontPath(path));
    return m_presets.value(file.absoluteFilePath());
}

// Control mutex held.
void FluidSynthEngine::post(const Message& message) {
    const std::size_t write = m_commandWrite.load(std::memory_order_relaxed);
    const std::size_t next = (write + 1) % commandSlots;
    if (next != m_commandRead.load(std::memory_order_acquire)) {
        m_commands[write] = message;
        m_commandWrite.store(next, std::memory_order_release);
        return;
    }
    // Nothing has rendered for a long while (the backends are stopped): apply here,
    // in order, rather than drop a change.
    holdGateBetweenBlocks();
    applyQueued();
    apply(message);
    releaseGate();
}

// Right after a block ends the audio thread stays away longest, so while another
// thread renders, the gate is taken at that moment (waiting at most 50 ms, should
// the blocks stop).
void FluidSynthEngine::holdGateBetweenBlocks() {
    using namespace std::chrono_literals;
    const bool otherThreadRenders =
        m_renderThread.load(std::memory_order_relaxed) != std::this_thread::get_id() &&
        steadyNanoseconds() - m_lastBlockNs.load(std::memory_order_relaxed) < 50'000'000;
    if (otherThreadRenders) {
        const std::uint64_t ended = m_blocksEnded.load(std::memory_order_acquire);
        const auto deadline = std::chrono::steady_clock::now() + 50ms;
        while (m_blocksEnded.load(std::memory_order_acquire) == ended &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(50us);
    }
    while (m_gate.exchange(true, std::memory_order_acquire))
        std::this_thread::sleep_for(50us);
}

void FluidSynthEngine::releaseGate() noexcept {
    m_gate.store(false, std::memory_order_release);
}

// ---------------------------------------------------------------- audio side

bool FluidSynthEngine::tryOpenForAudio() noexcept {
    if (m_gate.exchange(true, std::memory_order_acquire)) return false;
    // What the audio side kept while the gate was busy, then the control side's changes.
    for (std::size_t i = 0; i < m_deferredCount; ++i)
        apply(m_deferred[i]);
    m_deferredCount = 0;
    applyQueued();
    for (int channel = 0; channel < channelCount; ++channel)
        applyTuning(channel);
    return true;
}

void FluidSynthEngine::beginBlock() noexcept {
    m_renderThread.store(std::this_thread::get_id(), std::memory_order_relaxed);
    m_lastBlockNs.store(steadyNanoseconds(), std::memory_order_relaxed);
    m_blockOpen = tryOpenForAudio();
    m_inBlock = true;
    if (!m_blockOpen) m_blocksWithoutSynths.fetch_add(1, std::memory_order_relaxed);
}

void FluidSynthEngine::endBlock() noexcept {
    if (!m_inBlock) return;
    m_inBlock = false;
    if (m_blockOpen) releaseGate();
    m_blockOpen = false;
    m_blocksEnded.fetch_add(1, std::memory_order_release);
}

// Under the gate.
void FluidSynthEngine::applyQueued() noexcept {
    std::size_t read = m_commandRead.load(std::memory_order_relaxed);
    const std::size_t end = m_commandWrite.load(std::memory_order_acquire);
    while (read != end) {
        apply(m_commands[read]);
        read = (read + 1) % commandSlots;
    }
    m_commandRead.store(read, std::memory_order_release);
}

void FluidSynthEngine::play(const Message& message) noexcept {
    const AudioAccess access(*this);
    if (access.open()) {
        apply(message);
    } else if (m_deferredCount < deferredSlots) {
        m_deferred[m_deferredCount++] = message;
    } else {
        m_droppedMessages.fetch_add(1, std::memory_order_relaxed);
    }
}

// Under the gate.
void FluidSynthEngine::apply(const Message& m) noexcept {
    fluid_synth_t* const melodic = m_melodic.synth;
    fluid_synth_t* const drums = m_drums.synth;
    const int channel = m.channel;
    switch (m.kind) {
    case Message::NoteOn:
        if (melodic) fluid_synth_noteon(melodic, channel, m.data1, m.data2);
        break;
    case Message::NoteOff:
        if (melodic) fluid_synth_noteoff(melodic, channel, m.data1);
        break;
    case Message::ControlChange:
        if (melodic == nullptr) break;
        fluid_synth_cc(melodic, channel, m.data1, m.data2);
        refreshControllers(channel, m.data1);
        break;
    case Message::PitchBend:
        if (melodic) fluid_synth_pitch_bend(melodic, channel, m.value);
        break;
    case Message::AllNotesOff:
        if (melodic == nullptr) break;
        for (int c = channel < 0 ? 0 : channel; c <= (channel < 0 ? channelCount - 1 : channel); ++c) {
            fluid_synth_cc(melodic, c, 64, 0);
            fluid_synth_all_notes_off(melodic, c);
            refreshControllers(c, 64);
        }
        break;
    case Message::DrumNoteOn:
        if (drums) fluid_synth_noteon(drums, drumChannel, m.data1, m.data2);
        break;
    case Message::DrumNoteOff:
        if (drums) fluid_synth_noteoff(drums, drumChannel, m.data1);
        break;
    case Message::DrumControlChange:
        if (drums) fluid_synth_cc(drums, drumChannel, m.data1, m.data2);
        break;
    case Message::ProgramSelect:
        if (melodic && fluid_synth_program_select(melodic, channel, m.value, m.bank, m.program) == FLUID_OK) {
            m_channelIsKit[channel] = m.bank == kitBank;
            applyTuning(channel);
        }
        break;
    case Message::DrumKit:
        if (drums == nullptr) break;
        fluid_synth_set_channel_type(drums, drumChannel,
                                     m.bank == kitBank ? CHANNEL_TYPE_DRUM : CHANNEL_TYPE_MELODIC);
        fluid_synth_program_select(drums, drumChannel, m.value, m.bank, m.program);
        break;
    }
}

// Under the gate: the channel's offset in cents from the font's own tuning.
void FluidSynthEngine::applyTuning(int channel) noexcept {
    if (m_melodic.synth == nullptr) return;
    const float cents = m_channelIsKit[channel] ? 0.0f : m_tuningCents.load(std::memory_order_relaxed);
    if (cents == m_appliedCents[channel]) return;
    fluid_synth_set_gen(m_melodic.synth, channel, GEN_FINETUNE, cents);
    m_appliedCents[channel] = cents;
}

// Under the gate: publishes one controller of a channel, or all of them (-1, and
// after a reset of all controllers).
void FluidSynthEngine::refreshControllers(int channel, int controller) noexcept {
    if (m_melodic.synth == nullptr || !validChannel(channel)) return;
    const bool all = controller < 0 || controller == 121;
    for (int cc = all ? 0 : controller; cc <= (all ? 127 : controller); ++cc) {
        int value = -1;
        if (fluid_synth_get_cc(m_melodic.synth, channel, cc, &value) != FLUID_OK) value = -1;
        m_controllers[static_cast<std::size_t>(channel * 128 + cc)].store(static_cast<std::int8_t>(value),
                                                                          std::memory_order_relaxed);
    }
}

void FluidSynthEngine::noteOn(int channel, int key, int velocity) noexcept {
    if (!validChannel(channel)) return;
    play({.kind = Message::NoteOn,
          .channel = static_cast<std::int8_t>(channel),
          .data1 = static_cast<std::uint8_t>(std::clamp(key, 0, 255)),
          .data2 = static_cast<std::uint8_t>(std::clamp(velocity, 0, 255))});
}

void FluidSynthEngine::noteOff(int channel, int key) noexcept {
    if (!validChannel(channel)) return;
    play({.kind = Message::NoteOff,
          .channel = static_cast<std::int8_t>(channel),
          .data1 = static_cast<std::uint8_t>(std::clamp(key, 0, 255))});
}

void FluidSynthEngine::controlChange(int channel, int controller, int value) noexcept {
    if (!validChannel(channel) || controller < 0 || controller > 127) return;
    play({.kind = Message::ControlChange,
          .channel = static_cast<std::int8_t>(channel),
          .data1 = static_cast<std::uint8_t>(controller),
          .data2 = static_cast<std::uint8_t>(std::clamp(value, 0, 127))});
}

void FluidSynthEngine::pitchBend(int channel, int value) noexcept {
    if (!validChannel(channel)) return;
    play({.kind = Message::PitchBend,
          .channel = static_cast<std::int8_t>(channel),
          .value = std::clamp(value + 8192, 0, 16383)});
}

void FluidSynthEngine::allNotesOff(int channel) noexcept {
    if (channel >= channelCount) return;
    play({.kind = Message::AllNotesOff, .channel = static_cast<std::int8_t>(std::max(channel, -1))});
}

void FluidSynthEngine::drumNoteOn(int key, int velocity) noexcept {
    play({.kind = Message::DrumNoteOn,
          .data1 = static_cast<std::uint8_t>(std::clamp(key, 0, 255)),
          .data2 = static_cast<std::uint8_t>(std::clamp(velocity, 0, 255))});
}

void FluidSynthEngine::drumNoteOff(int key) noexcept {
    play({.kind = Message::DrumNoteOff, .data1 = static_cast<std::uint8_t>(std::clamp(key, 0, 255))});
}

void FluidSynthEngine::drumControlChange(int controller, int value) noexcept {
    if (controller < 0 || controller > 127) return;
    play({.kind = Message::DrumControlChange,
          .data1 = static_cast<std::uint8_t>(controller),
          .data2 = static_cast<std::uint8_t>(std::clamp(value, 0, 127))});
}

void FluidSynthEngine::setTuning(float tuningHz) noexcept {
    if (!(tuningHz > 0.0f)) return;
    // The range the SFZ piano accepts too: A4 from 415 to 466 Hz.
    m_tuningCents.store(1200.0f * std::log2(std::clamp(tuningHz, 415.0f, 466.0f) / 440.0f),
                        std::memory_order_relaxed);
    // While a hand-over holds the gate, the next block that opens it applies this.
    const AudioAccess access(*this);
    if (!access.open()) return;
    for (int channel = 0; channel < channelCount; ++channel)
        applyTuning(channel);
}

void FluidSynthEngine::render(fluid_synth_t* synth, std::atomic<int>& published, float* left, float* right,
                              std::uint32_t frames) noexcept {
    if (synth == nullptr || frames == 0 || frames > config::maxBlockFrames) return;
    const AudioAccess access(*this);
    if (!access.open()) return;
    const int voices = fluid_synth_get_active_voice_count(synth);
    published.store(voices, std::memory_order_relaxed);
    // A silent synthesizer costs nothing.
    if (voices == 0) return;
    float* scratchLeft = m_scratchLeft.data();
    float* scratchRight = m_scratchRight.data();
    std::fill_n(scratchLeft, frames, 0.0f);
    std::fill_n(scratchRight, frames, 0.0f);
    fluid_synth_write_float(synth, static_cast<int>(frames), scratchLeft, 0, 1, scratchRight, 0, 1);
    for (std::uint32_t i = 0; i < frames; ++i) {
        left[i] += scratchLeft[i];
        right[i] += scratchRight[i];
    }
}

void FluidSynthEngine::renderBlock(float* left, float* right, std::uint32_t frames) noexcept {
    render(m_melodic.synth, m_melodicVoices, left, right, frames);
}

void FluidSynthEngine::renderDrumBlock(float* left, float* right, std::uint32_t frames) noexcept {
    render(m_drums.synth, m_drumVoices, left, right, frames);
}

// ---------------------------------------------------------------- any thread

int FluidSynthEngine::activeVoiceCount() const noexcept {
    return m_melodicVoices.load(std::memory_order_relaxed) + m_drumVoices.load(std::memory_order_relaxed);
}

int FluidSynthEngine::controllerValue(int channel, int controller) const noexcept {
    if (!validChannel(channel) || controller < 0 || controller > 127) return -1;
    return m_controllers[static_cast<std::size_t>(channel * 128 + controller)].load(
        std::memory_order_relaxed);
}

} // namespace tmb
