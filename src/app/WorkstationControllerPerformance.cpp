// The keyboard performance path: on-screen keys, pads, pedals and wheels, the
// realtime MIDI callback with the closures it posts to the GUI thread, the sound
// and zone setters, A/B comparison and panic. What a key finally sounds like
// (zones, transpose, touch, chord memory, auto pedal, arpeggiator) is the audio
// engine's dispatch, driven by the records pushed from here.

#include "WorkstationController.h"

#include "app/NoteNames.h"

#include <QMetaObject>

#include <algorithm>
#include <cmath>

namespace tmb {

namespace {

constexpr int damperController = 64;
constexpr int sostenutoController = 66;
constexpr int softController = 67;
constexpr int expressionController = 11;
constexpr int modulationController = 1;
constexpr int drumChannel = 9;

int percent(float value) {
    return static_cast<int>(std::lround(value * 100.0f));
}

} // namespace

void WorkstationController::initPerformancePath() {
    // Sound B starts as the default sound, darker, with the lid lower and more room.
    m_paramsB.brightness = 0.38f;
    m_paramsB.lidPosition = 0.65f;
    m_paramsB.reverbAmount = 0.48f;

    m_padLightTimer.setSingleShot(true);
    connect(&m_padLightTimer, &QTimer::timeout, this, [this] {
        m_activePadIndex = -1;
        notifyPedalState();
    });
}

// ---------------------------------------------------------------- pushing records

void WorkstationController::pushPianoParameters() {
    m_pedalPolarityInverted.store(m_params.invertPedalPolarity, std::memory_order_relaxed);
    m_audioEngine.updatePianoParameters(m_params);
}

void WorkstationController::pushWorkstationState() {
    m_audioEngine.updateWorkstationState(m_zones);
}

void WorkstationController::setSoundParameter(float PianoParameters::*field, float value, float low,
                                              float high) {
    // NaN from the scene would pass std::clamp untouched; treat it as the low end.
    m_params.*field = std::isnan(value) ? low : std::clamp(value, low, high);
    pushPianoParameters();
    notifyPianoParams();
}

void WorkstationController::setBrightness(float value) {
    setSoundParameter(&PianoParameters::brightness, value, 0.0f, 1.0f);
}
void WorkstationController::setDamperResonance(float value) {
    setSoundParameter(&PianoParameters::damperResonance, value, 0.0f, 1.0f);
}
void WorkstationController::setStringResonance(float value) {
    setSoundParameter(&PianoParameters::stringResonance, value, 0.0f, 1.0f);
}
void WorkstationController::setKeyOffVolume(float value) {
    setSoundParameter(&PianoParameters::keyOffVolume, value, 0.0f, 1.0f);
}
void WorkstationController::setPedalNoiseVolume(float value) {
    setSoundParameter(&PianoParameters::pedalNoiseVolume, value, 0.0f, 1.0f);
}
void WorkstationController::setLidPosition(float value) {
    setSoundParameter(&PianoParameters::lidPosition, value, 0.1f, 1.0f);
}
void WorkstationController::setReverbAmount(float value) {
    setSoundParameter(&PianoParameters::reverbAmount, value, 0.0f, 1.0f);
}
void WorkstationController::setReverbRoomSize(float value) {
    setSoundParameter(&PianoParameters::reverbRoomSize, value, 0.1f, 0.98f);
}
void WorkstationController::setChorusAmount(float value) {
    setSoundParameter(&PianoParameters::chorusAmount, value, 0.0f, 1.0f);
}
void WorkstationController::setDelayAmount(float value) {
    setSoundParameter(&PianoParameters::delayAmount, value, 0.0f, 1.0f);
}
void WorkstationController::setDriveAmount(float value) {
    setSoundParameter(&PianoParameters::driveAmount, value, 0.0f, 1.0f);
}
void WorkstationController::setCompressorAmount(float value) {
    setSoundParameter(&PianoParameters::compressorAmount, value, 0.0f, 1.0f);
}
void WorkstationController::setStereoWidth(float value) {
    setSoundParameter(&PianoParameters::stereoWidth, value, 0.0f, 1.6f);
}
void WorkstationController::setTuningHz(float value) {
    setSoundParameter(&PianoParameters::tuningHz, value, 415.0f, 466.0f);
}

void WorkstationController::setTransposeSemitones(int semitones) {
    m_params.transposeSemitones = std::clamp(semitones, -12, 12);
    pushPianoParameters();
    notifyPianoParams();
    // Hymn guide names and the arranger's chord names follow the key.
    Q_EMIT hymnStateChanged();
    Q_EMIT hymnStepChanged();
    Q_EMIT arrangerStateChanged();
}

void WorkstationController::setOctaveShift(int octaves) {
    m_params.octaveShift = std::clamp(octaves, -3, 3);
    pushPianoParameters();
    notifyPianoParams();
}

void WorkstationController::setTouchCurve(int curve) {
    m_params.touchCurve = std::clamp(curve, 0, 3);
    pushPianoParameters();
    notifyPianoParams();
}

void WorkstationController::setZoneFlag(bool WorkstationState::*field, bool value) {
    m_zones.*field = value;
    pushWorkstationState();
    notifyWorkstation();
}

void WorkstationController::setZoneNumber(std::int32_t WorkstationState::*field, int value, int low,
                                          int high) {
    m_zones.*field = std::clamp(value, low, high);
    pushWorkstationState();
    notifyWorkstation();
}

void WorkstationController::setLayer2Enabled(bool enabled) {
    setZoneFlag(&WorkstationState::layer2Enabled, enabled);
}
void WorkstationController::setSplitEnabled(bool enabled) {
    setZoneFlag(&WorkstationState::splitEnabled, enabled);
}
void WorkstationController::setSplitKey(int key) {
    setZoneNumber(&WorkstationState::splitKey, key, 21, 96);
}
void WorkstationController::setVelocitySwitchEnabled(bool enabled) {
    setZoneFlag(&WorkstationState::velocitySwitchEnabled, enabled);
}
void WorkstationController::setVelocityThreshold(int threshold) {
    setZoneNumber(&WorkstationState::velocityThreshold, threshold, 20, 126);
}
void WorkstationController::setArpeggiatorEnabled(bool enabled) {
    setZoneFlag(&WorkstationState::arpeggiatorEnabled, enabled);
}
void WorkstationController::setArpMode(int mode) {
    setZoneNumber(&WorkstationState::arpMode, mode, 0, 3);
}
void WorkstationController::setArpOctaves(int octaves) {
    setZoneNumber(&WorkstationState::arpOctaves, octaves, 1, 3);
}
void WorkstationController::setChordMemoryEnabled(bool enabled) {
    setZoneFlag(&WorkstationState::chordMemoryEnabled, enabled);
}
void WorkstationController::setLayer2OctaveOffset(int octaves) {
    setZoneNumber(&WorkstationState::layer2OctaveOffset, octaves, -2, 2);
}
void WorkstationController::setSplitOctaveOffset(int octaves) {
    setZoneNumber(&WorkstationState::splitOctaveOffset, octaves, -2, 2);
}

// ---------------------------------------------------------------- on-screen keys

void WorkstationController::setKeyPressed(int note, bool pressed) {
    if (note >= 0 && note < 128) m_keyPressed[static_cast<std::size_t>(note)] = pressed;
}

bool WorkstationController::isKeyPressed(int note) const {
    return note >= 0 && note < 128 && m_keyPressed[static_cast<std::size_t>(note)];
}

void WorkstationController::noteOn(int note, int velocity) {
    if (note < 0 || note > 127) return;
    pressKey(note, std::clamp(velocity, 1, 127), false);
}

void WorkstationController::pressKey(int note, int velocity, bool programKey) {
    const int played = programKey ? m_harmonizer.noteOn(note, velocity, 0, true).leadPitch
                                  : processNoteOnWithAutoTune(note, velocity, 0);
    setKeyPressed(note, true);
    setKeyPressed(played, true);
    m_lastNotePlayed = played;
    m_lastVelocityPlayed = velocity;
    if (!programKey) checkHymnTutorNoteInput(played, velocity);
    offerNoteToArranger(played, velocity);
    updateChordDetection();
    Q_EMIT keyStateUpdated(note, true, velocity);
    if (played != note) Q_EMIT keyStateUpdated(played, true, velocity);
    notifyKeyboardState();
}

void WorkstationController::noteOff(int note) {
    if (note < 0 || note > 127) return;
    // The voices it releases clear their own flags through the harmonizer's closure.
    processNoteOffWithAutoTune(note, 0);
    setKeyPressed(note, false);
    updateChordDetection();
    Q_EMIT keyStateUpdated(note, false, 0);
    notifyKeyboardState();
}

void WorkstationController::releaseAllKeyFlags() {
    m_keyPressed.fill(false);
    updateChordDetection();
    for (int n = 0; n < 128; ++n)
        Q_EMIT keyStateUpdated(n, false, 0);
    notifyKeyboardState();
}

void WorkstationController::releaseKeyLights(const Harmonizer::PitchSet& pitches) {
    if (pitches.none()) return;
    for (int n = 0; n < 128; ++n) {
        if (!pitches.test(static_cast<std::size_t>(n))) continue;
        setKeyPressed(n, false);
        Q_EMIT keyStateUpdated(n, false, 0);
    }
    updateChordDetection();
    notifyKeyboardState();
}

void WorkstationController::panicAllNotesOff() {
    stopPitchPipe();
    m_harmonizer.releaseAll(); // every light goes out below
    m_audioEngine.panicAllNotesOff();
    releaseAllKeyFlags();
}

void WorkstationController::toggleAbCompare() {
    // The sounds swap; the pedals stay where the feet and the on-screen pedals hold
    // them (the engine keeps its own pedal state too), so a switch never drops a
    // sustained chord and the display keeps telling the truth.
    PianoParameters next = m_paramsB;
    next.sustainPedal = m_params.sustainPedal;
    next.sostenutoPedal = m_params.sostenutoPedal;
    next.softPedal = m_params.softPedal;
    next.continuousPedal = m_params.continuousPedal;
    next.expressionPedal = m_params.expressionPedal;
    m_paramsB = m_params;
    m_params = next;
    m_abSlotBActive = !m_abSlotBActive;
    pushPianoParameters();
    notifyPianoParams();
    // The automatic damper and polarity are part of each sound.
    notifyPedalState();
}

void WorkstationController::lightPad(int index, int milliseconds) {
    m_activePadIndex = index;
    notifyPedalState();
    // A newer hit restarts the light, so it never goes out early.
    m_padLightTimer.start(milliseconds);
}

void WorkstationController::triggerDrumPad(int midiNote, int velocity) {
    const int note = std::clamp(midiNote, 0, 127);
    m_audioEngine.submitMidiEvent(MidiEvent::noteOn(drumChannel, note, std::clamp(velocity, 1, 127)));
    lightPad(note == 36 ? 0 : (note == 38 ? 1 : (note == 42 ? 2 : 3)), 180);
}

// ---------------------------------------------------------------- on-screen pedals and wheels

void WorkstationController::sendControllerEvent(const MidiEvent& event, bool record) {
    m_audioEngine.submitMidiEvent(event);
    if (record && m_audioEngine.midiRecorder.isRecording()) m_audioEngine.midiRecorder.recordMidiEvent(event);
}

void WorkstationController::setSustainPedal(bool down) {
    if (m_sustainLatched) {
        // The latch holds the pedal: a release is ignored.
        if (!down) return;
    } else {
        m_params.sustainPedal = down;
        m_params.continuousPedal = down ? 1.0f : 0.0f;
    }
    sendControllerEvent(MidiEvent::controlChange(0, damperController, down ? 127 : 0), true);
    notifyPedalState();
}

void WorkstationController::setSostenutoPedal(bool down) {
    m_params.sostenutoPedal = down;
    sendControllerEvent(MidiEvent::controlChange(0, sostenutoController, down ? 127 : 0), false);
    notifyPedalState();
}

void WorkstationController::setSoftPedal(bool down) {
    m_params.softPedal = down;
    sendControllerEvent(MidiEvent::controlChange(0, softController, down ? 127 : 0), false);
    notifyPedalState();
}

void WorkstationController::setContinuousPedal(float position) {
    position = std::isnan(position) ? 0.0f : std::clamp(position, 0.0f, 1.0f);
    m_params.continuousPedal = position;
    const int value = static_cast<int>(std::lround(position * 127.0f));
    m_params.sustainPedal = value >= 40;
    sendControllerEvent(MidiEvent::controlChange(0, damperController, value), false);
    notifyPedalState();
}

void WorkstationController::setExpressionPedal(float position) {
    position = std::isnan(position) ? 0.0f : std::clamp(position, 0.0f, 1.0f);
    m_params.expressionPedal = position;
    sendControllerEvent(
        MidiEvent::controlChange(0, expressionController, static_cast<int>(std::lround(position * 127.0f))),
        false);
    m_audioEngine.setChannelVolume(MixerChannelId::Piano, std::max(position, 0.15f));
    Q_EMIT metersUpdated();
    Q_EMIT arrangerStateChanged();
    notifyPedalState();
}

void WorkstationController::setAutoPedalEnabled(bool enabled) {
    m_params.autoPedalEnabled = enabled;
    pushPianoParameters();
    setLastMidiControlText(
        QStringLiteral("Smart Auto-Damper → %1")
            .arg(enabled ? QStringLiteral("ENABLED (Hands-Free Legato)") : QStringLiteral("MANUAL PEDAL")));
    notifyPedalState();
    notifyMidiActivity();
}

void WorkstationController::setInvertPedalPolarity(bool inverted) {
    m_params.invertPedalPolarity = inverted;
    pushPianoParameters();
    setLastMidiControlText(
        QStringLiteral("External Sustain Polarity → %1")
            .arg(inverted ? QStringLiteral("INVERTED (NC)") : QStringLiteral("NORMAL (NO)")));
    notifyPedalState();
    notifyMidiActivity();
}

void WorkstationController::setSustainLatched(bool latched) {
    m_sustainLatched = latched;
    m_params.sustainPedal = latched;
    m_params.continuousPedal = latched ? 1.0f : 0.0f;
    sendControllerEvent(MidiEvent::controlChange(0, damperController, latched ? 127 : 0), false);
    setLastMidiControlText(QStringLiteral("Virtual Sustain Latch → %1")
                               .arg(latched ? QStringLiteral("LOCKED ON") : QStringLiteral("RELEASED")));
    notifyPedalState();
    notifyMidiActivity();
}

void WorkstationController::setPitchBendValue(float value) {
    value = std::isnan(value) ? 0.0f : std::clamp(value, -1.0f, 1.0f);
    m_pitchBendValue = value;
    sendControllerEvent(MidiEvent::pitchBendEvent(0, static_cast<int>(std::trunc(value * 8191.0f))), false);
    notifyWheels();
}

void WorkstationController::setModWheelValue(float value) {
    value = std::isnan(value) ? 0.0f : std::clamp(value, 0.0f, 1.0f);
    m_modWheelValue = value;
    sendControllerEvent(
        MidiEvent::controlChange(0, modulationController,
                                 std::clamp(static_cast<int>(std::trunc(value * 127.0f)), 0, 127)),
        false);
    m_params.chorusAmount = value;
    pushPianoParameters();
    notifyPianoParams();
    notifyWheels();
}

void WorkstationController::setLastMidiControlText(const QString& text) {
    m_lastMidiControlText = text;
}

// ---------------------------------------------------------------- hardware input

void WorkstationController::postToGui(std::function<void()> closure) {
    QMetaObject::invokeMethod(this, std::move(closure), Qt::QueuedConnection);
}

void WorkstationController::handleRealtimeMidiEvent(const MidiEvent& event) {
    const int channel = event.channel & 0x0F;
    if (event.status == MidiEvent::NoteOn || event.status == MidiEvent::NoteOff) {
        const int note = event.data1 & 0x7F;
        const bool on = event.status == MidiEvent::NoteOn && event.data2 > 0;
        const int velocity = on ? event.data2 : 0;
        // The harmonizer starts (and records) the voices; the note never goes to the
        // engine from here.
        int played = note;
        if (on)
            played = processNoteOnWithAutoTune(note, velocity, static_cast<unsigned char>(channel));
        else
            processNoteOffWithAutoTune(note, static_cast<unsigned char>(channel));
        postToGui([this, note, played, on, velocity, channel] {
            onHardwareNote(note, played, on, velocity, channel);
        });
        return;
    }

    // A reset (the device went away) silences the engines; the harmonizer forgets its
    // voices too, or keys that never send their note-off would hold pitches forever.
    if (event.status == MidiEvent::Reset) m_harmonizer.releaseAll(); // its closure clears every light
    m_audioEngine.submitMidiEvent(event);
    if (m_audioEngine.midiRecorder.isRecording()) {
        // Recordings keep pedals as they were heard, so playback never inverts them.
        MidiEvent heard = event;
        if (event.status == MidiEvent::ControlChange && event.data1 == damperController &&
            event.sourceClient >= 0 && m_pedalPolarityInverted.load(std::memory_order_relaxed))
            heard.data2 = static_cast<std::uint8_t>(127 - (event.data2 & 0x7F));
        m_audioEngine.midiRecorder.recordMidiEvent(heard);
    }

    const int value = event.data2 & 0x7F;
    switch (event.status) {
    case MidiEvent::ControlChange:
        switch (event.data1) {
        case damperController:
        case sostenutoController:
        case softController:
            postToGui([this, controller = int{event.data1}, value] { onHardwarePedal(controller, value); });
            break;
        case expressionController:
            postToGui([this, value] { onHardwareExpression(static_cast<float>(value) / 127.0f); });
            break;
        case modulationController:
            postToGui([this, value] { onHardwareModulation(static_cast<float>(value) / 127.0f); });
            break;
        default:
            break;
        }
        break;
    case MidiEvent::PitchBend: {
        const float bend = std::clamp(static_cast<float>(event.pitchBend) * 0.00012207031f, -1.0f, 1.0f);
        postToGui([this, bend] { onHardwareBend(bend); });
        break;
    }
    case MidiEvent::ProgramChange:
        postToGui([this, program = event.data1 & 0x7F] { onHardwareProgramChange(program); });
        break;
    case MidiEvent::Reset:
        postToGui([this] { onHardwareReset(); });
        break;
    default:
        break;
    }
}

void WorkstationController::onHardwareNote(int note, int played, bool on, int velocity, int channel) {
    setKeyPressed(note, on);
    if (played != note) setKeyPressed(played, on);
    if (on) {
        m_lastNotePlayed = played;
        m_lastVelocityPlayed = velocity;
        // A keyboard sending on a zone's channel shows that zone as in use; the flag
        // reaches the engine with the next push of the zone record.
        if (channel == 1 && !m_zones.layer2Enabled) {
            m_zones.layer2Enabled = true;
            notifyWorkstation();
        } else if (channel == 2 && !m_zones.splitEnabled) {
            m_zones.splitEnabled = true;
            notifyWorkstation();
        }
        setLastMidiControlText(
            QStringLiteral("Key %1 (%2) • Vel %3%4")
                .arg(sharpNoteName(played))
                .arg(played)
                .arg(velocity)
                .arg(channel > 0 ? QStringLiteral(" • Zone Ch %1").arg(channel + 1) : QString()));
        checkHymnTutorNoteInput(played, velocity);
        offerNoteToArranger(played, velocity);
    }
    updateChordDetection();
    Q_EMIT keyStateUpdated(note, on, velocity);
    if (played != note) Q_EMIT keyStateUpdated(played, on, velocity);
    notifyKeyboardState();
    notifyMidiActivity();
}

void WorkstationController::onHardwarePedal(int controller, int value) {
    if (controller == damperController) {
        // The foot takes over from the automatic damper, and the engine must stop
        // auto-pedalling as well.
        if (m_params.autoPedalEnabled) {
            m_params.autoPedalEnabled = false;
            pushPianoParameters();
        }
        const int v = m_params.invertPedalPolarity ? 127 - value : value;
        m_sustainLatched = false;
        m_params.sustainPedal = v >= 40;
        m_params.continuousPedal = static_cast<float>(v) / 127.0f;
        setLastMidiControlText(QStringLiteral("Damper Pedal (CC 64) → %1 (%2%)")
                                   .arg(v < 40 ? QStringLiteral("UP") : QStringLiteral("DOWN"))
                                   .arg(percent(m_params.continuousPedal)));
    } else if (controller == sostenutoController) {
        m_params.sostenutoPedal = value >= 64;
        setLastMidiControlText(QStringLiteral("Sostenuto Pedal (CC 66) → %1")
                                   .arg(value >= 64 ? QStringLiteral("ON") : QStringLiteral("OFF")));
    } else {
        m_params.softPedal = value >= 64;
        setLastMidiControlText(QStringLiteral("Soft Pedal (CC 67) → %1")
                                   .arg(value >= 64 ? QStringLiteral("ON") : QStringLiteral("OFF")));
    }
    notifyPedalState();
    notifyMidiActivity();
}

void WorkstationController::onHardwareExpression(float value) {
    m_params.expressionPedal = value;
    setLastMidiControlText(QStringLiteral("Expression Pedal (CC 11) → %1%").arg(percent(value)));
    notifyPedalState();
    notifyMidiActivity();
}

void WorkstationController::onHardwareModulation(float value) {
    m_modWheelValue = value;
    m_params.chorusAmount = std::clamp(value, 0.0f, 1.0f);
    pushPianoParameters();
    notifyPianoParams();
    setLastMidiControlText(QStringLiteral("Mod Wheel (CC 1) → %1%").arg(percent(value)));
    notifyWheels();
    notifyMidiActivity();
}

void WorkstationController::onHardwareBend(float bend) {
    m_pitchBendValue = bend;
    setLastMidiControlText(QStringLiteral("Pitch Bend → %1%").arg(percent(bend)));
    notifyWheels();
    notifyMidiActivity();
}

void WorkstationController::onHardwareProgramChange(int program) {
    loadRegistration(program % 8);
    setLastMidiControlText(
        QStringLiteral("Program Change %1 → Registration %2").arg(program).arg(program % 8 + 1));
    notifyMidiActivity();
}

void WorkstationController::onHardwareReset() {
    releaseAllKeyFlags();
}

} // namespace tmb
