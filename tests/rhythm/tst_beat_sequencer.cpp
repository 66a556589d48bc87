// The drum sequencer: step frames at any tempo, swing, meter, rate and block size; the
// metronome; humanize; the flow of sections; tap tempo; the catalogue; the step editors.

#include "rhythm/BeatSequencer.h"

#include <QTest>

#include <cmath>
#include <functional>
#include <vector>

using namespace tmb;

namespace {

struct Hit {
    std::uint64_t frame; // first frame of the block that made the hit
    int note, velocity, step;
};

// Renders `frames` frames in blocks of `block` into `left`/`right` (when given);
// `before(frame)` runs before each block.
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
        if (hit.frame == frame) found << QStringLiteral("%1:%2").arg(hit.note).arg(hit.velocity);
    found.sort();
    return found.join(QLatin1Char(' '));
}

} // namespace

class BeatSequencerTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Tempo, swing, steps and beats a bar, rate; frames of an even step and of a pair.
    void stepsLandOnTheirFrames_data() {
        for (const char* name : {"bpm", "swing", "stepsPerBar", "beatsPerBar", "rate", "evenStep", "pair"})
            QTest::addColumn<double>(name);
        QTest::newRow("120, straight") << 120.0 << 0.0 << 16.0 << 4.0 << 48000.0 << 6000.0 << 12000.0;
        QTest::newRow("120, swing 0.5") << 120.0 << 0.5 << 16.0 << 4.0 << 48000.0 << 6960.0 << 12000.0;
        QTest::newRow("60 at 44.1 kHz") << 60.0 << 0.0 << 16.0 << 4.0 << 44100.0 << 11025.0 << 22050.0;
        QTest::newRow("200 at 96 kHz, swing 0.25")
            << 200.0 << 0.25 << 16.0 << 4.0 << 96000.0 << 7776.0 << 14400.0;
        QTest::newRow("6/8 at 84") << 84.0 << 0.0 << 12.0 << 6.0 << 48000.0 << 48000 / 4.2 << 96000 / 4.2;
        QTest::newRow("3/4 at 92, swing 0.1")
            << 92.0 << 0.1 << 12.0 << 3.0 << 48000.0 << 6000 * 1.032 * 120 / 92 << 12000.0 * 120 / 92;
    }
    void stepsLandOnTheirFrames() {
        QFETCH(double, bpm);
        QFETCH(double, swing);
        QFETCH(double, stepsPerBar);
        QFETCH(double, beatsPerBar);
        QFETCH(double, rate);
        QFETCH(double, evenStep);
        QFETCH(double, pair);
        // 1-frame blocks give each step's exact frame (the first at or after its ideal
        // time: no drift); large blocks must hold each step's frame.
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
            // The kick marks the bar: once every stepsPerBar steps.
            QCOMPARE(framesOf(hits, 36).size(), std::size_t(39 + stepsPerBar) / std::size_t(stepsPerBar));
            if (block == 1) exact = frames;
            for (std::size_t k = 0; k < frames.size(); ++k) {
                const double ideal = (k / 2) * pair + (k % 2) * evenStep;
                QVERIFY2(exact[k] >= ideal - 1e-3 && exact[k] < ideal + 1.0, qPrintable(QString::number(k)));
                QVERIFY(frames[k] <= exact[k] && exact[k] < frames[k] + block);
            }
        }
    }

    void stoppingAndStartingBeginsAgainAtStepZero() {
        BeatSequencer sequencer;
        withStyle(sequencer, everyStepStyle(16, 4), 120.0f).setMetronomeEnabled(true);
        sequencer.setPlaying(true);
        play(sequencer, 20000);
        sequencer.setPlaying(false);
        QCOMPARE(sequencer.currentStep(), 0);
        std::vector<float> left(20000), right(20000);
        QVERIFY(play(sequencer, 20000, 256, &left, &right).empty()); // not even the click
        QCOMPARE(*std::max_element(left.cbegin(), left.cend()), 0.0f);
        sequencer.setPlaying(true);
        QCOMPARE(sequencer.currentStep(), -1);
        QCOMPARE(framesOf(play(sequencer, 100), 36), std::vector<std::uint64_t>{0});
    }

    void metronomeClicksBarsHighAndBeatsLow_data() {
        QTest::addColumn<int>("stepsPerBar");
        QTest::addColumn<int>("beatsPerBar");
        QTest::addColumn<float>("rate");
        QTest::addColumn<QList<int>>("clickSteps");
        QTest::newRow("4/4 at 48 kHz") << 16 << 4 << 48000.0f << QList<int>{0, 4, 8, 12};
        QTest::newRow("6/8 at 44.1 kHz") << 12 << 6 << 44100.0f << QList<int>{0, 3, 6, 9};
        QTest::newRow("3/4 at 96 kHz") << 12 << 3 << 96000.0f << QList<int>{0, 4, 8};
    }
    void metronomeClicksBarsHighAndBeatsLow() {
        QFETCH(int, stepsPerBar);
        QFETCH(int, beatsPerBar);
        QFETCH(float, rate);
        QFETCH(QList<int>, clickSteps);
        BeatSequencer sequencer;
        sequencer.prepare(rate);
        withStyle(sequencer, everyStepStyle(stepsPerBar, beatsPerBar), 84.0f).setSwing(0.0f);
        sequencer.setMetronomeEnabled(true);
        sequencer.setPlaying(true);
        const auto frames = static_cast<std::size_t>(rate * 3);
        std::vector<float> left(frames), right(frames);
        const std::vector<std::uint64_t> steps = framesOf(play(sequencer, frames, 256, &left, &right), 42);
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

    void humanizeStaysWithinItsRangeAndRepeats_data() {
        QTest::addColumn<float>("amount");
        QTest::addColumn<int>("low");
        QTest::addColumn<int>("high");
        QTest::newRow("off") << 0.0f << 0 << 0;
        QTest::newRow("half") << 0.5f << -4 << 3;
        QTest::newRow("full") << 1.0f << -8 << 7;
    }
    void humanizeStaysWithinItsRangeAndRepeats() {
        QFETCH(float, amount);
        QFETCH(int, low);
        QFETCH(int, high);
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

    // Built-in styles at 120 BPM, 1-frame blocks; actions (a section, 7 a fill) at frames.
    void sectionsFlow_data() {
        QTest::addColumn<int>("style");
        QTest::addColumn<int>("start");
        QTest::addColumn<QList<QPoint>>("actions"); // (frame, action)
        QTest::addColumn<int>("frames");
        QTest::addColumn<QStringList>("expected"); // "frame=hits"
        QTest::addColumn<QString>("end");          // "playing section lastHitFrame"
        QTest::newRow("intro with its crash, then verse A")
            << 0 << 0 << QList<QPoint>{} << 100000
            << QStringList{"0=36:114 42:82 49:88 69:62", "90000=38:110", "96000=36:114 42:82 69:62"}
            << "1 1 96000";
        // 6/8: 8000 frames a step. A fill at step 3 (twice) plays steps 4-11 from the
        // fill grid (its snare at step 6) and returns to Verse B.
        QTest::newRow("fill returns to verse B") << 10 << 2 << QList<QPoint>{{30000, 7}, {30000, 7}} << 100000
                                                 << QStringList{"48000=36:116 38:92 42:88 67:84 70:76 76:90",
                                                                "96000=36:118 42:88 67:84 70:76 76:90"}
                                                 << "1 2 96000";
        // An Ending chosen mid-bar: the bar finishes in Verse A, then the whole Ending
        // bar (kick, snare, ride lane and its crash), then it stops.
        QTest::newRow("ending chosen mid-bar")
            << 0 << 1 << QList<QPoint>{{30000, 6}} << 288000
            << QStringList{"36000=37:82 42:92 54:78 69:74", "96000=36:114 38:96 49:104 51:104"}
            << "0 6 96000";
        // Starting is not a bar start: an Ending chosen while stopped is the one bar.
        QTest::newRow("ending chosen while stopped")
            << 0 << 6 << QList<QPoint>{} << 200000 << QStringList{"0=36:114 38:96 49:104 51:104"} << "0 6 0";
        QTest::newRow("ending chosen again while it plays")
            << 0 << 6 << QList<QPoint>{{30000, 6}} << 200000 << QStringList{} << "0 6 0";
    }
    void sectionsFlow() {
        QFETCH(int, style);
        QFETCH(int, start);
        QFETCH(QList<QPoint>, actions);
        QFETCH(int, frames);
        QFETCH(QStringList, expected);
        QFETCH(QString, end);
        BeatSequencer sequencer;
        sequencer.initBuiltinStyles();
        sequencer.selectStyle(style);
        sequencer.setBpm(120.0f);
        sequencer.setSwing(0.0f);
        sequencer.setHumanize(0.0f);
        sequencer.setSection(start);
        sequencer.setPlaying(true);
        const std::vector<Hit> hits = play(
            sequencer, static_cast<std::uint64_t>(frames), 1, nullptr, nullptr, [&](std::uint64_t frame) {
                for (const QPoint& action : actions)
                    if (action.x() == static_cast<int>(frame))
                        action.y() == 7 ? sequencer.triggerFill() : sequencer.setSection(action.y());
            });
        for (const QString& e : expected)
            QCOMPARE(hitsAt(hits, e.section('=', 0, 0).toULongLong()), e.section('=', 1));
        QCOMPARE(QStringLiteral("%1 %2 %3")
                     .arg(sequencer.isPlaying())
                     .arg(sequencer.section())
                     .arg(hits.back().frame),
                 end);
    }

    void tapTempoAveragesTheLastTaps_data() {
        QTest::addColumn<QList<qint64>>("taps");
        QTest::addColumn<float>("bpm");
        QTest::newRow("even 500 ms") << QList<qint64>{1000, 1500, 2000, 2500} << 120.0f;
        QTest::newRow("a 3 s gap ignored") << QList<qint64>{1000, 4000, 4600, 5200} << 100.0f;
        QTest::newRow("one tap changes nothing") << QList<qint64>{5000} << 112.0f;
        QTest::newRow("fast taps clamp") << QList<qint64>{1000, 1230, 1460, 1690} << 240.0f;
        QTest::newRow("slow taps") << QList<qint64>{1000, 3000, 5000} << 40.0f;
        QTest::newRow("mixed spacing, ring wraps") << QList<qint64>{1, 2, 1000, 1400, 2000, 2500} << 120.0f;
    }
    void tapTempoAveragesTheLastTaps() {
        QFETCH(QList<qint64>, taps);
        QFETCH(float, bpm);
        BeatSequencer sequencer;
        for (qint64 t : taps)
            sequencer.tapTempo(t);
        QCOMPARE(std::round(sequencer.bpm() * 100.0f) / 100.0f, bpm);
    }

    // Every built-in style: a kick on step 0, nothing past its bar, an Ending of one hit
    // on step 0 (kick, snare, crash) and a Bridge without snare, crash or ride.
    void builtinCatalogueKeepsItsShapes() {
        BeatSequencer sequencer;
        sequencer.initBuiltinStyles();
        QCOMPARE(sequencer.styles().size(), std::size_t{35});
        QSet<QString> ids;
        for (const StylePattern& style : sequencer.styles()) {
            ids.insert(style.id);
            const auto& grid = style.velocityGrid;
            QVERIFY2(grid[1][0][0] > 0, qPrintable(style.id));
            int endingTotal = 0;
            for (int section = 0; section < songSectionCount; ++section) {
                for (int lane = 0; lane < drumLaneCount; ++lane) {
                    for (int step = 0; step < maxStepsPerBar; ++step) {
                        QVERIFY(step < style.stepsPerBar || grid[section][lane][step] == 0);
                        endingTotal += section == 6 ? grid[section][lane][step] : 0;
                    }
                }
            }
            for (int lane = 0; lane < drumLaneCount; ++lane)
                QCOMPARE(grid[4][lane],
                         (lane == 1 || lane == 4 || lane >= 6) ? DrumLaneRow{} : grid[1][lane]);
            QCOMPARE(grid[6][0][0] + grid[6][1][0] + grid[6][6][0], endingTotal);
            QCOMPARE(endingTotal, 114 + 96 + 104);
        }
        QCOMPARE(ids.size(), 35);
    }

    void removingAnImportedStyleKeepsTheSelection_data() {
        QTest::addColumn<int>("selected");
        QTest::addColumn<int>("removed");
        QTest::addColumn<QString>("selectedAfter"); // empty: refused
        // The catalogue: 35 built-in styles, then imports u0, u1, u2 (indices 35-37).
        QTest::newRow("before the selection") << 37 << 35 << "u2";
        QTest::newRow("the selection itself") << 36 << 36 << "u2";
        QTest::newRow("the last, selected") << 37 << 37 << "u1";
        QTest::newRow("after the selection") << 35 << 37 << "u0";
        QTest::newRow("built-in refused") << 36 << 4 << "";
        QTest::newRow("out of range") << 36 << 38 << "";
    }
    void removingAnImportedStyleKeepsTheSelection() {
        QFETCH(int, selected);
        QFETCH(int, removed);
        QFETCH(QString, selectedAfter);
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
        const QString expected = removes ? selectedAfter : QStringLiteral("u1");
        QCOMPARE(sequencer.styles()[static_cast<std::size_t>(sequencer.selectedStyleIndex())].id, expected);
        QCOMPARE(sequencer.currentStyle().id, expected);
        // The edit survives unless its own style went; the tempo stays.
        QCOMPARE(sequencer.stepVelocity(7, 5), removed == selected && removes ? 0 : 100);
        QCOMPARE(sequencer.bpm(), 133.0f);
        sequencer.clearCustomStyles();
        QCOMPARE(sequencer.styles().size(), std::size_t{35});
        QCOMPARE(sequencer.selectedStyleIndex(), 34);
    }

    void stepEditorsActOnTheCurrentSection() {
        BeatSequencer sequencer;
        sequencer.initBuiltinStyles();
        sequencer.selectStyle(0);
        sequencer.setSection(static_cast<int>(SongSection::Chorus));
        QCOMPARE(sequencer.stepVelocity(6, 2), 84);
        sequencer.toggleStep(6, 2);
        QCOMPARE(sequencer.stepVelocity(6, 2), 0);
        sequencer.toggleStep(6, 2);
        sequencer.setStepVelocity(0, 15, 300);
        sequencer.setStepVelocity(8, 0, 50); // no such lane
        QCOMPARE(QList<int>({sequencer.stepVelocity(6, 2), sequencer.stepVelocity(0, 15),
                             sequencer.stepVelocity(8, 0), sequencer.stepVelocity(0, 16)}),
                 QList<int>({100, 127, 0, 0}));
        sequencer.setSection(static_cast<int>(SongSection::VerseA));
        QCOMPARE(sequencer.stepVelocity(6, 2), 0); // the Chorus edit stayed there
        const QVariantMap tambourine = sequencer.currentGridAsVariantList()[5].toMap();
        QCOMPARE(tambourine[QStringLiteral("name")].toString(), QStringLiteral("Tambourine (54)"));
        QCOMPARE(tambourine[QStringLiteral("steps")].toList()[2].toInt(), 76);
        QCOMPARE(sequencer.stylesAsVariantList().constFirst().toMap()[QStringLiteral("bpm")].toFloat(),
                 118.0f);
        QCOMPARE(BeatSequencer::midiDrumNoteName(52, 6), QStringLiteral("Ride (51)"));
    }
};

QTEST_GUILESS_MAIN(BeatSequencerTest)
#include "tst_beat_sequencer.moc"
