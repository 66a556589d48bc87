// The mixer on the controller: the seven channel strips (held by the audio
// engine), the style band's volumes sent as channel-volume controllers to the
// SoundFont channels the arranger plays, the one-touch balance presets, and the
// reset of performance modifiers.

#include "WorkstationController.h"

#include <cmath>

namespace tmb {

namespace {

constexpr int channelVolumeController = 7;
constexpr float unchanged = -1.0f;

// NaN from the scene counts as the low end, as in the other setters.
float clamp01(float value) {
    return std::isnan(value) ? 0.0f : std::clamp(value, 0.0f, 1.0f);
}

MixerChannelId channelId(int chIndex) {
    return static_cast<MixerChannelId>(chIndex);
}

// One balance preset: channel and band levels in the order they are applied;
// `unchanged` leaves a value alone.
struct MixBalancePreset {
    float piano, layer2, splitBass, beats;
    float style, lead, chord, bass;
    float mic, master;
    bool muteStyle;
    const char* banner;
};

constexpr MixBalancePreset mixBalancePresets[] = {
    {0.88f, 0.72f, 0.84f, 0.78f, 0.85f, 0.85f, 0.85f, 0.90f, 0.85f, 0.92f, false,
     "MIX PRESET: Balanced Full Stage (Piano 88% • Beats 78% • Style Band 85%)"},
    {1.00f, 0.55f, 0.70f, 0.52f, 0.55f, 0.00f, 0.58f, 0.68f, 0.85f, 0.92f, false,
     "MIX PRESET: Piano Solo Forward (Keys 100% • Soft Beats 52% • Backing 55%)"},
    {0.86f, 0.80f, 0.88f, 0.84f, 0.95f, 0.92f, 0.88f, 0.95f, 0.98f, 0.95f, false,
     "MIX PRESET: Sing-Along Full Band (Style Band 95% • Beats 84% • Vocal Mic 98%)"},
    {0.92f, 0.88f, 0.78f, 0.58f, 0.72f, 0.55f, 0.90f, 0.76f, 0.90f, 0.92f, false,
     "MIX PRESET: Worship Pad & Keys (Piano 92% • Layer 2 Pad 88% • Gentle Beats 58%)"},
    {0.90f, 0.78f, 0.96f, 0.95f, 0.96f, 0.96f, 0.86f, 1.00f, 0.88f, 0.95f, false,
     "MIX PRESET: Dance & Praise Punch (Beats 95% • Style Band 96% • Bass 100%)"},
    {unchanged, unchanged, unchanged, 0.88f, unchanged, unchanged, unchanged, unchanged, unchanged, unchanged,
     true, "MIX PRESET: Drum Beats Only (Style Accompaniment Muted • Beats 88%)"},
    {unchanged, unchanged, unchanged, 0.30f, 0.92f, unchanged, unchanged, unchanged, unchanged, unchanged,
     false, "MIX PRESET: Style Instruments Focus (Style Band 92% • Soft Drum Beats 30%)"},
};

} // namespace

// ---------------------------------------------------------------- channel strips

float WorkstationController::channelVolume(int chIndex) const {
    return isValidMixerChannel(chIndex) ? m_audioEngine.channelVolume(channelId(chIndex)) : 0.0f;
}

void WorkstationController::setChannelVolume(int chIndex, float vol01) {
    m_audioEngine.setChannelVolume(channelId(chIndex), std::isnan(vol01) ? 0.0f : vol01);
    notifyMeters();
    notifyArrangerState();
}

void WorkstationController::setNamedChannelVolume(MixerChannelId id, float volume) {
    setChannelVolume(static_cast<int>(id), clamp01(volume));
}

float WorkstationController::channelPan(int chIndex) const {
    return isValidMixerChannel(chIndex) ? m_audioEngine.channelPan(channelId(chIndex)) : 0.0f;
}

void WorkstationController::setChannelPan(int chIndex, float pan) {
    m_audioEngine.setChannelPan(channelId(chIndex), std::isnan(pan) ? 0.0f : pan);
    notifyMeters();
}

bool WorkstationController::isChannelMuted(int chIndex) const {
    return isValidMixerChannel(chIndex) && m_audioEngine.isChannelMuted(channelId(chIndex));
}

void WorkstationController::setChannelMuted(int chIndex, bool muted) {
    m_audioEngine.setChannelMuted(channelId(chIndex), muted);
    notifyMeters();
    notifyArrangerState();
}

bool WorkstationController::isChannelSoloed(int chIndex) const {
    return isValidMixerChannel(chIndex) && m_audioEngine.isChannelSoloed(channelId(chIndex));
}

void WorkstationController::setChannelSoloed(int chIndex, bool soloed) {
    m_audioEngine.setChannelSoloed(channelId(chIndex), soloed);
    notifyMeters();
}

float WorkstationController::channelPeakL(int chIndex) const {
    return isValidMixerChannel(chIndex) ? m_audioEngine.channelPeakL(channelId(chIndex)) : 0.0f;
}

float WorkstationController::channelPeakR(int chIndex) const {
    return isValidMixerChannel(chIndex) ? m_audioEngine.channelPeakR(channelId(chIndex)) : 0.0f;
}

void WorkstationController::resetMasterClipIndicator() {
    m_audioEngine.resetClipIndicator();
    notifyMeters();
}

// ---------------------------------------------------------------- style band

int WorkstationController::stylePartChannelVolume(ArrangerState::Part part) const {
    switch (part) {
    case ArrangerState::Bass:
        return styleBandChannelVolume(m_styleVolume, m_styleBassVolume, m_styleMuted);
    case ArrangerState::Rhythm:
    case ArrangerState::Harmony:
        return styleBandChannelVolume(m_styleVolume, m_styleChordVolume, m_styleMuted);
    case ArrangerState::Lead:
        // Playing with the keyboard, the player's right hand is the lead.
        return styleBandChannelVolume(m_styleVolume, m_styleLeadVolume,
                                      m_styleMuted || m_arranger.arrangerPlayMode == 1);
    }
    return 0;
}

void WorkstationController::sendStylePartVolume(ArrangerState::Part part) {
    m_audioEngine.fluidSynth.postControlChange(m_arranger.parts[part].channel, channelVolumeController,
                                               stylePartChannelVolume(part));
}

void WorkstationController::sendStyleBandVolumes() {
    // Chords, bass, lead, pad: channels 3, 4, 5, 6.
    for (ArrangerState::Part part :
         {ArrangerState::Rhythm, ArrangerState::Bass, ArrangerState::Lead, ArrangerState::Harmony})
        sendStylePartVolume(part);
}

// Stores a part level; false when it moved by 0.001 or less (nothing to send).
bool WorkstationController::setStylePartLevel(float& stored, float level) {
    level = clamp01(level);
    if (std::fabs(level - stored) <= 0.001f) return false;
    stored = level;
    return true;
}

void WorkstationController::setStyleVolume(float volume) {
    if (!setStylePartLevel(m_styleVolume, volume)) return;
    sendStyleBandVolumes();
    if (m_styleVolume <= 0.01f) releaseActiveHymnAndArrangerNotes();
    notifyArrangerState();
}

void WorkstationController::setStyleMuted(bool muted) {
    if (muted == m_styleMuted) return;
    m_styleMuted = muted;
    sendStyleBandVolumes();
    if (muted) releaseActiveHymnAndArrangerNotes();
    notifyArrangerState();
}

void WorkstationController::setStyleBassVolume(float level) {
    if (!setStylePartLevel(m_styleBassVolume, level)) return;
    sendStylePartVolume(ArrangerState::Bass);
    if (m_styleBassVolume <= 0.01f) m_band.releasePart(ArrangerState::Bass);
    notifyArrangerState();
}

void WorkstationController::setStyleChordVolume(float level) {
    if (!setStylePartLevel(m_styleChordVolume, level)) return;
    sendStylePartVolume(ArrangerState::Rhythm);
    sendStylePartVolume(ArrangerState::Harmony);
    if (m_styleChordVolume <= 0.01f) {
        m_band.releasePart(ArrangerState::Rhythm);
        m_band.releasePart(ArrangerState::Harmony);
    }
    notifyArrangerState();
}

void WorkstationController::setStyleLeadVolume(float level) {
    if (!setStylePartLevel(m_styleLeadVolume, level)) return;
    sendStylePartVolume(ArrangerState::Lead);
    if (m_styleLeadVolume <= 0.01f) m_band.releasePart(ArrangerState::Lead);
    notifyArrangerState();
}

void WorkstationController::releaseActiveHymnAndArrangerNotes() {
    stopPitchPipe();
    m_hymnTutor.releaseSounding();
    for (ArrangerState::Part part :
         {ArrangerState::Bass, ArrangerState::Rhythm, ArrangerState::Harmony, ArrangerState::Lead})
        m_band.releasePart(part);
}

// ---------------------------------------------------------------- balance presets

void WorkstationController::applyMixBalancePreset(int presetIndex) {
    for (MixerChannelId id :
         {MixerChannelId::Piano, MixerChannelId::Layer2, MixerChannelId::SplitBass, MixerChannelId::Beats})
        setChannelMuted(static_cast<int>(id), false);
    if (m_styleMuted) setStyleMuted(false);
    setChannelMuted(static_cast<int>(MixerChannelId::Mic), false);

    if (presetIndex >= 0 && presetIndex < static_cast<int>(std::size(mixBalancePresets))) {
        const MixBalancePreset& preset = mixBalancePresets[presetIndex];
        auto apply = [](float value, auto&& set) {
            if (value != unchanged) set(value);
        };
        apply(preset.piano, [this](float v) { setChannelVolume(0, v); });
        apply(preset.layer2, [this](float v) { setChannelVolume(1, v); });
        apply(preset.splitBass, [this](float v) { setChannelVolume(2, v); });
        apply(preset.beats, [this](float v) { setChannelVolume(3, v); });
        if (preset.muteStyle) setStyleMuted(true);
        apply(preset.style, [this](float v) { setStyleVolume(v); });
        apply(preset.lead, [this](float v) { setStyleLeadVolume(v); });
        apply(preset.chord, [this](float v) { setStyleChordVolume(v); });
        apply(preset.bass, [this](float v) { setStyleBassVolume(v); });
        apply(preset.mic, [this](float v) { setChannelVolume(5, v); });
        apply(preset.master, [this](float v) { setChannelVolume(6, v); });
        m_statusBanner = QString::fromUtf8(preset.banner);
    }
    Q_EMIT statusBannerChanged();
    notifyArrangerState();
    notifyMeters();
}

// ---------------------------------------------------------------- performance modifiers

void WorkstationController::resetPerformanceModifiersToDefaults(bool stopArranger) {
    m_params.autoPedalEnabled = false;
    m_params.sustainPedal = false;
    m_params.sostenutoPedal = false;
    m_params.softPedal = false;
    m_params.continuousPedal = 0.0f;
    m_params.octaveShift = 0;
    m_sustainLatched = false;

    m_zones.layer2Enabled = false;
    m_zones.splitEnabled = false;
    m_zones.arpeggiatorEnabled = false;
    m_zones.chordMemoryEnabled = false;
    m_arranger.smartChordEnabled = false;

    if (stopArranger) {
        m_arranger.proArrangerEnabled = false;
        m_arranger.bandActive = false;
        releaseActiveHymnAndArrangerNotes();
    }

    Harmonizer::PitchSet released;
    if (m_harmonizer.setEnabled(false, &released)) {
        // Switching off released every auto-tune voice.
        releaseKeyLights(released);
        setAutoTuneStatusText(QStringLiteral("OFF • Manual Performance"));
        notifyAutoTuneState();
    }

    if (m_hymnTutor.setPlaying(false)) { // stopping releases its notes
        notifyHymnState();
        notifyHymnStep();
        notifyKeyboardState();
    }

    for (int controller : {64, 66, 67})
        m_audioEngine.submitMidiEvent(MidiEvent::controlChange(0, controller, 0));
    pushPianoParameters();
    pushWorkstationState();
    setLastMidiControlText(QStringLiteral("Ready • Manual Performance"));

    notifyPedalState();
    notifyPianoParams();
    notifyWorkstation();
    notifyArrangerState();
    notifyMidiActivity();
}

} // namespace tmb
