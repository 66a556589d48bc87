// The hymn academy on the controller: the lessons and church presets, the tutor's
// lesson, transport and step operations with their announcements, the notes the
// tutor sounds, the clock of guided playback and the choir pitch pipe. The tutor
// itself is the HymnTutor.

#include "WorkstationController.h"

#include "rhythm/ChordNames.h"

#include <algorithm>
#include <utility>

namespace tmb {

namespace {

constexpr int pitchPipeNotes[4] = {48, 55, 64, 72}; // bass do, tenor sol, alto mi, soprano do'
constexpr int pitchPipeStaggerMs = 260;
constexpr int pitchPipeReleaseMs = 2100; // after the first note

} // namespace

// ---------------------------------------------------------------- catalogue and churches

void WorkstationController::initHymnAndStyleAcademy() {
    m_hymnCatalog.clear();
    QString error;
    if (!m_hymnCatalog.loadBuiltIn(HymnCatalog::Group::Academy, &error))
        setStatusBanner(QStringLiteral("⚠ Hymn lessons incomplete: %1").arg(error));
    initTenziAndDenominationalHymns();
}

void WorkstationController::initTenziAndDenominationalHymns() {
    QString error;
    if (!m_hymnCatalog.loadBuiltIn(HymnCatalog::Group::Hymnal, &error))
        setStatusBanner(QStringLiteral("⚠ Hymnal lessons incomplete: %1").arg(error));
}

void WorkstationController::selectHymnStyle(int styleIndex, float tempo) {
    // Applied with its band sounds, so the band never plays one style with another's.
    applyBeatStyleInternal(styleIndex, false);
    beatSequencer().setBpm(tempo);
    notifyBeatState();
}

void WorkstationController::selectChurchDenomination(int index) {
    m_selectedChurchIndex = std::clamp(index, 0, churchDenominationCount - 1);
    const ChurchDenomination& church = churchDenomination(m_selectedChurchIndex);
    selectPresetForSlotInternal(0, QString::fromUtf8(church.mainPresetId));
    selectPresetForSlotInternal(1, QString::fromUtf8(church.layerPresetId));
    selectPresetForSlotInternal(2, QString::fromUtf8(church.splitPresetId));
    m_zones.layer2Enabled = church.layerOn;
    m_zones.splitEnabled = church.splitOn;
    m_zones.splitKey = 54;
    pushWorkstationState();
    m_params.brightness = church.brightness;
    m_params.reverbAmount = church.reverbAmount;
    m_params.chorusAmount = church.chorusAmount;
    pushPianoParameters();
    selectHymnStyle(church.styleIndex, church.tempo);
    setStatusBanner(QStringLiteral("⛪ CHURCH PRESET LOADED: %1 • %2")
                        .arg(QString::fromUtf8(church.name), QString::fromUtf8(church.summary)));
    notifyActivePresets();
    notifyPianoParams();
    notifyWorkstation();
    notifyBeatState();
    notifyBeatGrid();
    notifyHymnState();
}

QString WorkstationController::selectedChurchName() const {
    return QString::fromUtf8(churchDenomination(m_selectedChurchIndex).name);
}

QString WorkstationController::selectedChurchPresetSummary() const {
    return QString::fromUtf8(churchDenomination(m_selectedChurchIndex).summary);
}

// ---------------------------------------------------------------- what the scene reads

QString WorkstationController::currentHymnTitle() const {
    return m_hymnTutor.step() ? m_hymnTutor.lesson()->title : QString();
}

QString WorkstationController::currentHymnCategory() const {
    return m_hymnTutor.step() ? m_hymnTutor.lesson()->category : QString();
}

QString WorkstationController::currentHymnProgression() const {
    return m_hymnTutor.step() ? m_hymnTutor.lesson()->progression : QString();
}

QString WorkstationController::currentHymnTip() const {
    return m_hymnTutor.step() ? m_hymnTutor.lesson()->tip : QString();
}

QVariantList WorkstationController::currentHymnSteps() const {
    const HymnLesson* lesson = m_hymnTutor.lesson();
    return lesson ? HymnCatalog::stepsAsVariantList(*lesson, m_params.transposeSemitones) : QVariantList();
}

QString WorkstationController::currentHymnFullLyrics() const {
    const HymnLesson* lesson = m_hymnTutor.lesson();
    return lesson ? hymnFullLyricsText(*lesson) : QString();
}

QString WorkstationController::currentHymnLyric() const {
    const HymnStep* step = m_hymnTutor.step();
    return step ? step->lyric : QString();
}

QString WorkstationController::currentHymnSolfa() const {
    const HymnStep* step = m_hymnTutor.step();
    return step ? step->solfa : QString();
}

QString WorkstationController::currentHymnFingerHint() const {
    const HymnStep* step = m_hymnTutor.step();
    return step ? step->fingerHint : QString();
}

QString WorkstationController::currentHymnTargetNoteName() const {
    const HymnStep* step = m_hymnTutor.step();
    if (!step) return QStringLiteral("C4");
    return midiNoteToDisplayName(std::clamp(step->midiNote + m_params.transposeSemitones, 0, 127));
}

QString WorkstationController::currentHymnTargetChord() const {
    const HymnStep* step = m_hymnTutor.step();
    return step ? transposeChordSymbol(step->chordName, m_params.transposeSemitones) : QStringLiteral("C");
}

// ---------------------------------------------------------------- lesson, mode and transport

void WorkstationController::notifyHymnState() {
    m_harmonizer.setGuideTarget(m_hymnTutor.guideTarget());
    Q_EMIT hymnStateChanged();
}

void WorkstationController::notifyHymnStep() {
    m_harmonizer.setGuideTarget(m_hymnTutor.guideTarget());
    Q_EMIT hymnStepChanged();
}

void WorkstationController::setCurrentHymnIndex(int index) {
    if (!m_hymnTutor.selectLesson(index)) return;
    const HymnLesson& lesson = *m_hymnTutor.lesson();
    selectHymnStyle(lesson.styleIndex, lesson.tempo);
    m_hymnClock.start();
    setStatusBanner(QStringLiteral("Loaded Lesson: %1 • %2").arg(lesson.title, lesson.progression));
    notifyBeatGrid();
    notifyHymnState();
    notifyHymnStep();
}

void WorkstationController::setHymnLearnMode(int mode) {
    if (!m_hymnTutor.setLearnMode(mode)) return;
    m_hymnClock.start();
    notifyHymnState();
    notifyHymnStep();
    notifyKeyboardState();
}

void WorkstationController::setHymnPlaying(bool playing) {
    if (!m_hymnTutor.setPlaying(playing)) return;
    if (playing) {
        m_hymnClock.start();
        if (m_hymnTutor.lesson() && m_hymnTutor.learnMode() == HymnTutor::playAlongBand &&
            !beatSequencer().isPlaying()) {
            m_band.restart();
            beatSequencer().setPlaying(true);
            notifyBeatState();
        }
    }
    notifyHymnState();
    notifyHymnStep();
    notifyKeyboardState();
}

void WorkstationController::setHymnAutoHarmony(bool on) {
    if (m_hymnTutor.setAutoHarmony(on)) notifyHymnState();
}

void WorkstationController::restartHymnLesson() {
    m_hymnTutor.restart();
    m_hymnClock.start();
    notifyHymnStep();
    notifyKeyboardState();
}

void WorkstationController::stepHymnForward() {
    if (!m_hymnTutor.stepForward()) return;
    m_hymnClock.start();
    notifyHymnStep();
    notifyKeyboardState();
}

void WorkstationController::stepHymnBackward() {
    if (!m_hymnTutor.stepBackward()) return;
    m_hymnClock.start();
    notifyHymnStep();
    notifyKeyboardState();
}

void WorkstationController::checkHymnTutorNoteInput(int note, int velocity) {
    switch (m_hymnTutor.checkNote(note, velocity)) {
    case HymnTutor::Check::Wrong:
        notifyHymnStep();
        break;
    case HymnTutor::Check::Right:
        notifyHymnStep();
        notifyKeyboardState();
        break;
    default:
        break;
    }
}

void WorkstationController::advanceHymnPlaybackTick() {
    // Time since the previous tick: a coarse timer's period wanders, the band's
    // clock does not.
    if (!m_hymnClock.isValid()) {
        m_hymnClock.start();
        return;
    }
    advanceHymnPlayback(static_cast<double>(m_hymnClock.nsecsElapsed()) * 1e-9);
    m_hymnClock.start();
}

void WorkstationController::advanceHymnPlayback(double seconds) {
    const HymnTutor::Advance advanced = m_hymnTutor.advance(seconds, bpm());
    if (!advanced.moved) return;
    if (advanced.entered) notifyKeyboardState();
    notifyHymnStep();
}

// ---------------------------------------------------------------- the tutor's notes

void WorkstationController::soundHymnHarmony(int note, int velocity) {
    MidiEvent event = MidiEvent::noteOn(0, note, velocity);
    event.chordTone = true;
    m_audioEngine.submitMidiEvent(event);
}

void WorkstationController::pressHymnDemoKey(int note, int velocity) {
    pressKey(note, velocity, true);
}

void WorkstationController::releaseHymnDemoKey(int note) {
    const Harmonizer::Released released = m_harmonizer.noteOff(note, 0, true);
    for (int i = 0; i < released.count; ++i) {
        setKeyPressed(released.pitches[i], false);
        Q_EMIT keyStateUpdated(released.pitches[i], false, 0);
    }
    setKeyPressed(note, false);
    updateChordDetection();
    Q_EMIT keyStateUpdated(note, false, 0);
    notifyKeyboardState();
}

// ---------------------------------------------------------------- pitch pipe

void WorkstationController::triggerChoirPitchPipe() {
    stopPitchPipe();
    const int key = m_params.transposeSemitones;
    QStringList names;
    for (int i = 0; i < 4; ++i) {
        // The keys pressed are as written; the engine sounds them in the key.
        const int sounding = std::clamp(key + pitchPipeNotes[i], 24, 108);
        m_pitchPipeNotes[static_cast<std::size_t>(i)] = sounding - key;
        names << midiNoteToDisplayName(sounding);
    }
    QString keyName = midiNoteToDisplayName(std::clamp(key + 60, 0, 127));
    keyName.chop(1); // the octave digit
    setStatusBanner(QStringLiteral("🎺 CHOIR SATB PITCH PIPE (KEY OF %1): Bass Do (%2) → Tenor Sol (%3) → "
                                   "Alto Mi (%4) → Soprano Do' (%5)")
                        .arg(keyName, names[0], names[1], names[2], names[3]));
    pressPitchPipeNote(m_pitchPipeNotes[0], 106);
    m_pitchPipePressed = 1;
    m_pitchPipeTimer.start(pitchPipeStaggerMs);
}

void WorkstationController::onPitchPipeTimer() {
    if (m_pitchPipePressed >= 4) {
        stopPitchPipe();
        return;
    }
    pressPitchPipeNote(m_pitchPipeNotes[static_cast<std::size_t>(m_pitchPipePressed++)], 104);
    m_pitchPipeTimer.start(m_pitchPipePressed < 4 ? pitchPipeStaggerMs
                                                  : pitchPipeReleaseMs - 3 * pitchPipeStaggerMs);
}

void WorkstationController::pressPitchPipeNote(int note, int velocity) {
    // Exactly the pipe's note: no auto-tune, tutor check or smart chord, counted
    // apart from the player's keys.
    soundHymnHarmony(note, velocity);
    setKeyPressed(note, true);
    updateChordDetection();
    Q_EMIT keyStateUpdated(note, true, velocity);
    notifyKeyboardState();
}

void WorkstationController::stopPitchPipe() {
    m_pitchPipeTimer.stop();
    if (m_pitchPipePressed == 0) return;
    const int pressed = std::exchange(m_pitchPipePressed, 0);
    for (int i = 0; i < pressed; ++i) {
        const int note = m_pitchPipeNotes[static_cast<std::size_t>(i)];
        soundHymnHarmony(note, 0);
        setKeyPressed(note, false);
        Q_EMIT keyStateUpdated(note, false, 0);
    }
    updateChordDetection();
    notifyKeyboardState();
}

} // namespace tmb
