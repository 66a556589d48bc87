// Controller mappings and MIDI learn: the actions a mapped control applies on the
// GUI thread, and the learn and profile operations the scene calls.

#include "WorkstationController.h"

#include <algorithm>
#include <cmath>

namespace tmb {

namespace {

enum class ActionKind {
    Level,   // a fader or knob: the message shows the value in percent
    Press,   // a transport button: acts only when pressed (value > 0.5)
    Trigger, // a pad: the message shows what the handler returns, if anything
};

using Controller = WorkstationController;

struct MappedAction {
    const char* target;
    ActionKind kind;
    const char* message;
    // Applies the value; for a press or trigger, returns the text for "%1".
    QString (*apply)(Controller& c, float value);
};

template <void (Controller::*setter)(float)>
QString level(Controller& c, float value) {
    (c.*setter)(value); // the setters clamp to their own ranges (lid 0.1-1, room 0.1-0.98)
    return {};
}

QString lv2Level(Controller& c, float value) {
    c.setChannelVolume(static_cast<int>(MixerChannelId::Lv2Bus), std::clamp(value, 0.0f, 1.0f));
    return {};
}

template <int note>
QString pad(Controller& c, float value) {
    // Rounded: a velocity that came in as v / 127 must go out as v.
    const int velocity = static_cast<int>(std::lround(std::clamp(value, 0.0f, 1.0f) * 127.0f));
    c.triggerDrumPad(note, velocity);
    return QString::number(velocity);
}

QString fill(Controller& c, float) {
    c.triggerBeatFill();
    return {};
}

QString play(Controller& c, float) {
    c.setBeatPlaying(!c.beatPlaying());
    return QString::fromLatin1(c.beatPlaying() ? "PLAYING" : "PAUSED");
}

QString stop(Controller& c, float) {
    c.setBeatPlaying(false);
    c.stopStudioTransport();
    return {};
}

QString record(Controller& c, float) {
    if (!c.studioRecording() && !c.studioPlaying())
        c.startStudioRecord();
    else
        c.stopStudioTransport();
    return QString::fromLatin1(c.studioRecording() ? "REC ON" : "STOPPED");
}

constexpr auto L = ActionKind::Level;
const MappedAction kMappedActions[] = {
    {"mixer.master.volume", L, "Master Fader S9 → %1%", level<&Controller::setMasterVolume>},
    {"mixer.piano.volume", L, "Fader S1 (Main Piano) → %1%", level<&Controller::setPianoVolume>},
    {"mixer.layer2.volume", L, "Fader S2 (Layer 2) → %1%", level<&Controller::setLayer2Volume>},
    {"mixer.split.volume", L, "Fader S3 (Left Split) → %1%", level<&Controller::setSplitBassVolume>},
    {"mixer.beats.volume", L, "Fader S4 (Beat Drums) → %1%", level<&Controller::setBeatsVolume>},
    {"mixer.style.volume", L, "Fader (Style Band Master) → %1%", level<&Controller::setStyleVolume>},
    {"mixer.lv2.volume", L, "Fader S5 (DrumGizmo LV2) → %1%", lv2Level},
    {"mixer.aux.volume", L, "Fader S6 (Mic / Vocal In) → %1%", level<&Controller::setMicVolume>},
    {"mixer.audioin.volume", L, "Fader S6 (Mic / Vocal In) → %1%", level<&Controller::setMicVolume>},
    {"piano.brightness", L, "Knob E1 (Brightness) → %1%", level<&Controller::setBrightness>},
    {"piano.lidPosition", L, "Knob E2 (Grand Lid) → %1%", level<&Controller::setLidPosition>},
    {"piano.damperResonance", L, "Knob E3 (Damper Res) → %1%", level<&Controller::setDamperResonance>},
    {"piano.stringResonance", L, "Knob E4 (String Res) → %1%", level<&Controller::setStringResonance>},
    {"piano.keyOffVolume", L, "Knob (Key-Off Vol) → %1%", level<&Controller::setKeyOffVolume>},
    {"piano.pedalNoiseVolume", L, "Knob (Pedal Noise) → %1%", level<&Controller::setPedalNoiseVolume>},
    {"piano.reverb", L, "Knob E5 (Hall Reverb) → %1%", level<&Controller::setReverbAmount>},
    {"piano.roomSize", L, "Knob E6 (Room Size) → %1%", level<&Controller::setReverbRoomSize>},
    {"piano.chorus", L, "Knob E7 (Chorus) → %1%", level<&Controller::setChorusAmount>},
    {"piano.delay", L, "Knob E8 (Delay) → %1%", level<&Controller::setDelayAmount>},
    {"piano.drive", L, "Knob (Warmth/Drive) → %1%", level<&Controller::setDriveAmount>},
    {"piano.stereoWidth", L, "Knob (Stereo Width) → %1%", level<&Controller::setStereoWidth>},
    {"transport.play", ActionKind::Press, "Transport PLAY → %1", play},
    {"transport.stop", ActionKind::Press, "Transport STOP", stop},
    {"transport.record", ActionKind::Press, "Transport RECORD → %1", record},
    {"pad.kick", ActionKind::Trigger, "Pad P1 (Kick) • Vel %1", pad<36>},
    {"pad.snare", ActionKind::Trigger, "Pad P2 (Snare) • Vel %1", pad<38>},
    {"pad.hihat", ActionKind::Trigger, "Pad P3 (Hi-Hat) • Vel %1", pad<42>},
    {"pad.fill", ActionKind::Trigger, "Pad P4 (Drum Fill Triggered)", fill},
};

} // namespace

void WorkstationController::handleMappedControllerAction(const QString& targetParameter, float value) {
    if (!std::isfinite(value)) value = 0.0f;
    const auto* action =
        std::find_if(std::begin(kMappedActions), std::end(kMappedActions),
                     [&](const MappedAction& a) { return targetParameter == QLatin1String(a.target); });
    if (action != std::end(kMappedActions)) {
        // A transport button's release does nothing at all.
        if (action->kind == ActionKind::Press && value <= 0.5f) return;
        const QString argument = action->apply(*this, value);
        QString text = QString::fromUtf8(action->message);
        if (action->kind == ActionKind::Level)
            text = text.arg(std::lround(value * 100.0f));
        else if (!argument.isEmpty())
            text = text.arg(argument);
        m_lastMidiControlText = text;
    }
    setStatusBanner(m_lastMidiControlText);
    notifyMidiActivity();
}

void WorkstationController::startMidiLearn(const QString& targetParam, const QString& friendlyName) {
    m_midiManager.startMidiLearn(targetParam, friendlyName);
    setStatusBanner(
        QStringLiteral("MIDI Learn Active: Move a slider/knob/button on your controller for '%1'...")
            .arg(friendlyName));
    Q_EMIT midiDevicesChanged();
}

void WorkstationController::cancelMidiLearn() {
    m_midiManager.cancelMidiLearn();
    setStatusBanner(QStringLiteral("MIDI Learn Cancelled"));
    Q_EMIT midiDevicesChanged();
}

void WorkstationController::resetSamsonProfile() {
    m_midiManager.resetSamsonGraphite49DefaultProfile();
    setStatusBanner(QStringLiteral("Restored Default Samson Graphite 49 Profile"));
    Q_EMIT midiDevicesChanged();
}

} // namespace tmb
