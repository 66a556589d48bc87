// Rhythm and chords: the drum sequencer's transport and styles as the scene drives
// them, tap tempo, the chord name of the held keys, the arranger's chord degree and
// the one-finger smart chord.

#include "WorkstationController.h"

#include "app/StyleSounds.h"
#include "engines/SoundFontPaths.h"
#include "rhythm/ChordNames.h"

#include <QDateTime>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace tmb {

namespace {

constexpr int drumChannel = 9;
constexpr int smartChordReleaseMs = 360;

// NaN from the scene would pass std::clamp untouched; it counts as the low end.
float clampOrLow(float value, float low, float high) {
    return std::isnan(value) ? low : std::clamp(value, low, high);
}

int roundedBpm(float bpm) {
    return static_cast<int>(std::lround(bpm));
}

} // namespace

// ---------------------------------------------------------------- transport

void WorkstationController::notifyBeatState() {
    m_announcedBeatPlaying = beatSequencer().isPlaying();
    m_announcedBeatSection = beatSequencer().section();
    Q_EMIT beatStateChanged();
}

void WorkstationController::notifyBeatGrid() {
    m_announcedGridSection = beatSequencer().section();
    Q_EMIT beatGridChanged();
}

void WorkstationController::announceSequencerChanges() {
    const BeatSequencer& sequencer = beatSequencer();
    if (sequencer.isPlaying() != m_announcedBeatPlaying || sequencer.section() != m_announcedBeatSection)
        notifyBeatState();
    if (sequencer.section() != m_announcedGridSection) notifyBeatGrid();
}

void WorkstationController::setBeatPlaying(bool playing) {
    if (playing) {
        m_band.restart();
    } else {
        releaseActiveHymnAndArrangerNotes();
    }
    beatSequencer().setPlaying(playing);
    notifyBeatState();
}

void WorkstationController::setBpm(float bpm) {
    beatSequencer().setBpm(bpm);
    notifyBeatState();
}

void WorkstationController::setSwing(float swing) {
    beatSequencer().setSwing(clampOrLow(swing, 0.0f, 0.75f));
    notifyBeatState();
}

void WorkstationController::setHumanize(float amount) {
    beatSequencer().setHumanize(clampOrLow(amount, 0.0f, 1.0f));
    notifyBeatState();
}

void WorkstationController::setMetronomeEnabled(bool enabled) {
    beatSequencer().setMetronomeEnabled(enabled);
    notifyBeatState();
}

void WorkstationController::setBeatSection(int section) {
    beatSequencer().setSection(section);
    notifyBeatState();
    notifyBeatGrid();
}

void WorkstationController::toggleBeatStep(int lane, int step) {
    beatSequencer().toggleStep(lane, step);
    notifyBeatGrid();
}

void WorkstationController::triggerBeatFill() {
    beatSequencer().triggerFill();
    notifyBeatState();
    notifyBeatGrid();
}

void WorkstationController::tapTempo() {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    m_tapCount = (m_lastTapMs > 0 && now - m_lastTapMs <= 2200) ? m_tapCount % 4 + 1 : 1;
    m_lastTapMs = now;
    beatSequencer().tapTempo(now);

    // The tap clicks: hats, stick and a wood block, higher on the first tap of a bar.
    const bool first = m_tapCount == 1;
    const int clicks[3][2] = {
        {42, first ? 120 : 108}, {37, first ? 116 : 104}, {first ? 76 : 77, first ? 112 : 98}};
    for (const auto& [note, velocity] : clicks)
        m_audioEngine.submitMidiEvent(MidiEvent::noteOn(drumChannel, note, velocity));
    lightPad(2, 140);
    setStatusBanner(QStringLiteral("⏱ TAP TEMPO (%1/4): %2 BPM").arg(m_tapCount).arg(roundedBpm(bpm())));
    notifyBeatState();
}

// ---------------------------------------------------------------- styles

void WorkstationController::setCurrentBeatStyleIndex(int index) {
    resetPerformanceModifiersToDefaults(true);
    applyBeatStyleInternal(index, false);
}

void WorkstationController::showStyleDrumKit(const StylePattern& style, const QString& fontPath) {
    // The kit list names the General MIDI kits it offers; others by their program.
    QString name = QStringLiteral("FluidR3 GM Drum Kit %1").arg(style.drumKitProgram);
    for (const QVariant& entry : std::as_const(m_availableDrumKits)) {
        const QVariantMap kit = entry.toMap();
        if (kit.value(QStringLiteral("path")).toString() == fontPath &&
            kit.value(QStringLiteral("bank")).toInt() == 128 &&
            kit.value(QStringLiteral("program")).toInt() == style.drumKitProgram)
            name = kit.value(QStringLiteral("name")).toString();
    }
    if (name == m_currentDrumKitName) return;
    m_currentDrumKitName = name;
    notifyDrumKit();
}

