#include "FluidSynthEngine.h"

#include "SoundFontPaths.h"
#include "audio/RealtimeConfig.h"

#include <fluidsynth.h>
#include <glib.h>

#include <QFileInfo>

#include <algorithm>

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

} // namespace

FluidSynthEngine::FluidSynthEngine() {
    silenceLibraryLog();
    prepare(48000.0f);
}

FluidSynthEngine::~FluidSynthEngine() {
    // The fonts were read by the loader; it goes last.
    destroySynth(m_melodic);
    destroySynth(m_drums);
    destroySynth(m_loader);
}

FluidSynthEngine::Synth FluidSynthEngine::createSynth(float sampleRate, int polyphony, double gain) {
    Synth s;
    s.settings = new_fluid_settings();
    if (s.settings == nullptr) return s;
    fluid_settings_setnum(s.settings, "synth.sample-rate", sampleRate);
    fluid_settings_setint(s.settings, "synth.polyphony", polyphony);
    fluid_settings_setnum(s.settings, "synth.gain", gain);
    // Samples are read with the font, off the audio path; read on demand they
    // would be read by a program change while the library holds the lock that the
    // audio thread's note and render calls wait on.
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

void FluidSynthEngine::prepare(float sampleRate) {
    const std::lock_guard lock(m_controlMutex);
    m_sampleRate = std::max(sampleRate, 8000.0f);
    m_scratchLeft.assign(config::maxBlockFrames, 0.0f);
    m_scratchRight.assign(config::maxBlockFrames, 0.0f);
    if (m_melodic.synth == nullptr && m_drums.synth == nullptr) {
        m_loader = createSynth(m_sampleRate, 16, 0.2);
        m_melodic = createSynth(m_sampleRate, 192, 1.38);
        m_drums = createSynth(m_sampleRate, 96, 0.78);
        return;
    }
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

// Control mutex held. Reads the font with the loader, then moves it into `target`.
int FluidSynthEngine::loadInto(fluid_synth_t* target, QHash<QString, int>& fonts, bool listPresets,
                               const QString& path) {
    if (target == nullptr || m_loader.synth == nullptr) return -1;
    const QFileInfo file(resolveSoundFontPath(path));
    if (!file.isFile()) return -1;
    const QString key = file.absoluteFilePath();
    if (const auto hit = fonts.constFind(key); hit != fonts.constEnd()) return hit.value();

    const int loadedId = fluid_synth_sfload(m_loader.synth, key.toLocal8Bit().constData(), 0);
    if (loadedId == FLUID_FAILED) return -1;
    fluid_sfont_t* font = fluid_synth_get_sfont_by_id(m_loader.synth, loadedId);
    if (font == nullptr || fluid_synth_remove_sfont(m_loader.synth, font) != FLUID_OK) return -1;

    // Adding a font re-picks every channel's preset by bank and program number
    // from the newest font; the channels chosen here get their own back at once.
    const int id = fluid_synth_add_sfont(target, font);
    if (id == FLUID_FAILED) {
        fluid_synth_add_sfont(m_loader.synth, font); // freed with the loader
        return -1;
    }
    restorePrograms(target);
    fonts.insert(key, id);

    if (listPresets) {
        QList<Sf2PresetInfo> presets;
        fluid_sfont_iteration_start(font);
        while (fluid_preset_t* preset = fluid_sfont_iteration_next(font)) {
            presets.append({key, id, fluid_preset_get_banknum(preset), fluid_preset_get_num(preset),
                            QString::fromUtf8(fluid_preset_get_name(preset))});
        }
        m_presets.insert(key, presets);
    }
    return id;
}

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
    return loadInto(m_melodic.synth, m_melodicFonts, true, path);
}

bool FluidSynthEngine::selectProgram(int channel, const QString& path, int bank, int program) {
    const std::lock_guard lock(m_controlMutex);
    if (m_melodic.synth == nullptr || !validChannel(channel)) return false;
    const int id = loadInto(m_melodic.synth, m_melodicFonts, true, path);
    if (id < 0) return false;
    if (fluid_synth_program_select(m_melodic.synth, channel, id, bank, program) != FLUID_OK) return false;
    m_melodicPrograms[channel] = {id, bank, program};
    return true;
}

bool FluidSynthEngine::selectDrumKit(const QString& path, int bank, int program) {
    const std::lock_guard lock(m_controlMutex);
    if (m_drums.synth == nullptr) return false;
    const int id = loadInto(m_drums.synth, m_drumFonts, false, path);
    if (id < 0) return false;
    const int previousType =
        m_drumProgram.fontId >= 0 && m_drumProgram.bank != 128 ? CHANNEL_TYPE_MELODIC : CHANNEL_TYPE_DRUM;
    fluid_synth_set_channel_type(m_drums.synth, drumChannel,
                                 bank == 128 ? CHANNEL_TYPE_DRUM : CHANNEL_TYPE_MELODIC);
    if (fluid_synth_program_select(m_drums.synth, drumChannel, id, bank, program) != FLUID_OK) {
        // The previous kit stays, and so does the channel type it needs.
        fluid_synth_set_channel_type(m_drums.synth, drumChannel, previousType);
        return false;
    }
    m_drumProgram = {id, bank, program};
    return true;
}

QList<Sf2PresetInfo> FluidSynthEngine::enumeratePresets(const QString& path) const {
    const std::lock_guard lock(m_controlMutex);
    if (m_melodic.synth == nullptr) return {};
    const QFileInfo file(resolveSoundFontPath(path));
    return m_presets.value(file.absoluteFilePath());
}

// ---------------------------------------------------------------- audio thread

void FluidSynthEngine::noteOn(int channel, int key, int velocity) noexcept {
    if (m_melodic.synth) fluid_synth_noteon(m_melodic.synth, channel, key, velocity);
}

void FluidSynthEngine::noteOff(int channel, int key) noexcept {
    if (m_melodic.synth) fluid_synth_noteoff(m_melodic.synth, channel, key);
}

void FluidSynthEngine::controlChange(int channel, int controller, int value) noexcept {
    if (m_melodic.synth) fluid_synth_cc(m_melodic.synth, channel, controller, value);
}

void FluidSynthEngine::pitchBend(int channel, int value) noexcept {
    if (m_melodic.synth) fluid_synth_pitch_bend(m_melodic.synth, channel, std::clamp(value + 8192, 0, 16383));
}

void FluidSynthEngine::allNotesOff(int channel) noexcept {
    if (m_melodic.synth == nullptr) return;
    const int first = channel < 0 ? 0 : channel;
    const int last = channel < 0 ? channelCount - 1 : channel;
    for (int c = first; c <= last; ++c) {
        fluid_synth_cc(m_melodic.synth, c, 64, 0);
        fluid_synth_all_notes_off(m_melodic.synth, c);
    }
}

void FluidSynthEngine::drumNoteOn(int key, int velocity) noexcept {
    if (m_drums.synth) fluid_synth_noteon(m_drums.synth, drumChannel, key, velocity);
}

void FluidSynthEngine::drumNoteOff(int key) noexcept {
    if (m_drums.synth) fluid_synth_noteoff(m_drums.synth, drumChannel, key);
}

void FluidSynthEngine::drumControlChange(int controller, int value) noexcept {
    if (m_drums.synth) fluid_synth_cc(m_drums.synth, drumChannel, controller, value);
}

void FluidSynthEngine::render(fluid_synth_t* synth, float* scratchLeft, float* scratchRight, float* left,
                              float* right, std::uint32_t frames) noexcept {
    if (synth == nullptr || frames == 0 || frames > config::maxBlockFrames) return;
    // A silent synthesizer costs nothing.
    if (fluid_synth_get_active_voice_count(synth) == 0) return;
    std::fill_n(scratchLeft, frames, 0.0f);
    std::fill_n(scratchRight, frames, 0.0f);
    fluid_synth_write_float(synth, static_cast<int>(frames), scratchLeft, 0, 1, scratchRight, 0, 1);
    for (std::uint32_t i = 0; i < frames; ++i) {
        left[i] += scratchLeft[i];
        right[i] += scratchRight[i];
    }
}

void FluidSynthEngine::renderBlock(float* left, float* right, std::uint32_t frames) noexcept {
    render(m_melodic.synth, m_scratchLeft.data(), m_scratchRight.data(), left, right, frames);
}

void FluidSynthEngine::renderDrumBlock(float* left, float* right, std::uint32_t frames) noexcept {
    render(m_drums.synth, m_scratchLeft.data(), m_scratchRight.data(), left, right, frames);
}

int FluidSynthEngine::activeVoiceCount() const noexcept {
    int count = 0;
    for (const Synth* s : {&m_melodic, &m_drums})
        if (s->synth) count += fluid_synth_get_active_voice_count(s->synth);
    return count;
}

int FluidSynthEngine::controllerValue(int channel, int controller) const noexcept {
    int value = -1;
    if (m_melodic.synth == nullptr || !validChannel(channel) || controller < 0 || controller > 127) return -1;
    if (fluid_synth_get_cc(m_melodic.synth, channel, controller, &value) != FLUID_OK) return -1;
    return value;
}

} // namespace tmb
