#include "BeatSequencer.h"

#include <QVariantMap>

#include <algorithm>
#include <cmath>

namespace tmb {

namespace {

constexpr std::array<int, drumLaneCount> defaultLaneNotes{36, 38, 37, 42, 46, 47, 51, 70};
constexpr const char* defaultLaneNames[drumLaneCount] = {"Kick (36)",      "Snare (38)",     "Rim/Stick (37)",
                                                         "Closed HH (42)", "Open HH (46)",   "Toms (47)",
                                                         "Ride (51)",      "Percussion (70)"};

struct DrumNoteName {
    int note;
    const char* name;
};
constexpr DrumNoteName drumNoteNames[] = {
    {35, "Deep Kick (35)"},     {36, "Kick Drum (36)"},     {37, "Side-Stick / Rim (37)"},
    {38, "Snare Drum (38)"},    {39, "Hand Clap (39)"},     {40, "Brush / Elec Snare (40)"},
    {41, "Low Floor Tom (41)"}, {42, "Closed Hi-Hat (42)"}, {43, "High Floor Tom (43)"},
    {44, "Pedal Hi-Hat (44)"},  {45, "Low Tom (45)"},       {46, "Open Hi-Hat (46)"},
    {47, "Low-Mid Tom (47)"},   {48, "Hi-Mid Tom (48)"},    {49, "Crash Cymbal (49)"},
    {50, "High Tom (50)"},      {51, "Ride Cymbal (51)"},   {53, "Ride Bell (53)"},
    {54, "Tambourine (54)"},    {56, "Cowbell (56)"},       {60, "Hi Bongo (60)"},
    {61, "Low Bongo (61)"},     {62, "Mute Hi Conga (62)"}, {63, "Open Hi Conga (63)"},
    {64, "Low Conga (64)"},     {65, "High Timbale (65)"},  {66, "Low Timbale (66)"},
    {67, "High Agogo (67)"},    {68, "Low Agogo (68)"},     {69, "Cabasa Shaker (69)"},
    {70, "Maracas (70)"},       {73, "Short Guiro (73)"},   {75, "Claves (75)"},
    {76, "Hi Woodblock (76)"},  {77, "Low Woodblock (77)"}, {80, "Mute Triangle (80)"},
    {81, "Open Triangle (81)"},
};

constexpr float barClickHz = 1480.0f;
constexpr float beatClickHz = 980.0f;
constexpr float twoPi = 6.2831853f;
// Rounding of the step length must not push a step one frame late.
constexpr double frameEpsilon = 1e-6;

bool validLane(int lane) {
    return lane >= 0 && lane < drumLaneCount;
}

// 6/8 styles count their 12 steps in three-step beats; everything else in 16ths.
int stepsPerBeat(int stepsPerBar, int beatsPerBar) {
    return (stepsPerBar == 12 && beatsPerBar == 6) ? 3 : 4;
}

} // namespace

BeatSequencer::BeatSequencer() {
    loadWorkingCopy(m_working);
}

// ---------------------------------------------------------------- transport

void BeatSequencer::prepare(float sampleRate) {
    m_sampleRate.store(std::max(sampleRate, 8000.0f), std::memory_order_relaxed);
}

void BeatSequencer::setPlaying(bool playing) {
    if (playing == isPlaying()) return;
    m_endingPending.store(false, std::memory_order_relaxed);
    m_step.store(playing ? -1 : 0, std::memory_order_relaxed);
    m_playing.store(playing, std::memory_order_relaxed);
}

void BeatSequencer::setBpm(float bpm) {
    if (std::isnan(bpm)) return;
    m_bpm.store(std::clamp(bpm, minBpm, maxBpm), std::memory_order_relaxed);
}

void BeatSequencer::tapTempo(std::int64_t nowMs) {
    m_taps[static_cast<std::size_t>(m_tapIndex)] = nowMs;
    m_tapIndex = (m_tapIndex + 1) % 4;
    double sum = 0.0;
    int pairs = 0;
    // Newest with second newest, second with third, third with oldest.
    for (int k = 0; k < 3; ++k) {
        const std::int64_t newer = m_taps[static_cast<std::size_t>((m_tapIndex + 3 - k) % 4)];
        const std::int64_t older = m_taps[static_cast<std::size_t>((m_tapIndex + 2 - k) % 4)];
        const std::int64_t gap = newer - older;
        if (newer == 0 || older == 0 || gap < 220 || gap > 2200) continue;
        sum += static_cast<double>(gap);
        ++pairs;
    }
    if (pairs > 0) setBpm(static_cast<float>(60000.0 / (sum / pairs)));
}

void BeatSequencer::setSection(int section) {
    section = std::clamp(section, 0, songSectionCount - 1);
    const int ending = static_cast<int>(SongSection::Ending);
    const bool pending = m_endingPending.load(std::memory_order_relaxed);
    const int sounding = pending ? m_endingFrom.load(std::memory_order_relaxed) : this->section();
    // Mid-bar the Ending waits for the bar start, so its crash and hits are heard.
    const bool waitForBar = section == ending && sounding != ending && isPlaying() && currentStep() >= 0;
    if (waitForBar && !pending) m_endingFrom.store(sounding, std::memory_order_relaxed);
    m_endingPending.store(waitForBar, std::memory_order_relaxed);
    m_section.store(section, std::memory_order_relaxed);
    if (section != static_cast<int>(SongSection::Fill))
        m_returnSection.store(section, std::memory_order_relaxed);
}

void BeatSequencer::triggerFill() {
    const int fill = static_cast<int>(SongSection::Fill);
    // A fill asked for while an Ending waits replaces it.
    const int sounding = m_endingPending.exchange(false, std::memory_order_relaxed)
                             ? m_endingFrom.load(std::memory_order_relaxed)
                             : section();
    if (sounding != fill) m_returnSection.store(sounding, std::memory_order_relaxed);
    m_section.store(fill, std::memory_order_relaxed);
}

// ---------------------------------------------------------------- styles

void BeatSequencer::initBuiltinStyles() {
    m_styles = builtinStyles();
}

void BeatSequencer::appendStyle(const StylePattern& style) {
    m_styles.push_back(style);
}

void BeatSequencer::loadWorkingCopy(const StylePattern& style) {
    m_working = style;
    for (int s = 0; s < songSectionCount; ++s)
        for (int lane = 0; lane < drumLaneCount; ++lane)
            for (int step = 0; step < maxStepsPerBar; ++step)
                m_live.grid[s][lane][step].store(style.velocityGrid[s][lane][step],
                                                 std::memory_order_relaxed);
    for (int lane = 0; lane < drumLaneCount; ++lane)
        m_live.laneNotes[lane].store(std::clamp(style.laneNotes[lane], 0, 127), std::memory_order_relaxed);
    m_live.stepsPerBar.store(style.stepsPerBar, std::memory_order_relaxed);
    m_live.beatsPerBar.store(style.beatsPerBar, std::memory_order_relaxed);
}

void BeatSequencer::selectStyle(int index) {
    if (index < 0 || index >= static_cast<int>(m_styles.size())) return;
    m_selected = index;
    loadWorkingCopy(m_styles[static_cast<std::size_t>(index)]);
    setBpm(m_working.bpm);
}

int BeatSequencer::customStyleCount() const {
    return static_cast<int>(std::count_if(m_styles.cbegin(), m_styles.cend(),
                                          [](const StylePattern& s) { return s.isCustomSty; }));
}

// Removes the styles `remove` picks. The selection stays on its style; when that
// style goes, the next remaining one takes its place, or the one before it at the
// end of the list. The working copy (with its grid edits) is reloaded only then.
void BeatSequencer::removeStylesWhere(bool (*remove)(const StylePattern&, int index, int target),
                                      int target) {
    std::vector<StylePattern> kept;
    kept.reserve(m_styles.size());
    int selected = -1;
    bool selectedRemoved = false;
    for (int i = 0; i < static_cast<int>(m_styles.size()); ++i) {
        const bool goes = remove(m_styles[static_cast<std::size_t>(i)], i, target);
        if (i == m_selected) {
            selectedRemoved = goes;
            selected = static_cast<int>(kept.size()); // the first kept style at or after it
        }
        if (!goes) kept.push_back(m_styles[static_cast<std::size_t>(i)]);
    }
    m_styles = std::move(kept);
    if (selected < 0) return; // the selection was not a catalogue entry
    m_selected = std::clamp(selected, 0, std::max(static_cast<int>(m_styles.size()) - 1, 0));
    if (selectedRemoved && !m_styles.empty()) loadWorkingCopy(m_styles[static_cast<std::size_t>(m_selected)]);
}

bool BeatSequencer::removeCustomStyle(int index) {
    if (index < 0 || index >= static_cast<int>(m_styles.size()) ||
        !m_styles[static_cast<std::size_t>(index)].isCustomSty)
        return false;
    removeStylesWhere([](const StylePattern&, int i, int target) { return i == target; }, index);
    return true;
}

void BeatSequencer::clearCustomStyles() {
    removeStylesWhere([](const StylePattern& s, int, int) { return s.isCustomSty; }, 0);
}

int BeatSequencer::clampedSection() const {
    return std::clamp(section(), 0, songSectionCount - 1);
}

int BeatSequencer::stepVelocity(int lane, int step) const {
    if (!validLane(lane) || step < 0 || step >= maxStepsPerBar) return 0;
    return m_working.velocityGrid[clampedSection()][lane][step];
}

void BeatSequencer::setStepVelocity(int lane, int step, int velocity) {
    if (!validLane(lane) || step < 0 || step >= maxStepsPerBar) return;
    const auto v = static_cast<std::uint8_t>(std::clamp(velocity, 0, 127));
    const int s = clampedSection();
    m_working.velocityGrid[s][lane][step] = v;
    m_live.grid[s][lane][step].store(v, std::memory_order_relaxed);
}

void BeatSequencer::toggleStep(int lane, int step) {
    setStepVelocity(lane, step, stepVelocity(lane, step) > 0 ? 0 : 100);
}

int BeatSequencer::laneMidiNote(int lane) {
    return validLane(lane) ? defaultLaneNotes[static_cast<std::size_t>(lane)] : 36;
}

QString BeatSequencer::laneName(int lane) {
    return validLane(lane) ? QString::fromLatin1(defaultLaneNames[lane]) : QStringLiteral("Drum");
}

QString BeatSequencer::midiDrumNoteName(int note, int lane) {
    for (const DrumNoteName& entry : drumNoteNames)
        if (entry.note == note) return QString::fromLatin1(entry.name);
    return laneName(lane);
}

QVariantList BeatSequencer::stylesAsVariantList() const {
    QVariantList list;
    for (int i = 0; i < static_cast<int>(m_styles.size()); ++i) {
        const StylePattern& s = m_styles[static_cast<std::size_t>(i)];
        list.append(QVariantMap{{QStringLiteral("index"), i},
                                {QStringLiteral("id"), s.id},
                                {QStringLiteral("name"), s.name},
                                {QStringLiteral("genre"), s.genre},
                                {QStringLiteral("subDescription"), s.subDescription},
                                {QStringLiteral("mainPresetId"), s.mainPresetId},
                                {QStringLiteral("layerPresetId"), s.layerPresetId},
                                {QStringLiteral("splitPresetId"), s.splitPresetId},
                                {QStringLiteral("defaultProgIdx"), s.defaultProgIdx},
                                {QStringLiteral("arrangerArchetype"), s.arrangerArchetype},
                                {QStringLiteral("bpm"), s.bpm},
                                {QStringLiteral("stepsPerBar"), s.stepsPerBar},
                                {QStringLiteral("drumKitProgram"), s.drumKitProgram},
                                {QStringLiteral("isCustomSty"), s.isCustomSty},
                                {QStringLiteral("styFilePath"), s.styFilePath}});
    }
    return list;
}

QVariantList BeatSequencer::currentGridAsVariantList() const {
    QVariantList lanes;
    const int s = clampedSection();
    for (int lane = 0; lane < drumLaneCount; ++lane) {
        QVariantList steps;
        for (int step = 0; step < maxStepsPerBar; ++step)
            steps.append(static_cast<int>(m_working.velocityGrid[s][lane][step]));
        const int note = m_working.laneNotes[static_cast<std::size_t>(lane)];
        lanes.append(QVariantMap{{QStringLiteral("lane"), lane},
                                 {QStringLiteral("name"), midiDrumNoteName(note, lane)},
                                 {QStringLiteral("midiNote"), note},
                                 {QStringLiteral("steps"), steps}});
    }
    return lanes;
}

// ---------------------------------------------------------------- audio thread

double BeatSequencer::stepFrames(int step, int stepsPerBar, int beatsPerBar) const noexcept {
    const double tempo = std::clamp(bpm(), minBpm, maxBpm);
    const double frames = 60.0 / tempo / stepsPerBeat(stepsPerBar, beatsPerBar) *
                          static_cast<double>(m_sampleRate.load(std::memory_order_relaxed));
    const double k = static_cast<double>(std::clamp(swing(), 0.0f, 0.75f)) * 0.32;
    return frames * ((step % 2 == 0) ? 1.0 + k : 1.0 - k);
}

void BeatSequencer::processBlock(std::uint32_t frames, float* outLeft, float* outRight,
                                 DrumHit onHit) noexcept {
    if (!isPlaying()) return;
    int step = currentStep();
    std::uint32_t position = 0;
    while (position < frames) {
        const bool restarted = step < 0;
        std::uint32_t at = position;
        if (!restarted) {
            const int stepsPerBar = m_live.stepsPerBar.load(std::memory_order_relaxed);
            const int beatsPerBar = m_live.beatsPerBar.load(std::memory_order_relaxed);
            const double length = stepFrames(step, stepsPerBar, beatsPerBar);
            const double wait = std::max(std::ceil(length - m_sinceStep - frameEpsilon), 0.0);
            if (wait >= static_cast<double>(frames - position)) {
                m_sinceStep += static_cast<double>(frames - position);
                renderClick(outLeft, outRight, position, frames);
                return;
            }
            at = position + static_cast<std::uint32_t>(wait);
            // The rest of a step carries into the next, so the tempo never drifts.
            m_sinceStep += wait - length;
        }
        renderClick(outLeft, outRight, position, at);
        position = at;
        if (!startStep(step, restarted, onHit)) return;
    }
}

// Moves to the step after `step` (step 0 after a start) and sounds it. False when
// the sequencer stopped: after an Ending bar, or stopped from the GUI meanwhile.
bool BeatSequencer::startStep(int& step, bool restarted, DrumHit& onHit) noexcept {
    if (!isPlaying()) return false;
    // A restart asked for meanwhile begins again at step 0.
    if (currentStep() < 0) restarted = true;
    if (restarted) m_sinceStep = 0.0;

    const int stepsPerBar = m_live.stepsPerBar.load(std::memory_order_relaxed);
    const int beatsPerBar = m_live.beatsPerBar.load(std::memory_order_relaxed);
    const int barLength = std::clamp(stepsPerBar, 8, maxStepsPerBar);
    // A style with a shorter bar chosen mid-bar wraps at once.
    const int next = (restarted || step + 1 >= barLength) ? 0 : step + 1;

    // The first step after a start is not a bar start.
    if (next == 0 && !restarted) {
        const auto current = static_cast<SongSection>(section());
        if (m_endingPending.exchange(false, std::memory_order_relaxed)) {
            // The Ending chosen during the last bar begins now.
        } else if (current == SongSection::Ending) {
            m_playing.store(false, std::memory_order_relaxed);
            m_step.store(0, std::memory_order_relaxed);
            step = 0;
            return false;
        } else if (current == SongSection::Fill) {
            m_section.store(m_returnSection.load(std::memory_order_relaxed), std::memory_order_relaxed);
        } else if (current == SongSection::Intro) {
            m_section.store(static_cast<int>(SongSection::VerseA), std::memory_order_relaxed);
            m_returnSection.store(static_cast<int>(SongSection::VerseA), std::memory_order_relaxed);
        }
    }
    step = next;
    m_step.store(step, std::memory_order_relaxed);

    // Until a waiting Ending begins, the bar finishes in the section it started in.
    const int sounding = std::clamp(m_endingPending.load(std::memory_order_relaxed)
                                        ? m_endingFrom.load(std::memory_order_relaxed)
                                        : section(),
                                    0, songSectionCount - 1);
    const float humanize = this->humanize();
    const bool toPlugin = m_hitsToPlugin.load(std::memory_order_relaxed);
    for (int lane = 0; lane < drumLaneCount; ++lane) {
        const int v = m_live.grid[sounding][lane][step].load(std::memory_order_relaxed);
        if (v == 0) continue;
        m_random = m_random * 1664525u + 1013904223u;
        const int offset =
            static_cast<int>(static_cast<float>(static_cast<int>(m_random & 15u) - 8) * humanize);
        onHit(m_live.laneNotes[lane].load(std::memory_order_relaxed), std::clamp(v + offset, 1, 127),
              toPlugin);
    }
    const auto soundingSection = static_cast<SongSection>(sounding);
    if (step == 0 && (soundingSection == SongSection::Intro || soundingSection == SongSection::Chorus ||
                      soundingSection == SongSection::Ending))
        onHit(crashNote, soundingSection == SongSection::Ending ? 104 : 88, toPlugin);

    if (metronomeEnabled()) {
        const bool beat = step % stepsPerBeat(stepsPerBar, beatsPerBar) == 0;
        if (step == 0 || beat) {
            m_clickFrequency = step == 0 ? barClickHz : beatClickHz;
            m_clickAmplitude = 1.0f;
            m_clickPhase = 0.0f;
        }
    }
    return true;
}

void BeatSequencer::renderClick(float* left, float* right, std::uint32_t from, std::uint32_t to) noexcept {
    if (left == nullptr || right == nullptr) return;
    const float increment = twoPi * m_clickFrequency / m_sampleRate.load(std::memory_order_relaxed);
    for (std::uint32_t i = from; i < to && m_clickAmplitude > 0.0005f; ++i) {
        const float sample = std::sin(m_clickPhase) * m_clickAmplitude * 0.25f;
        left[i] += sample;
        right[i] += sample;
        m_clickPhase += increment;
        if (m_clickPhase > twoPi) m_clickPhase -= twoPi;
        m_clickAmplitude *= 0.994f;
    }
}

} // namespace tmb
