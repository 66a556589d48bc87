// The controller's side of the harmonizer: the voices go through the Harmonizer
// class; here are its switches, its status texts and the display of each note.

#include "WorkstationController.h"

#include "app/NoteNames.h"

#include <algorithm>

namespace tmb {

int WorkstationController::processNoteOnWithAutoTune(int note, int velocity, unsigned char channel) {
    const Harmonizer::NoteOnResult result = m_harmonizer.noteOn(note, velocity, channel);
    if (result.harmonized) {
        const int input = std::clamp(note, 0, 127);
        postToGui([this, input, result] {
            showAutoTuneNote(input, result.leadPitch, result.moved, result.voiceCount);
        });
    }
    return result.leadPitch;
}

void WorkstationController::processNoteOffWithAutoTune(int note, unsigned char channel) {
    const Harmonizer::Released released = m_harmonizer.noteOff(note, channel);
    if (released.count == 0) return;
    postToGui([this, released] {
        for (int i = 0; i < released.count; ++i) {
            setKeyPressed(released.pitches[i], false);
            Q_EMIT keyStateUpdated(released.pitches[i], false, 0);
        }
    });
}

void WorkstationController::releaseAllAutoTuneVoices() {
    releaseKeyLights(m_harmonizer.releaseAll());
}

void WorkstationController::showAutoTuneNote(int input, int lead, bool moved, int voiceCount) {
    // Names as the player reads them: in the transposed key.
    const QString inputName = sharpNoteName(input + m_params.transposeSemitones);
    const QString leadName = sharpNoteName(lead + m_params.transposeSemitones);
    if (moved) {
        setAutoTuneStatusText(QStringLiteral("SNAP %1 → %2 (%3v)").arg(inputName, leadName).arg(voiceCount));
        ++m_autoTuneCorrectedCount;
    } else {
        setAutoTuneStatusText(
            QStringLiteral("%1 • %2 (%3v)").arg(autoTuneModeName(), leadName).arg(voiceCount));
    }
    notifyAutoTuneState();
}

void WorkstationController::setAutoTuneStatusText(const QString& text) {
    m_autoTuneStatusText = text;
}

void WorkstationController::setAutoTuneEnabled(bool enabled) {
    Harmonizer::PitchSet released;
    if (!m_harmonizer.setEnabled(enabled, &released)) return;
    releaseKeyLights(released);
    if (enabled) {
        setAutoTuneStatusText(QStringLiteral("ACTIVE • %1").arg(autoTuneModeName()));
        setStatusBanner(
            QStringLiteral("AUTO-TUNE ON: %1 (Scale-Snap + Yamaha Smart Harmony + Velocity Sweetener)")
                .arg(autoTuneModeName()));
    } else {
        setAutoTuneStatusText(QStringLiteral("OFF • Manual Performance"));
        setStatusBanner(QStringLiteral("AUTO-TUNE OFF • Full Manual Chromatic Control"));
    }
    notifyAutoTuneState();
}

void WorkstationController::setAutoTuneMode(int mode) {
    Harmonizer::PitchSet released;
    if (!m_harmonizer.setMode(mode, &released)) return;
    releaseKeyLights(released);
    if (m_harmonizer.isEnabled()) {
        setAutoTuneStatusText(QStringLiteral("ACTIVE • %1").arg(autoTuneModeName()));
        setStatusBanner(QStringLiteral("AUTO-TUNE MODE: %1").arg(autoTuneModeName()));
    }
    notifyAutoTuneState();
}

void WorkstationController::cycleAutoTuneMode() {
    setAutoTuneMode((m_harmonizer.mode() + 1) % Harmonizer::modeCount);
    if (!m_harmonizer.isEnabled()) setAutoTuneEnabled(true);
}

} // namespace tmb