void WorkstationController::applyBeatStyleInternal(int index, bool withPresets) {
    releaseActiveHymnAndArrangerNotes();
    BeatSequencer& sequencer = beatSequencer();
    sequencer.selectStyle(index);
    const bool valid = index >= 0 && index < static_cast<int>(sequencer.styles().size());
    if (valid) {
        const StylePattern& style = sequencer.currentStyle();
        m_arranger.progressionIndex = std::clamp(style.defaultProgIdx, 0, 6);
        m_band.restart();

        const QString font = resolveSoundFontPath(QString::fromLatin1(gmSoundFontPath));
        if (QFileInfo(font).isFile()) {
            const StyleBandLevels levels{
                stylePartChannelVolume(ArrangerState::Rhythm), stylePartChannelVolume(ArrangerState::Bass),
                stylePartChannelVolume(ArrangerState::Lead), stylePartChannelVolume(ArrangerState::Harmony)};
            if (applyStyleSounds(m_audioEngine.fluidSynth, style, font, levels))
                showStyleDrumKit(style, font);
        }

        if (withPresets) {
            if (!style.layerPresetId.isEmpty()) selectPresetForSlot(1, style.layerPresetId);
            if (!style.splitPresetId.isEmpty()) selectPresetForSlot(2, style.splitPresetId);
            setStatusBanner(QStringLiteral("STYLE PRESET: %1 (%2) • %3 BPM")
                                .arg(style.name, style.subDescription)
                                .arg(roundedBpm(bpm())));
        } else {
            setStatusBanner(QStringLiteral("DRUM BEAT SELECTED: %1 (%2) • %3 BPM")
                                .arg(style.name, style.genre)
                                .arg(roundedBpm(bpm())));
        }
    }
    notifyArrangerState();
    notifyBeatState();
    notifyBeatGrid();
}

// ---------------------------------------------------------------- chords

void WorkstationController::updateChordDetection() {
    std::uint16_t mask = 0;
    int lowest = -1;
    for (int note = 0; note < 128; ++note) {
        if (!m_keyPressed[static_cast<std::size_t>(note)]) continue;
        mask = static_cast<std::uint16_t>(mask | (1u << (note % 12)));
        if (lowest < 0) lowest = note;
    }
    m_currentChordName = recognizeChord(mask, std::max(lowest, 0));
}

void WorkstationController::triggerProChordDegree(int degree) {
    const ChordDegree& chosen = chordDegree(degree);
    m_band.setDegree(chosen.degree);
    const QString root = pitchClassName(chosen.semitones + m_params.transposeSemitones + 120);
    const QString quality = chosen.minor ? QStringLiteral("m") : QString();
    m_arranger.activeChordText =
        QStringLiteral("%1%2 (%3)").arg(root, quality, QString::fromLatin1(chosen.roman));
    m_currentChordName = root + quality;
    // Key snap fits the black keys to the chord the band plays.
    m_harmonizer.setChordDegree(chosen.degree, chosen.minor);
    notifyArrangerState();
    notifyKeyboardState();
}

void WorkstationController::setSmartChordEnabled(bool enabled) {
    if (enabled == m_arranger.smartChordEnabled) return;
    m_arranger.smartChordEnabled = enabled;
    notifyArrangerState();
}

void WorkstationController::sendSmartChordTone(int note, int velocity) {
    MidiEvent event = MidiEvent::noteOn(0, note, velocity);
    event.chordTone = true;
    m_audioEngine.submitMidiEvent(event);
}

void WorkstationController::triggerSmartChordForRoot(int note, int velocity) {
    const int degree = smartChordDegreeForNote(note);
    triggerProChordDegree(degree);
    if (!m_arranger.smartChordEnabled) return;
    const int third = std::clamp(note + (chordDegree(degree).minor ? 3 : 4), 0, 127);
    const int fifth = std::clamp(note + 7, 0, 127);
    sendSmartChordTone(third, std::max(velocity - 14, 40));
    sendSmartChordTone(fifth, std::max(velocity - 16, 40));
    // The tones last a fixed time however long the key is held.
    QTimer::singleShot(smartChordReleaseMs, this, [this, third, fifth] {
        sendSmartChordTone(third, 0);
        sendSmartChordTone(fifth, 0);
    });
}

void WorkstationController::offerNoteToArranger(int playedNote, int velocity) {
    // Below A3 is the chord-selection zone of the band in play-with-keyboard mode.
    const bool chordZone = playedNote <= 57 && (m_arranger.proArrangerEnabled ||
                                                (m_arranger.bandActive && m_arranger.arrangerPlayMode == 1));
    if (m_arranger.smartChordEnabled || chordZone) triggerSmartChordForRoot(playedNote, velocity);
}

} // namespace tmb
