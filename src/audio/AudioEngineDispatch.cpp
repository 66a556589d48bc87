// Realtime event dispatch: every drained or played-back event is interpreted here
// on the audio thread. Notes are routed by channel and keyboard zone to the engines,
// pedals, wheels and bend drive all engines, and the arpeggiator steps once per
// block. Every voice a key starts is recorded, so its note-off releases exactly
// what sounded even when transpose, octave, zones, slot types or chord memory
// changed while the key was held.

#include "AudioEngine.h"

#include <algorithm>
#include <cmath>

namespace tmb {

namespace {

constexpr int drumChannel = 9;
constexpr int layerChannel = 1;
constexpr int splitChannel = 2;
constexpr int firstArrangerChannel = 3;
constexpr int lastArrangerChannel = 6;
// Keys below this re-pedal the automatic damper (lift, then press again).
constexpr int autoPedalBassKey = 54;
constexpr int arpeggiatorVelocity = 96;

// Notes moved by transpose or offsets stay on the keyboard instead of being dropped.
int clampNote(long long note) noexcept {
    return static_cast<int>(std::clamp<long long>(note, 0, 127));
}

long long octaves(std::int32_t count) noexcept {
    return 12LL * static_cast<long long>(count);
}

int fluidChannelOf(VoiceTarget target) noexcept {
    switch (target) {
    case VoiceTarget::SoundFontLayer:
        return layerChannel;
    case VoiceTarget::SoundFontSplit:
        return splitChannel;
    default:
        return 0;
    }
}

} // namespace

int AudioEngine::mapTouchVelocity(int velocity, int touchCurve) noexcept {
    if ((velocity & 0xFF) == 0) return 0;
    if (touchCurve == 3) return 100;
    const double x = std::clamp(static_cast<double>(velocity) / 127.0, 0.0, 1.0);
    const double exponent = touchCurve == 0 ? 0.56 : (touchCurve == 2 ? 1.45 : 0.8);
    // lround rounds half away from zero.
    return static_cast<int>(std::clamp(std::lround(std::pow(x, exponent) * 127.0), 1L, 127L));
}

void AudioEngine::handleRtMidiEvent(const MidiEvent& event) noexcept {
    handleEvent(event, false);
}

void AudioEngine::handlePlaybackEvent(const MidiEvent& event) noexcept {
    handleEvent(event, true);
}

void AudioEngine::handleEvent(const MidiEvent& event, bool fromPlayback) noexcept {
    const int channel = event.channel & 0x0F;
    const int note = event.data1 & 0x7F;
    switch (event.status) {
    case MidiEvent::NoteOn:
    case MidiEvent::NoteOff: {
        const int velocity = event.status == MidiEvent::NoteOn ? (event.data2 & 0x7F) : 0;
        if (m_noteObserver)
            m_noteObserver->noteEvent(event.chordTone ? NoteSource::ChordTones : NoteSource::Events, channel,
                                      velocity > 0, note, velocity);
        if (channel == drumChannel) {
            if (velocity > 0) {
                fluidSynth.drumNoteOn(note, velocity);
                lv2Host.sendMidiNoteOn(drumChannel, static_cast<std::uint8_t>(note),
                                       static_cast<std::uint8_t>(velocity));
            } else {
                fluidSynth.drumNoteOff(note);
                lv2Host.sendMidiNoteOff(drumChannel, static_cast<std::uint8_t>(note));
            }
        } else if (event.chordTone) {
            handleChordTone(note, velocity);
        } else if (channel == layerChannel || channel == splitChannel) {
            handleZoneChannelNote(channel, note, velocity);
        } else if (channel >= firstArrangerChannel && channel <= lastArrangerChannel) {
            if (velocity > 0)
                fluidSynth.noteOn(channel, note, velocity);
            else
                fluidSynth.noteOff(channel, note);
        } else if (velocity > 0) {
            handleKeyboardNoteOn(note, velocity);
        } else {
            handleKeyboardNoteOff(note);
        }
        break;
    }
    case MidiEvent::ControlChange:
        handleControlChange(event, fromPlayback);
        break;
    case MidiEvent::ChannelPressure: {
        const float pressure = static_cast<float>(event.data1 & 0x7F) / 127.0f;
        synths[0].aftertouch = pressure;
        synths[1].aftertouch = pressure;
        break;
    }
    case MidiEvent::PitchBend: {
        const auto bend = static_cast<std::int16_t>(std::clamp<int>(event.pitchBend, -8192, 8191));
        sfzPiano.setPitchBend(bend);
        for (auto& synth : synths)
            synth.setPitchBend(bend);
        for (int c = 0; c < config::keyboardSlotCount; ++c)
            fluidSynth.pitchBend(c, bend);
        break;
    }
    case MidiEvent::Reset:
        handleReset();
        break;
    default:
        break; // program changes and everything else are not the engine's
    }
}

void AudioEngine::handleControlChange(const MidiEvent& event, bool fromPlayback) noexcept {
    const int value = event.data2 & 0x7F;
    switch (event.data1) {
    case 1: // modulation
        synths[0].modWheel = static_cast<float>(value) / 127.0f;
        synths[1].modWheel = static_cast<float>(value) / 127.0f;
        fluidSynth.controlChange(0, 1, value);
        fluidSynth.controlChange(layerChannel, 1, value);
        break;
    case 11: // expression
        m_params.expressionPedal = static_cast<float>(value) / 127.0f;
        fluidSynth.controlChange(0, 11, value);
        fluidSynth.controlChange(layerChannel, 11, value);
        break;
    case 64: { // sustain
        // Only a hardware pedal can be wired the other way round. The program's own
        // pedal events (source client -1) and played-back events, which were stored as
        // heard, already carry the meant value.
        const bool hardware = !fromPlayback && event.sourceClient >= 0;
        const int v = (hardware && m_params.invertPedalPolarity) ? 127 - value : value;
        const bool down = v >= 40;
        m_params.sustainPedal = down;
        m_params.continuousPedal = static_cast<float>(v) / 127.0f;
        sfzPiano.setSustainPedal(down, v, m_params.pedalNoiseVolume);
        synths[0].setSustainPedal(down);
        synths[1].setSustainPedal(down);
        fluidSynth.controlChange(0, 64, v);
        fluidSynth.controlChange(layerChannel, 64, v);
        break;
    }
    case 66: // sostenuto
        m_params.sostenutoPedal = value > 63;
        sfzPiano.setSostenutoPedal(value > 63);
        fluidSynth.controlChange(0, 66, value);
        break;
    case 67: // soft
        m_params.softPedal = value > 63;
        sfzPiano.softPedal = value > 63;
        fluidSynth.controlChange(0, 67, value);
        break;
    default:
        break;
    }
}

void AudioEngine::handleZoneChannelNote(int channel, int note, int velocity) noexcept {
    const bool layer = channel == layerChannel;
    const int owner =
        layer ? VoiceOwnershipTable::layerChannelOwner(note) : VoiceOwnershipTable::splitChannelOwner(note);
    if (velocity == 0) {
        releaseOwner(owner);
        return;
    }
    const int slot = layer ? 1 : 2;
    const int pitch =
        clampNote(note + octaves(layer ? m_state.layer2OctaveOffset : m_state.splitOctaveOffset));
    const bool soundFont = slotEngineType(slot) == SoundEngineType::SoundFont;
    const VoiceTarget target = layer ? (soundFont ? VoiceTarget::SoundFontLayer : VoiceTarget::SynthLayer)
                                     : (soundFont ? VoiceTarget::SoundFontSplit : VoiceTarget::SynthSplit);
    startVoice(owner, target, pitch, velocity);
}

void AudioEngine::handleChordTone(int note, int velocity) noexcept {
    const int owner = VoiceOwnershipTable::chordToneOwner(note);
    std::uint16_t& holds = m_chordToneHolds[static_cast<std::size_t>(note & 0x7F)];
    if (velocity > 0) {
        ++holds;
        dispatchNoteOn(note, velocity, owner);
    } else if (holds > 0 && --holds == 0) {
        releaseOwner(owner);
    }
}

void AudioEngine::handleKeyboardNoteOn(int note, int velocity) noexcept {
    if (m_state.arpeggiatorEnabled) {
        m_arpHeld[note & 0x7F] = true;
        return;
    }
    if (m_params.autoPedalEnabled && !m_params.sustainPedal) {
        // The automatic damper holds the piano; a bass note clears what rang before.
        if (note < autoPedalBassKey) sfzPiano.setSustainPedal(false, 0, 0.0f);
        sfzPiano.setSustainPedal(true, 96, 0.0f);
        synths[0].setSustainPedal(true);
    }
    const int owner = VoiceOwnershipTable::keyboardOwner(note);
    dispatchNoteOn(note, velocity, owner);
    if (m_state.chordMemoryEnabled) {
        dispatchNoteOn(std::min(note + 4, 127), std::max(velocity - 12, 1), owner);
        dispatchNoteOn(std::min(note + 7, 127), std::max(velocity - 15, 1), owner);
    }
}

void AudioEngine::handleKeyboardNoteOff(int note) noexcept {
    m_arpHeld[note & 0x7F] = false;
    // The chord-memory voices belong to the key too, so they go with it.
    releaseOwner(VoiceOwnershipTable::keyboardOwner(note));
}

void AudioEngine::dispatchNoteOnToEngines(int note, int velocity) noexcept {
    dispatchNoteOn(note, velocity, VoiceOwnershipTable::keyboardOwner(note));
}

void AudioEngine::dispatchNoteOffToEngines(int note) noexcept {
    releaseOwner(VoiceOwnershipTable::keyboardOwner(note));
}

void AudioEngine::dispatchNoteOn(int note, int velocity, int owner) noexcept {
    const int sounding =
        clampNote(static_cast<long long>(note) + m_params.transposeSemitones + octaves(m_params.octaveShift));
    const int mapped = mapTouchVelocity(velocity, m_params.touchCurve);
    if (mapped == 0) return;

    // The split point is compared with the transposed note.
    if (m_state.splitEnabled && m_state.splitKey > sounding) {
        const int pitch = clampNote(sounding + octaves(m_state.splitOctaveOffset));
        startVoice(owner,
                   slotEngineType(2) == SoundEngineType::SoundFont ? VoiceTarget::SoundFontSplit
                                                                   : VoiceTarget::SynthSplit,
                   pitch, mapped);
        return;
    }

    const bool layer =
        m_state.velocitySwitchEnabled ? mapped >= m_state.velocityThreshold : m_state.layer2Enabled;

    VoiceTarget mainTarget = VoiceTarget::SoundFontMain;
    switch (slotEngineType(0)) {
    case SoundEngineType::Sfz:
        // A main slot without a loaded piano falls back to the General MIDI piano.
        mainTarget = sfzPiano.hasInstrument() ? VoiceTarget::Sfz : VoiceTarget::SoundFontMain;
        break;
    case SoundEngineType::Synth:
        mainTarget = VoiceTarget::SynthMain;
        break;
    default:
        break;
    }
    startVoice(owner, mainTarget, sounding, mapped);

    if (layer) {
        const int pitch = clampNote(sounding + octaves(m_state.layer2OctaveOffset));
        startVoice(owner,
                   slotEngineType(1) == SoundEngineType::SoundFont ? VoiceTarget::SoundFontLayer
                                                                   : VoiceTarget::SynthLayer,
                   pitch, mapped);
    }
}

void AudioEngine::startVoice(int owner, VoiceTarget target, int pitch, int velocity) noexcept {
    // A voice that cannot be recorded is not started, so it can never hang. A key whose
    // record is full gives up its oldest voice for this one.
    if (!m_voiceOwners.add(owner, target, pitch, velocity,
                           [this](VoiceTarget stolen, int stolenPitch) { stopVoice(stolen, stolenPitch); }))
        return;
    switch (target) {
    case VoiceTarget::Sfz:
        sfzPiano.noteOn(pitch, velocity, m_params.tuningHz);
        break;
    case VoiceTarget::SoundFontMain:
    case VoiceTarget::SoundFontLayer:
    case VoiceTarget::SoundFontSplit:
        fluidSynth.noteOn(fluidChannelOf(target), pitch, velocity);
        break;
    case VoiceTarget::SynthMain:
        synths[0].noteOn(pitch, velocity, m_params.tuningHz);
        break;
    case VoiceTarget::SynthLayer:
        synths[1].noteOn(pitch, velocity, m_params.tuningHz);
        break;
    case VoiceTarget::SynthSplit:
        synths[2].noteOn(pitch, velocity, m_params.tuningHz);
        break;
    }
}

void AudioEngine::stopVoice(VoiceTarget target, int pitch) noexcept {
    switch (target) {
    case VoiceTarget::Sfz:
        sfzPiano.noteOff(pitch, m_params.keyOffVolume);
        break;
    case VoiceTarget::SoundFontMain:
    case VoiceTarget::SoundFontLayer:
    case VoiceTarget::SoundFontSplit:
        fluidSynth.noteOff(fluidChannelOf(target), pitch);
        break;
    case VoiceTarget::SynthMain:
        synths[0].noteOff(pitch);
        break;
    case VoiceTarget::SynthLayer:
        synths[1].noteOff(pitch);
        break;
    case VoiceTarget::SynthSplit:
        synths[2].noteOff(pitch);
        break;
    }
}

void AudioEngine::releaseOwner(int owner) noexcept {
    m_voiceOwners.release(owner, [this](VoiceTarget target, int pitch) { stopVoice(target, pitch); });
}

void AudioEngine::handleReset() noexcept {
    m_arpHeld.fill(false);
    if (m_arpLastNote >= 0) {
        releaseOwner(VoiceOwnershipTable::arpeggiatorOwner);
        m_arpLastNote = -1;
    }
    sfzPiano.allNotesOff();
    for (auto& synth : synths)
        synth.allNotesOff();
    fluidSynth.allNotesOff(-1);
    // Every engine is silent now; no key holds anything any more.
    m_voiceOwners.clear();
    m_chordToneHolds.fill(0);
}

void AudioEngine::processArpeggiator(std::uint32_t frames) noexcept {
    std::array<int, config::arpeggiatorMaxNotes> held{};
    int count = 0;
    if (m_state.arpeggiatorEnabled) {
        for (int n = 0; n < 128 && count < config::arpeggiatorMaxNotes; ++n)
            if (m_arpHeld[n]) held[count++] = n;
    }
    if (count == 0) {
        // Nothing to play: stop the sounding step. The accumulator stands still at 0,
        // so the first step of the next chord comes one full step after its first key;
        // the step counter keeps its place in the pattern.
        if (m_arpLastNote >= 0) {
            releaseOwner(VoiceOwnershipTable::arpeggiatorOwner);
            m_arpLastNote = -1;
        }
        m_arpAccumulator = 0.0;
        return;
    }

    float bpm = beatSequencer.bpm();
    if (!(bpm > 0.0f)) bpm = 120.0f;
    // Eighth notes at the sequencer's tempo. The remainder carries into the next
    // step, so the pattern keeps time over any length, whatever the block size.
    const double stepFrames = 60.0 / static_cast<double>(bpm) * 0.5 * static_cast<double>(sampleRate);
    m_arpAccumulator += static_cast<double>(frames);
    if (m_arpAccumulator < stepFrames) return;
    m_arpAccumulator -= stepFrames;

    // The gate lasts until the next step.
    if (m_arpLastNote >= 0) releaseOwner(VoiceOwnershipTable::arpeggiatorOwner);

    const auto k = static_cast<std::uint64_t>(count);
    const auto octaveRange = static_cast<std::uint64_t>(std::max(m_state.arpOctaves, 1));
    const int octave = static_cast<int>((m_arpStep / k) % octaveRange);
    int position = static_cast<int>(m_arpStep % k);
    if (m_state.arpMode == 1) position = count - 1 - position;
    const int note = clampNote(held[position] + 12LL * octave);
    dispatchNoteOn(note, arpeggiatorVelocity, VoiceOwnershipTable::arpeggiatorOwner);
    ++m_arpStep;
    m_arpLastNote = note;
}

void AudioEngine::adoptPushedParameters(const PianoParameters& pushed) noexcept {
    // The pedal fields are the audio thread's own: controller events (the foot, the
    // on-screen pedals) set them. A push carries settings and never lifts or presses
    // a pedal, so switching sounds cannot drop a note held by the foot.
    const PianoParameters live = m_params;
    m_params = pushed;
    m_params.sustainPedal = live.sustainPedal;
    m_params.sostenutoPedal = live.sostenutoPedal;
    m_params.softPedal = live.softPedal;
    m_params.continuousPedal = live.continuousPedal;
    m_params.expressionPedal = live.expressionPedal;

    sfzPiano.stringResonance = m_params.stringResonance;
    sfzPiano.softPedal = m_params.softPedal;
    // The SFZ piano and the synths take the concert pitch with each note; the
    // SoundFont channels hold it as a setting.
    fluidSynth.setTuning(m_params.tuningHz);
    if (!m_params.sustainPedal) {
        // With the pedal up, the automatic damper decides.
        const bool hold = m_params.autoPedalEnabled;
        sfzPiano.setSustainPedal(hold, hold ? 96 : 0, 0.0f);
        synths[0].setSustainPedal(hold);
    }
}

} // namespace tmb
