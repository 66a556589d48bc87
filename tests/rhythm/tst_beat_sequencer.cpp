// The drum sequencer (step frames, clicks, humanize, sections, tap tempo, removals) and
// chord names: every chord template, inversions, polychords.

#include "rhythm/BeatSequencer.h"
#include "rhythm/ChordNames.h"

#include <QTest>

#include <cmath>
#include <functional>
#include <vector>

using namespace tmb;
using namespace Qt::StringLiterals;

namespace {

struct Hit {
    std::uint64_t frame; // first frame of the block that made the hit
    int note, velocity, step;
};

// Renders `frames` frames in blocks into `left`/`right` (when given); `before(frame)` runs first.
std::vector<Hit> play(BeatSequencer& sequencer, std::uint64_t frames, std::uint32_t block = 1,
                      std::vector<float>* left = nullptr, std::vector<float>* right = nullptr,
                      const std::function<void(std::uint64_t)>& before = {}) {
    std::vector<Hit> hits;
    for (std::uint64_t start = 0; start < frames; start += block) {
        if (before) before(start);
        const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(block, frames - start));
        sequencer.processBlock(n, left ? left->data() + start : nullptr,
                               right ? right->data() + start : nullptr, [&](int note, int velocity, bool) {
                                   hits.push_back({start, note, velocity, sequencer.currentStep()});
                               });
    }
    return hits;
}

// An imported style whose lane 3 (note 42) sounds on every step and lane 0 (36) on step 0.
StylePattern everyStepStyle(int stepsPerBar, int beatsPerBar, const char* id = "every_step") {
    StylePattern style;
    style.id = QString::fromLatin1(id);
    style.isCustomSty = true;
    style.stepsPerBar = stepsPerBar;
    style.beatsPerBar = beatsPerBar;
    for (auto& section : style.velocityGrid) {
        section[3].fill(0);
        std::fill_n(section[3].begin(), stepsPerBar, 80);
        section[0][0] = 100;
    }
    return style;
}

BeatSequencer& withStyle(BeatSequencer& sequencer, const StylePattern& style, float bpm) {
    sequencer.appendStyle(style);
    sequencer.selectStyle(static_cast<int>(sequencer.styles().size()) - 1);
    sequencer.setBpm(bpm);
    return sequencer;
}

std::vector<std::uint64_t> framesOf(const std::vector<Hit>& hits, int note) {
    std::vector<std::uint64_t> frames;
    for (const Hit& hit : hits)
        if (hit.note == note) frames.push_back(hit.frame);
    return frames;
}

// "note:velocity" of the hits made at `frame`, sorted: "36:114 49:104".
QString hitsAt(const std::vector<Hit>& hits, std::uint64_t frame) {
    QStringList found;
    for (const Hit& hit : hits)
        if (hit.frame == frame) found << u"%1:%2"_s.arg(hit.note).arg(hit.velocity);
    found.sort();
    return found.join(u' ');
}

// Mask and lowest note of MIDI notes, as the keyboard's held keys give them.
QString nameOf(const QList<int>& notes) {
    std::uint16_t mask = 0;
    int lowest = 128;
    for (int note : notes) {
        mask = static_cast<std::uint16_t>(mask | (1u << (note % 12)));
        lowest = std::min(lowest, note);
    }
    return recognizeChord(mask, notes.isEmpty() ? 0 : lowest);
}

QList<int> ints(const QString& text) {
    QList<int> out;
    for (const QString& n : text.split(u' ', Qt::SkipEmptyParts))
        out << n.toInt();
    return out;
}

} // namespace

class BeatSequencerTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Each step's exact frame (1-frame blocks: no drift), held by the block that makes it in large ones.
    void stepsLandOnTheirFrames() {
        // bpm, swing, steps and beats a bar, rate, frames of an even step and of a pair
        const double rows[][7] = {{120, 0, 16, 4, 48000, 6000, 12000},
                                  {120, 0.5, 16, 4, 48000, 6960, 12000},
                                  {60, 0, 16, 4, 44100, 11025, 22050},
                                  {200, 0.25, 16, 4, 96000, 7776, 14400},
                                  {84, 0, 12, 6, 48000, 48000 / 4.2, 96000 / 4.2},
                                  {92, 0.1, 12, 3, 48000, 6000 * 1.032 * 120 / 92, 12000.0 * 120 / 92}};
        for (const auto& [bpm, swing, stepsPerBar, beatsPerBar, rate, evenStep, pair] : rows) {
            std::vector<std::uint64_t> exact;
            for (std::uint32_t block : {1u, 4096u, 333u}) {
                BeatSequencer sequencer;
                sequencer.prepare(float(rate));
                withStyle(sequencer, everyStepStyle(int(stepsPerBar), int(beatsPerBar)), float(bpm))
                    .setSwing(float(swing));
                sequencer.setPlaying(true);
                const std::vector<Hit> hits = play(sequencer, static_cast<std::uint64_t>(pair * 20), block);
                const std::vector<std::uint64_t> frames = framesOf(hits, 42);
                QCOMPARE(frames.size(), std::size_t{40});
                // The kick marks the bar.
                QCOMPARE(framesOf(hits, 36).size(), std::size_t(39 + stepsPerBar) / std::size_t(stepsPerBar));
                if (block == 1) exact = frames;
                for (std::size_t k = 0; k < frames.size(); ++k) {
                    const double ideal = (k / 2) * pair + (k % 2) * evenStep;
                    QVERIFY(exact[k] >= ideal - 1e-3 && exact[k] < ideal + 1.0);
                    QVERIFY(frames[k] <= exact[k] && exact[k] < frames[k] + block);
                }
                sequencer.setPlaying(false); // a stop goes back to the first step, a start before it
                QCOMPARE(sequencer.currentStep(), 0);
                sequencer.setPlaying(true);
                QCOMPARE(sequencer.currentStep(), -1);
            }
        }
    }

    void metronomeClicksBarsHighAndBeatsLow() {
        const std::tuple<int, int, float, QList<int>> rows[] = {
            {16, 4, 48000.0f, {0, 4, 8, 12}}, {12, 6, 44100.0f, {0, 3, 6, 9}}, {12, 3, 96000.0f, {0, 4, 8}}};
        for (const auto& [stepsPerBar, beatsPerBar, rate, clickSteps] : rows) {
            BeatSequencer sequencer;
            sequencer.prepare(rate);
            withStyle(sequencer, everyStepStyle(stepsPerBar, beatsPerBar), 84.0f).setSwing(0.0f);
            sequencer.setMetronomeEnabled(true);
            sequencer.setPlaying(true);
            const auto frames = static_cast<std::size_t>(rate * 3);
            std::vector<float> left(frames), right(frames);
            const std::vector<std::uint64_t> steps =
                framesOf(play(sequencer, frames, 256, &left, &right), 42);
            for (int step = 0; step < stepsPerBar; ++step) {
                // The hit names its block; the click starts on the step's own frame in it.
                const auto block = static_cast<std::size_t>(steps[static_cast<std::size_t>(step)]);
                std::size_t onset = block;
                while (onset < block + 256 && left[onset] == 0.0f)
                    ++onset;
                QCOMPARE(onset < block + 256, clickSteps.contains(step));
                if (onset == block + 256) continue;
                QCOMPARE(left[onset + 20], right[onset + 20]);
                QVERIFY(*std::max_element(left.cbegin() + onset, left.cbegin() + onset + 100) > 0.2f);
                int crossings = 0; // half the zero crossings of 800 samples give the pitch
                for (std::size_t i = onset; i < onset + 800; ++i)
                    crossings += (left[i - 1] < 0.0f) != (left[i] < 0.0f) ? 1 : 0;
                const double expected = step == 0 ? 1480.0 : 980.0;
                QVERIFY(std::fabs(crossings / 2.0 / (800.0 / rate) - expected) < expected * 0.05);
            }
        }
    }

    void humanizeStaysWithinItsRangeAndRepeats() {
        for (const auto& [amount, low, high] : {std::tuple{0.0f, 0, 0}, {0.5f, -4, 3}, {1.0f, -8, 7}}) {
            std::vector<int> first;
            for (int run = 0; run < 2; ++run) {
                BeatSequencer sequencer;
                StylePattern extremes = everyStepStyle(16, 4); // 1 and 127 must stay in range
                extremes.velocityGrid[1][3][1] = 1;
                extremes.velocityGrid[1][3][2] = 127;
                withStyle(sequencer, extremes, 110.0f).setHumanize(amount);
                sequencer.setPlaying(true);
                std::vector<int> velocities;
                QSet<int> offsets;
                for (const Hit& hit : play(sequencer, 48000 * 16, 64)) {
                    const int grid = hit.note == 36 ? 100 : hit.step == 1 ? 1 : hit.step == 2 ? 127 : 80;
                    QVERIFY(hit.velocity >= 1 && hit.velocity <= 127);
                    if (grid != 1 && grid != 127) offsets.insert(hit.velocity - grid);
                    velocities.push_back(hit.velocity);
                }
                QCOMPARE(*std::min_element(offsets.cbegin(), offsets.cend()), low);
                QCOMPARE(*std::max_element(offsets.cbegin(), offsets.cend()), high);
                if (run == 1) QCOMPARE(velocities, first);
                first = velocities;
            }
        }
    }

    // Built-in styles at 120 BPM: "style section frames action@frame..." (7: a fill), hits
    // "frame=note:velocity;..." and "playing section lastHitFrame". Intro, then Verse A; in 6/8 a fill at
    // step 3 (twice) plays the fill grid's steps 4-11 and returns to Verse B; an Ending chosen mid-bar waits
    // for the bar's end, plays its bar and stops; one chosen while stopped is the one bar, and choosing it
    // again while it plays changes nothing.
    void sectionsFlow() {
        const std::array<const char*, 3> rows[] = {
            {"0 0 100000", "0=36:114 42:82 49:88 69:62;90000=38:110;96000=36:114 42:82 69:62", "1 1 96000"},
            {"10 2 100000 7@30000 7@30000",
             "48000=36:116 38:92 42:88 67:84 70:76 76:90;96000=36:118 42:88 67:84 70:76 76:90", "1 2 96000"},
            {"0 1 288000 6@30000", "36000=37:82 42:92 54:78 69:74;96000=36:114 38:96 49:104 51:104",
             "0 6 96000"},
            {"0 6 200000", "0=36:114 38:96 49:104 51:104", "0 6 0"},
            {"0 6 200000 6@30000", "", "0 6 0"}};
        for (const auto& [setup, expected, end] : rows) {
            const QStringList cells = QString::fromLatin1(setup).split(u' ');
            BeatSequencer sequencer;
            sequencer.initBuiltinStyles();
            sequencer.selectStyle(cells[0].toInt());
            sequencer.setBpm(120.0f);
            sequencer.setSwing(0.0f);
            sequencer.setHumanize(0.0f);
            sequencer.setSection(cells[1].toInt());
            sequencer.setPlaying(true);
            const auto before = [&](std::uint64_t frame) {
                for (const QString& action : cells.mid(3))
                    if (action.section(u'@', 1).toULongLong() == frame)
                        action.startsWith(u'7') ? sequencer.triggerFill()
                                                : sequencer.setSection(action.section(u'@', 0, 0).toInt());
            };
            const std::vector<Hit> hits =
                play(sequencer, cells[2].toULongLong(), 1, nullptr, nullptr, before);
            for (const QString& e : QString::fromLatin1(expected).split(u';', Qt::SkipEmptyParts))
                QCOMPARE(hitsAt(hits, e.section(u'=', 0, 0).toULongLong()), e.section(u'=', 1));
            QCOMPARE(u"%1 %2 %3"_s.arg(sequencer.isPlaying()).arg(sequencer.section()).arg(hits.back().frame),
                     QString::fromLatin1(end));
        }
    }

    void tapTempoAveragesTheLastTaps() {
        const std::pair<QList<qint64>, float> rows[] = {
            {{1000, 1500, 2000, 2500}, 120.0f}, // even 500 ms
            {{1000, 4000, 4600, 5200}, 100.0f}, // a 3 s gap ignored
            {{5000}, 112.0f},                   // one tap changes nothing
            {{1000, 1230, 1460, 1690}, 240.0f}, // fast taps clamp
            {{1000, 3000, 5000}, 40.0f},
            {{1, 2, 1000, 1400, 2000, 2500}, 120.0f}}; // mixed spacing, the ring wraps
        for (const auto& [taps, bpm] : rows) {
            BeatSequencer sequencer;
            for (qint64 t : taps)
                sequencer.tapTempo(t);
            QCOMPARE(std::round(sequencer.bpm() * 100.0f) / 100.0f, bpm);
        }
    }

    // 35 built-in styles and u0-u2 (35-37): selected, removed, selected after (empty: refused).
    void removingAnImportedStyleKeepsTheSelection() {
        const std::tuple<int, int, QString> rows[] = {{37, 35, u"u2"_s}, {36, 36, u"u2"_s}, {37, 37, u"u1"_s},
                                                      {35, 37, u"u0"_s}, {36, 4, {}},       {36, 38, {}}};
        for (const auto& [selected, removed, selectedAfter] : rows) {
            BeatSequencer sequencer;
            sequencer.initBuiltinStyles();
            for (const char* id : {"u0", "u1", "u2"})
                sequencer.appendStyle(everyStepStyle(16, 4, id));
            sequencer.selectStyle(selected);
            sequencer.setBpm(133.0f);
            sequencer.toggleStep(7, 5); // an edit of the selected style's grid
            const bool removes = !selectedAfter.isEmpty();
            QCOMPARE(sequencer.removeCustomStyle(removed), removes);
            QCOMPARE(sequencer.customStyleCount(), removes ? 2 : 3);
            const QString expected = removes ? selectedAfter : u"u1"_s;
            QCOMPARE(sequencer.styles()[size_t(sequencer.selectedStyleIndex())].id, expected);
            QCOMPARE(sequencer.currentStyle().id, expected);
            // The edit survives unless its own style went; the tempo stays.
            QCOMPARE(sequencer.stepVelocity(7, 5), removed == selected && removes ? 0 : 100);
            QCOMPARE(sequencer.bpm(), 133.0f);
            sequencer.clearCustomStyles();
            QVERIFY(sequencer.styles().size() == 35 && sequencer.selectedStyleIndex() == 34);
        }
    }

    // Held notes named; note names, chord symbols transposed, one-finger degrees.
    void chordNamesSpellingAndDegrees() {
        for (const QString& row :
             u"=—|60=C4|0=C-1|49 61 73=C#3|36 52 67 72 76=C|64 67 72=C/E|57 60 64 67=C6/A|53 57 60 62=Dm7/F|"
             u"52 56 60=Caug/E|53 58 60=Fsus4|59 62 65 67=G7/B|57 60 64 66=Am6|55 60 62=Csus2/G|57 60 64=Am|"
             u"69 72 76 80=Am(maj7)|46 51 53 55=Ebadd9/Bb|62 65 71=Bdim/D|65 69 72 76=Fmaj7|"
             u"60 64 67 71 74=C polychord|43 50=G polychord|47 50 53 56=B polychord"_s.split(u'|')) {
            const QStringList parts = row.split(u'=');
            QCOMPARE(nameOf(ints(parts[0])), parts[1]);
        }
        QCOMPARE(midiNoteToDisplayName(61) + midiNoteToDisplayName(70) + midiNoteToDisplayName(127),
                 u"C#4Bb4G9"_s);
        for (const char* row :
             {"Bb7 2 C7", "F#m -1 Fm", "G/B 2 A/B", "N.C. 3 N.C.", "Ebmaj7 0 Ebmaj7", "bb7 2 C7", "E -13 Eb",
              "Ab 25 A", " 5 ", "Cdim 6 F#dim"}) { // symbol, semitones, result
            const QStringList c = QString::fromLatin1(row).split(u' ');
            QCOMPARE(transposeChordSymbol(c[0], c[1].toInt()), c[2]);
        }
        const int expected[12] = {1, 1, 2, 2, 3, 4, 4, 5, 5, 6, 6, 5}; // C C# D ... B, in two octaves
        for (int note = 36; note < 60; ++note)
            QCOMPARE(smartChordDegreeForNote(note), expected[note % 12]);
        QVERIFY(chordDegree(0).degree == 1 && chordDegree(9).semitones == 9);
        QVERIFY(chordDegree(9).minor && chordDegree(2).minor && !chordDegree(5).minor);
        QCOMPARE(QString::fromLatin1(chordDegree(3).roman), u"iii"_s);
    }
};

QTEST_GUILESS_MAIN(BeatSequencerTest)
#include "tst_beat_sequencer.moc"
