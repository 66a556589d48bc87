#include "Arranger.h"

#include "ArrangerTemplates.h"
#include "BeatSequencer.h"
#include "ChordNames.h"

#include <algorithm>
#include <cmath>
#include <span>

namespace tmb {

namespace {

struct PartRange {
    int low;
    int high;
    float normaliser; // the part level at which scripted velocities sound unchanged
};
// Bass, rhythm, harmony, lead.
constexpr PartRange partRanges[] = {{26, 60, 0.90f}, {46, 86, 0.85f}, {48, 88, 0.85f}, {52, 96, 0.85f}};
constexpr float defaultStyleVolume = 0.85f;

// Four degrees, one a bar.
constexpr std::array<int, 4> progressions[progressionCount] = {
    {0, 0, 0, 0}, {1, 4, 1, 5}, {1, 4, 5, 4}, {1, 6, 4, 5}, {6, 4, 5, 6}, {1, 3, 4, 5}, {1, 4, 5, 1}};
int clampedProgression(int index) {
    return std::clamp(index, 0, progressionCount - 1);
}

// The notes of an imported voicing: its first `count` slots, empty ones skipped,
// as the degree plays them above `base`.
template <std::size_t N>
std::span<const int> voicing(const std::array<std::int8_t, N>& offsets, int count, const band::Bar& bar,
                             int base, std::array<int, 4>& out) {
    std::size_t used = 0;
    for (int i = 0; i < std::min<int>(count, static_cast<int>(N)); ++i)
        if (offsets[static_cast<std::size_t>(i)] != StyleArrangerStep::noNote)
            out[used++] = base + bar.m(offsets[static_cast<std::size_t>(i)]);
    return {out.data(), used};
}

} // namespace

float BandLevels::part(ArrangerState::Part part) const {
    switch (part) {
    case ArrangerState::Bass:
        return bass;
    case ArrangerState::Lead:
        return lead;
    default:
        return chord;
    }
}

Arranger::Arranger(EventSink events)
    : m_events(std::move(events)) {}

void Arranger::setDegree(int degree) {
    const ChordDegree& chosen = chordDegree(degree);
    m_state.chordDegree = chosen.degree;
    m_state.degreeSemitones = chosen.semitones;
    m_state.degreeMinor = chosen.minor;
}

bool Arranger::setPlayMode(int mode) {
    mode = mode > 0 ? 1 : 0;
    if (mode == m_state.arrangerPlayMode) return false;
    releasePart(ArrangerState::Lead);
    m_state.arrangerPlayMode = mode;
    return true;
}

void Arranger::restart() {
    m_state.progressionBar = 0;
    m_state.lastStep = -1;
}

void Arranger::releasePart(ArrangerState::Part part) {
    StyleBandPart& band = m_state.parts[part];
    for (int note : std::as_const(band.soundingNotes))
        m_events(MidiEvent::noteOff(band.channel, note));
    band.soundingNotes.clear();
    band.remainingSteps = 0;
}

void Arranger::releaseAll() {
    for (ArrangerState::Part part :
         {ArrangerState::Bass, ArrangerState::Rhythm, ArrangerState::Harmony, ArrangerState::Lead})
        releasePart(part);
}

void Arranger::followSequencer(BeatSequencer& sequencer) {
    if (!sequencer.isPlaying()) {
        // An Ending stops the sequencer by itself: notes with length left would hang.
        if (std::exchange(m_sawPlaying, false)) {
            releaseAll();
            m_state.lastStep = -1;
        }
        return;
    }
    m_sawPlaying = true;
    if (!m_state.bandActive && !m_state.proArrangerEnabled) return;
    const int step = std::max(sequencer.currentStep(), 0);
    if (step == m_state.lastStep) return;
    m_state.lastStep = step;
    advanceStep(step, sequencer);
}

void Arranger::playPart(ArrangerState::Part part, std::initializer_list<int> notes, int velocity,
                        int length) {
    playNotes(part, std::span<const int>(notes.begin(), notes.size()), velocity, length);
}

void Arranger::playNotes(ArrangerState::Part part, std::span<const int> notes, int velocity, int length) {
    if (part == ArrangerState::Lead && m_state.arrangerPlayMode == 1) return; // the player is the lead
    releasePart(part);
    const float level = m_levels.part(part);
    if (m_levels.muted || m_levels.style <= 0.01f || level <= 0.01f) return;
    const PartRange& range = partRanges[part];
    const float scaled =
        static_cast<float>(velocity) * (m_levels.style / defaultStyleVolume) * (level / range.normaliser);
    const int v = std::clamp(static_cast<int>(std::lround(scaled)), 1, 127);
    StyleBandPart& band = m_state.parts[part];
    for (int note : notes) {
        const int pitch = std::clamp(note, range.low, range.high);
        m_events(MidiEvent::noteOn(band.channel, pitch, v));
        band.soundingNotes.append(pitch);
    }
    band.remainingSteps = std::max(length, 1);
}

void Arranger::endExpiredNotes() {
    for (ArrangerState::Part part :
         {ArrangerState::Bass, ArrangerState::Rhythm, ArrangerState::Harmony, ArrangerState::Lead}) {
        StyleBandPart& band = m_state.parts[part];
        if (band.remainingSteps > 0 && --band.remainingSteps == 0) releasePart(part);
    }
}

// The imported notes of this step; false when the step holds none (the genre
// template plays it instead).
bool Arranger::playImportedStep(const BeatSequencer& sequencer, const band::Bar& bar, int lead) {
    const int section = std::clamp(sequencer.section(), 0, songSectionCount - 1);
    const StyleArrangerStep& step =
        sequencer.currentStyle()
            .arrangerSteps[static_cast<std::size_t>(section)][static_cast<std::size_t>(bar.p)];
    bool any = false;
    std::array<int, 4> notes{};
    if (step.bassVelocity != 0 && step.bassPitchClass != StyleArrangerStep::noBass) {
        const int pitch = bar.b + bar.m(step.bassPitchClass);
        playNotes(ArrangerState::Bass, {&pitch, 1}, step.bassVelocity, step.bassLength);
        any = true;
    }
    if (step.chord1Count != 0 && step.chord1Velocity != 0) {
        playNotes(ArrangerState::Rhythm, voicing(step.chord1Notes, step.chord1Count, bar, bar.c, notes),
                  step.chord1Velocity, step.chord1Length);
        any = true;
    }
    if (step.chord2Count != 0 && step.chord2Velocity != 0) {
        playNotes(ArrangerState::Harmony, voicing(step.chord2Notes, step.chord2Count, bar, bar.c, notes),
                  step.chord2Velocity, step.chord2Length);
        any = true;
    }
    if (step.padCount != 0 && step.padVelocity != 0) {
        playNotes(ArrangerState::Lead, voicing(step.padNotes, step.padCount, bar, lead, notes),
                  step.padVelocity, step.padLength);
        any = true;
    }
    return any;
}

namespace {

// Template scripts play through the arranger's parts.
class ArrangerBand final : public band::Band {
public:
    explicit ArrangerBand(Arranger& arranger)
        : m_arranger(arranger) {}
    void play(ArrangerState::Part part, std::initializer_list<int> notes, int velocity, int length) override {
        m_arranger.playPart(part, notes, velocity, length);
    }

private:
    Arranger& m_arranger;
};

} // namespace

void Arranger::advanceStep(int step, BeatSequencer& sequencer) {
    endExpiredNotes();

    const int loop = clampedProgression(m_state.progressionIndex);
    if (step == 0 && loop > 0) {
        const int row = m_state.progressionBar % 4;
        const int degree = progressions[loop][static_cast<std::size_t>(row)];
        m_state.progressionBar = (m_state.progressionBar + 1) % 4;
        m_degreeSink ? m_degreeSink(degree) : setDegree(degree);
        // The fill plays through the fourth bar of every loop, but never in place
        // of an Ending the player asked for.
        const bool ending = sequencer.section() == static_cast<int>(SongSection::Ending);
        if (m_state.arrangerAutoFill && row == 3 && !ending) sequencer.triggerFill();
    }

    const StylePattern& style = sequencer.currentStyle();
    band::Bar bar;
    bar.p = step % std::clamp(style.stepsPerBar, 8, maxStepsPerBar);
    bar.counter = m_state.progressionBar;
    const int root = m_transpose + m_state.degreeSemitones;
    bar.b = std::clamp(root + 36, 28, 52);
    bar.c = std::clamp(root + 60, 52, 74);
    const int lead = std::clamp(root + 72, 62, 86);
    bar.minor = m_state.degreeMinor;
    bar.t = bar.minor ? 3 : 4;
    bar.sixth = bar.minor ? 8 : 9;
    bar.seventh = bar.minor ? 10 : 11;

    const int index = sequencer.selectedStyleIndex();
    const bool valid = index >= 0 && index < static_cast<int>(sequencer.styles().size());
    const bool imported = valid && style.isCustomSty;
    if (imported && style.hasStyleParts && playImportedStep(sequencer, bar, lead)) return;
    ArrangerBand band(*this);
    band::templateScript(imported ? std::clamp(style.arrangerArchetype, 0, 27) : index)(bar, band);
}

} // namespace tmb
