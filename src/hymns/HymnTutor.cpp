#include "HymnTutor.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace tmb {

namespace {

constexpr int lowestMelodyNote = 55; // wrong notes below G3 are the left hand's
constexpr int playbackHarmonyVelocity = 76;
constexpr int demoVelocity = 102;

} // namespace

HymnTutor::HymnTutor(const HymnCatalog& catalog, Keyboard keyboard)
    : m_catalog(catalog)
    , m_keyboard(std::move(keyboard)) {}

int HymnTutor::stepCount() const {
    const HymnLesson* current = lesson();
    return current ? static_cast<int>(current->steps.size()) : 0;
}

const HymnStep* HymnTutor::step() const {
    if (!hasSteps()) return nullptr;
    return &lesson()->steps.at(std::clamp(m_stepIndex, 0, stepCount() - 1));
}

void HymnTutor::resetProgress() {
    m_stepIndex = 0;
    m_playhead = 0.0;
    m_hits = 0;
    m_streak = 0;
}

bool HymnTutor::selectLesson(int index) {
    if (!m_catalog.lesson(index)) return false;
    m_keyboard.releaseAll();
    m_index = index;
    resetProgress();
    return true;
}

bool HymnTutor::setLearnMode(int mode) {
    mode = std::clamp(mode, waitForYou, playAlongBand);
    if (mode == m_learnMode) return false;
    m_keyboard.releaseAll();
    m_learnMode = mode;
    return true;
}

bool HymnTutor::setPlaying(bool playing) {
    if (playing == m_sounding.hymnPlaying) return false;
    m_sounding.hymnPlaying = playing;
    if (!playing) {
        m_keyboard.releaseAll();
    } else if (hasSteps() && m_stepIndex >= stepCount()) {
        m_stepIndex = 0;
        m_playhead = 0.0;
    }
    return true;
}

bool HymnTutor::setAutoHarmony(bool on) {
    if (on == m_autoHarmony) return false;
    m_autoHarmony = on;
    return true;
}

void HymnTutor::restart() {
    m_keyboard.releaseAll();
    resetProgress();
}

bool HymnTutor::stepForward() {
    if (!hasSteps()) return false;
    m_keyboard.releaseAll();
    m_stepIndex = (std::clamp(m_stepIndex, 0, stepCount() - 1) + 1) % stepCount();
    m_playhead = lesson()->steps.at(m_stepIndex).startBeat;
    return true;
}

bool HymnTutor::stepBackward() {
    if (!hasSteps()) return false;
    m_keyboard.releaseAll();
    m_stepIndex = (std::clamp(m_stepIndex, 0, stepCount() - 1) + stepCount() - 1) % stepCount();
    m_playhead = lesson()->steps.at(m_stepIndex).startBeat;
    return true;
}

void HymnTutor::silenceHarmony() {
    for (int note : std::as_const(m_sounding.harmonyNotes))
        m_keyboard.soundHarmony(note, 0);
    m_sounding.harmonyNotes.clear();
}

void HymnTutor::releaseSounding() {
    if (m_sounding.guideNote >= 0) m_keyboard.releaseDemoKey(std::exchange(m_sounding.guideNote, -1));
    silenceHarmony();
}

HymnTutor::Check HymnTutor::checkNote(int note, int velocity) {
    if (!hasSteps() || m_learnMode != waitForYou || !engaged()) return Check::Inactive;
    const HymnStep& current = *step();
    // Any octave of the melody note counts.
    const bool right = note == current.midiNote || ((note % 12) + 12) % 12 == current.midiNote % 12;
    if (!right) {
        if (note < lowestMelodyNote) return Check::Ignored;
        m_streak = 0;
        return Check::Wrong;
    }
    silenceHarmony();
    if (m_autoHarmony) {
        const int harmonyVelocity = std::clamp(velocity - 18, 42, 95);
        for (int chordNote : current.chordNotes) {
            if (chordNote == note) continue;
            m_keyboard.soundHarmony(chordNote, harmonyVelocity);
            m_sounding.harmonyNotes.append(chordNote);
        }
    }
    ++m_hits;
    ++m_streak;
    m_stepIndex = (std::clamp(m_stepIndex, 0, stepCount() - 1) + 1) % stepCount();
    m_playhead = lesson()->steps.at(m_stepIndex).startBeat;
    return Check::Right;
}

void HymnTutor::enterStep(int index) {
    m_stepIndex = index;
    if (m_sounding.guideNote >= 0) m_keyboard.releaseDemoKey(std::exchange(m_sounding.guideNote, -1));
    silenceHarmony();
    const HymnStep& current = lesson()->steps.at(index);
    for (int chordNote : current.chordNotes) {
        m_keyboard.soundHarmony(chordNote, playbackHarmonyVelocity);
        m_sounding.harmonyNotes.append(chordNote);
    }
    if (m_learnMode == autoPlayDemo) {
        m_keyboard.pressDemoKey(current.midiNote, demoVelocity);
        m_sounding.guideNote = current.midiNote;
    }
}

HymnTutor::Advance HymnTutor::advance(double seconds, double bpm) {
    Advance result;
    if (!playing() || m_learnMode == waitForYou || !hasSteps()) return result;
    // Measured time, not timer ticks: the lesson keeps the band's pace however the
    // timer that drives it runs.
    const double beats = seconds * bpm / 60.0;
    if (!(beats > 0.0) || !std::isfinite(beats)) return result;
    result.moved = true;

    const QList<HymnStep>& steps = lesson()->steps;
    // The last step to begin within [from, to): the one sounding now. At the very
    // start that is the first step.
    auto latestStartIn = [&steps](double from, double to) {
        int latest = from == 0.0 ? 0 : -1;
        for (int i = 0; i < static_cast<int>(steps.size()); ++i)
            if (steps.at(i).startBeat >= from && steps.at(i).startBeat < to) latest = i;
        return latest;
    };
    const double end = lesson()->lengthBeats();
    const double from = m_playhead;
    double to = from + beats;
    if (to < end) {
        m_playhead = to;
        const int entered = latestStartIn(from, to);
        if (entered >= 0) enterStep(entered);
        result.entered = entered >= 0;
        return result;
    }
    // The lesson ends here and starts over; the time past its end counts in the
    // new round, so a looping lesson stays with the band.
    m_keyboard.releaseAll();
    to = std::fmod(to - end, end);
    m_playhead = to;
    enterStep(latestStartIn(0.0, to));
    result.entered = true;
    result.looped = true;
    return result;
}

bool HymnTutor::isGuideMelodyKey(int note) const {
    return engaged() && hasSteps() && note == step()->midiNote;
}

bool HymnTutor::isGuideChordKey(int note) const {
    return engaged() && hasSteps() && step()->chordNotes.contains(note);
}

int HymnTutor::guideTarget() const {
    return playing() && m_learnMode == waitForYou && hasSteps() ? step()->midiNote : -1;
}

} // namespace tmb
