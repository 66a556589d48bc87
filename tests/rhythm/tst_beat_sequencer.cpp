// The drum sequencer: where each step lands at any tempo, swing, meter, rate and
// block size; the metronome's clicks; humanize; the flow of sections (an Intro with
// its crash, a Fill that returns, an Ending that is heard before it stops); tap
// tempo; the built-in catalogue; removing imported styles; the step editors.

#include "rhythm/BeatSequencer.h"

#include <QTest>

#include <cmath>
#include <vector>

using namespace tmb;

namespace {

struct Hit {
    std::uint64_t frame; // first frame of the block that made the hit
    int note;
    int velocity;
};

struct Run {
    std::vector<Hit> hits;
    std::vector<float> left, right;
};

// Renders `frames` frames in blocks of `block`; the hits carry their block's start.
Run play(BeatSequencer& sequencer, std::uint64_t frames, std::uint32_t block = 1, bool keepAudio = false) {
    Run run;
    if (keepAudio) {
        run.left.assign(frames, 0.0f);
        run.right.assign(frames, 0.0f);
    }
    for (std::uint64_t start = 0; start < frames; start += block) {
        const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(block, frames - start));
        auto hit = [&run, start](int note, int velocity, bool) {
            run.hits.push_back({start, note, velocity});
        };
        sequencer.processBlock(n, keepAudio ? run.left.data() + start : nullptr,
                               keepAudio ? run.right.data() + start : nullptr, hit);
    }
    return run;
}

// A style with one lane per purpose: lane 3 sounds on every step (so every step
// shows), lane 0 only on step 0.
StylePattern everyStepStyle(int stepsPerBar, int beatsPerBar) {
    StylePattern style;
    style.id = QStringLiteral("test_every_step");
    style.isCustomSty = true;
    style.stepsPerBar = stepsPerBar;
    style.beatsPerBar = beatsPerBar;
    for (auto& section : style.velocityGrid) {
        for (int step = 0; step < stepsPerBar; ++step)
            section[3][static_cast<std::size_t>(step)] = 80;
        section[0][0] = 100;
    }
    return style;
}

BeatSequencer& withStyle(BeatSequencer& sequencer, const StylePattern& style) {
    sequencer.appendStyle(style);
    sequencer.selectStyle(static_cast<int>(sequencer.styles().size()) - 1);
    return sequencer;
}

std::vector<std::uint64_t> stepFrames(const Run& run, int laneNote = 42) {
    std::vector<std::uint64_t> frames;
    for (const Hit& hit : run.hits)
        if (hit.note == laneNote) frames.push_back(hit.frame);
    return frames;
}

// (note, velocity) of the hits made at `frame`, sorted, as text: "36:114 49:104".
QString hitsAt(const Run& run, std::uint64_t frame) {
    QStringList hits;
    for (const Hit& hit : run.hits)
        if (hit.frame == frame) hits << QStringLiteral("%1:%2").arg(hit.note).arg(hit.velocity);
    hits.sort();
    return hits.join(QLatin1Char(' '));
}

// Half the zero crossings per second over the first 800 samples of a click.
double clickFrequency(const std::vector<float>& signal, std::size_t onset, double sampleRate) {
    int crossings = 0;
    for (std::size_t i = onset + 1; i < onset + 800; ++i)
        if ((signal[i - 1] < 0.0f) != (signal[i] < 0.0f)) ++crossings;
    return crossings / 2.0 / (799.0 / sampleRate);
}

} // namespace

class BeatSequencerTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void stepsLandOnTheirFrames_data() {
        QTest::addColumn<float>("bpm");
        QTest::addColumn<float>("swing");
        QTest::addColumn<int>("stepsPerBar");
        QTest::addColumn<int>("beatsPerBar");
        QTest::addColumn<float>("rate");
        QTest::addColumn<double>("evenStep"); // frames of an even step; odd steps fill the pair
        QTest::addColumn<double>("pair");
        QTest::newRow("120, straight") << 120.0f << 0.0f << 16 << 4 << 48000.0f << 6000.0 << 12000.0;
        QTest::newRow("120, swing 0.5") << 120.0f << 0.5f << 16 << 4 << 48000.0f << 6960.0 << 12000.0;
        QTest::newRow("60 at 44.1 kHz") << 60.0f << 0.0f << 16 << 4 << 44100.0f << 11025.0 << 22050.0;
        QTest::newRow("200 at 96 kHz, swing 0.25")
            << 200.0f << 0.25f << 16 << 4 << 96000.0f << 7776.0 << 14400.0;
        QTest::newRow("6/8 at 84") << 84.0f << 0.0f << 12 << 6 << 48000.0f << 48000.0 / 4.2 << 96000.0 / 4.2;
        QTest::newRow("3/4 at 92, swing 0.1")
            << 92.0f << 0.1f << 12 << 3 << 48000.0f << 7826.087 * 1.032 << 2 * 7826.087;
    }
    void stepsLandOnTheirFrames() {
        QFETCH(float, bpm);
        QFETCH(float, swing);
        QFETCH(int, stepsPerBar);
        QFETCH(int, beatsPerBar);
        QFETCH(float, rate);
        QFETCH(double, evenStep);
        QFETCH(double, pair);
        const auto runFor = static_cast<std::uint64_t>(pair * 20); // 40 steps
        // 1-frame blocks give each step's exact frame; large blocks must put every
        // step in the block that holds that frame.
        std::vector<std::uint64_t> exact;
        for (std::uint32_t block : {1u, 4096u, 333u}) {
            BeatSequencer sequencer;
            sequencer.prepare(rate);
            withStyle(sequencer, everyStepStyle(stepsPerBar, beatsPerBar)).setBpm(bpm);
            sequencer.setSwing(swing);
            sequencer.setPlaying(true);
            const std::vector<std::uint64_t> frames = stepFrames(play(sequencer, runFor, block));
            if (block == 1) {
                exact = frames;
                QCOMPARE(frames.size(), std::size_t{40});
                for (std::size_t k = 0; k < frames.size(); ++k) {
                    // Step k starts at the first frame at or after its ideal time: the
                    // rounding of one step never carries into the next.
                    const double ideal = (k / 2) * pair + (k % 2) * evenStep;
                    QVERIFY2(frames[k] >= ideal - 1e-3 && frames[k] < ideal + 1.0,
                             qPrintable(
                                 QStringLiteral("step %1 at %2, ideal %3").arg(k).arg(frames[k]).arg(ideal)));
                }
                continue;
            }
            QCOMPARE(frames.size(), exact.size());
            for (std::size_t k = 0; k < frames.size(); ++k)
                QVERIFY(frames[k] <= exact[k] && exact[k] < frames[k] + block);
        }
    }

    void barsWrapAtTheStyleLengthAndRestartFromStepZero() {
        BeatSequencer sequencer;
        withStyle(sequencer, everyStepStyle(12, 3)).setBpm(120.0f);
        sequencer.setSwing(0.0f);
        sequencer.setPlaying(true);
        // Starting sounds step 0 at once; the kick marks each bar start.
        QCOMPARE(stepFrames(play(sequencer, 6000 * 25), 36), (std::vector<std::uint64_t>{0, 72000, 144000}));
        sequencer.setPlaying(false);
        QCOMPARE(sequencer.currentStep(), 0);
        QVERIFY(play(sequencer, 20000).hits.empty()); // stopped: nothing, not even a click
        sequencer.setPlaying(true);
        QCOMPARE(sequencer.currentStep(), -1);
        QCOMPARE(stepFrames(play(sequencer, 100), 36), std::vector<std::uint64_t>{0});
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
        StylePattern silent = everyStepStyle(stepsPerBar, beatsPerBar);
        withStyle(sequencer, silent).setBpm(84.0f);
        sequencer.setSwing(0.0f);
        sequencer.setMetronomeEnabled(true);
        sequencer.setPlaying(true);
        const Run run = play(sequencer, static_cast<std::uint64_t>(rate * 3), 256, true);
        const std::vector<std::uint64_t> steps = stepFrames(run);
        for (int step = 0; step < stepsPerBar; ++step) {
            // The hit names its block; the click starts on the step's own frame in it.
            const auto block = static_cast<std::size_t>(steps[static_cast<std::size_t>(step)]);
            std::size_t onset = block;
            while (onset < block + 256 && run.left[onset] == 0.0f)
                ++onset;
            const bool clicks = onset < block + 256;
            QVERIFY2(clicks == clickSteps.contains(step), qPrintable(QStringLiteral("step %1").arg(step)));
            if (!clicks) continue;
            QVERIFY(*std::max_element(run.left.cbegin() + onset, run.left.cbegin() + onset + 100) > 0.2f);
            QCOMPARE(run.left[onset + 20], run.right[onset + 20]);
            const double expected = step == 0 ? 1480.0 : 980.0;
            const double measured = clickFrequency(run.left, onset - 1, rate);
            QVERIFY2(std::fabs(measured - expected) < expected * 0.05, qPrintable(QString::number(measured)));
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
            StylePattern extremes = everyStepStyle(16, 4); // velocities 1 and 127 must stay in range
            extremes.velocityGrid[1][3][1] = 1;
            extremes.velocityGrid[1][3][2] = 127;
            withStyle(sequencer, extremes).setHumanize(amount);
            sequencer.setPlaying(true);
            std::vector<int> velocities;
            QSet<int> offsets;
            for (int block = 0; block < 48000 * 16 / 64; ++block) {
                sequencer.processBlock(64, nullptr, nullptr, [&](int note, int velocity, bool) {
                    const int step = sequencer.currentStep();
                    const int grid = note == 36 ? 100 : step == 1 ? 1 : step == 2 ? 127 : 80;
                    QVERIFY(velocity >= 1 && velocity <= 127);
                    if (grid != 1 && grid != 127) offsets.insert(velocity - grid);
                    velocities.push_back(velocity);
                });
            }
            QCOMPARE(*std::min_element(offsets.cbegin(), offsets.cend()), low);
            QCOMPARE(*std::max_element(offsets.cbegin(), offsets.cend()), high);
            if (run == 0)
                first = velocities;
            else
                QCOMPARE(velocities, first);
        }
    }

    void introPlaysOneBarWithItsCrashThenVerseA() {
        BeatSequencer sequencer;
        sequencer.initBuiltinStyles();
        sequencer.selectStyle(0); // 16 steps, 118 BPM
        sequencer.setHumanize(0.0f);
        sequencer.setSwing(0.0f);
        sequencer.setSection(static_cast<int>(SongSection::Intro));
        sequencer.setPlaying(true);
        const double stepLength = 60.0 / 118.0 / 4.0 * 48000.0;
        const Run run = play(sequencer, static_cast<std::uint64_t>(stepLength * 17) + 1);
        QCOMPARE(hitsAt(run, 0), QStringLiteral("36:114 42:82 49:88 69:62"));
        // The Intro's roll on steps 14 and 15.
        QVERIFY(hitsAt(run, static_cast<std::uint64_t>(std::ceil(stepLength * 15)))
                    .contains(QStringLiteral("38:110")));
        QCOMPARE(sequencer.section(), static_cast<int>(SongSection::VerseA));
        QCOMPARE(hitsAt(run, static_cast<std::uint64_t>(std::ceil(stepLength * 16))),
                 QStringLiteral("36:114 42:82 69:62"));
    }

    void fillReturnsToTheSectionItInterrupted() {
        BeatSequencer sequencer;
        sequencer.initBuiltinStyles();
        sequencer.selectStyle(10); // the 12-step 6/8 style
        sequencer.setHumanize(0.0f);
        sequencer.setSection(static_cast<int>(SongSection::VerseB));
        sequencer.setPlaying(true);
        std::vector<Hit> hits;
        for (int block = 0; block < 48000 * 4; ++block) {
            sequencer.processBlock(1, nullptr, nullptr, [&](int note, int velocity, bool) {
                hits.push_back({static_cast<std::uint64_t>(sequencer.currentStep()), note, velocity});
            });
            if (block == 30000) { // inside step 3 of the first bar; twice still returns to VerseB
                sequencer.triggerFill();
                sequencer.triggerFill();
            }
        }
        QCOMPARE(sequencer.section(), static_cast<int>(SongSection::VerseB));
        // The 6/8 roll: snare 92, 108, 114 on steps 6, 10, 11 of the fill bar only.
        QStringList snares;
        for (const Hit& hit : hits)
            if (hit.note == 38) snares << QStringLiteral("%1:%2").arg(hit.frame).arg(hit.velocity);
        QCOMPARE(snares.mid(0, 7).join(QLatin1Char(' ')),
                 QStringLiteral("2:88 5:106 6:92 8:88 10:108 11:114 2:88"));
    }

    void endingChosenDuringPlaybackIsHeardBeforeItStops_data() {
        QTest::addColumn<int>("chooseAtFrame"); // -1: chosen while stopped
        QTest::newRow("mid-bar") << 30000;
        QTest::newRow("while stopped") << -1;
    }
    void endingChosenDuringPlaybackIsHeardBeforeItStops() {
        QFETCH(int, chooseAtFrame);
        BeatSequencer sequencer;
        sequencer.initBuiltinStyles();
        sequencer.selectStyle(0);
        sequencer.setBpm(120.0f);
        sequencer.setSwing(0.0f);
        sequencer.setHumanize(0.0f);
        if (chooseAtFrame < 0) sequencer.setSection(static_cast<int>(SongSection::Ending));
        sequencer.setPlaying(true);
        Run run;
        for (std::uint64_t frame = 0; frame < 48000 * 6; ++frame) {
            if (static_cast<int>(frame) == chooseAtFrame)
                sequencer.setSection(static_cast<int>(SongSection::Ending));
            sequencer.processBlock(1, nullptr, nullptr, [&](int note, int velocity, bool) {
                run.hits.push_back({frame, note, velocity});
            });
        }
        const std::uint64_t endingBar = chooseAtFrame < 0 ? 0 : 96000;
        if (chooseAtFrame >= 0) { // the bar under way finishes in Verse A
            QCOMPARE(hitsAt(run, 36000), QStringLiteral("37:82 42:92 54:78 69:74"));
        }
        QCOMPARE(hitsAt(run, endingBar), QStringLiteral("36:114 38:96 49:104 51:104"));
        QCOMPARE(run.hits.back().frame, endingBar);
        QVERIFY(!sequencer.isPlaying());
        QCOMPARE(sequencer.currentStep(), 0);
    }

    void tapTempoAveragesTheLastTaps_data() {
        QTest::addColumn<QList<qint64>>("taps");
        QTest::addColumn<float>("bpm");
        QTest::newRow("even 500 ms") << QList<qint64>{1000, 1500, 2000, 2500} << 120.0f;
        QTest::newRow("a 3 s gap ignored") << QList<qint64>{1000, 4000, 4600, 5200} << 100.0f;
        QTest::newRow("one tap changes nothing") << QList<qint64>{5000} << 112.0f;
        QTest::newRow("fast taps clamp") << QList<qint64>{1000, 1230, 1460, 1690} << 240.0f;
        QTest::newRow("slow taps") << QList<qint64>{1000, 3000, 5000} << 40.0f;
        QTest::newRow("mixed spacing") << QList<qint64>{1000, 1400, 2000, 2500} << 120.0f;
    }
    void tapTempoAveragesTheLastTaps() {
        QFETCH(QList<qint64>, taps);
        QFETCH(float, bpm);
        BeatSequencer sequencer;
        for (qint64 t : taps)
            sequencer.tapTempo(t);
        QCOMPARE(std::round(sequencer.bpm() * 100.0f) / 100.0f, bpm);
    }

    void builtinCatalogueKeepsItsShapes() {
        BeatSequencer sequencer;
        sequencer.initBuiltinStyles();
        const std::vector<StylePattern>& styles = sequencer.styles();
        QCOMPARE(styles.size(), std::size_t{35});
        QCOMPARE(styles[10].id, QStringLiteral("lingala_mutuashi"));
        QCOMPARE(styles[34].id, QStringLiteral("neosoul_lofi"));
        QSet<QString> ids;
        for (const StylePattern& style : styles) {
            ids.insert(style.id);
            const bool twelve = style.stepsPerBar == 12;
            QVERIFY2(style.velocity(SongSection::VerseA, 0, 0) > 0, qPrintable(style.id));
            for (int section = 0; section < songSectionCount; ++section)
                for (int lane = 0; lane < drumLaneCount; ++lane)
                    for (int step = style.stepsPerBar; step < maxStepsPerBar; ++step)
                        QVERIFY2(style.velocityGrid[section][lane][step] == 0, qPrintable(style.id));
            // Derived sections: the Bridge keeps kick, rim, hats and toms only; the
            // Ending is step 0 alone; the Chorus rides on every even step.
            const auto& bridge = style.velocityGrid[static_cast<int>(SongSection::Bridge)];
            for (int lane : {1, 4, 6, 7})
                QCOMPARE(bridge[lane], DrumLaneRow{});
            QCOMPARE(bridge[3], style.velocityGrid[1][3]);
            const auto& ending = style.velocityGrid[static_cast<int>(SongSection::Ending)];
            QCOMPARE(ending[0][0] + ending[1][0] + ending[6][0], 114 + 96 + 104);
            int endingTotal = 0;
            for (const auto& row : ending)
                for (int v : row)
                    endingTotal += v;
            QCOMPARE(endingTotal, 114 + 96 + 104);
            for (int step = 0; step < style.stepsPerBar; step += 2)
                QVERIFY(style.velocity(SongSection::Chorus, 6, step) >= 84);
            QCOMPARE(style.velocity(SongSection::VerseB, 6, twelve ? 9 : 12) >= 80, true);
            QCOMPARE(style.velocity(SongSection::Fill, 1, twelve ? 11 : 15), twelve ? 114 : 116);
            QCOMPARE(style.velocity(SongSection::Intro, 5, twelve ? 9 : 13), twelve ? 92 : 96);
        }
        QCOMPARE(ids.size(), 35);
    }

    void removingAnImportedStyleKeepsTheSelection_data() {
        QTest::addColumn<int>("selected");
        QTest::addColumn<int>("removed");
        QTest::addColumn<bool>("removes");
        QTest::addColumn<QString>("selectedAfter");
        // The catalogue: 35 built-in styles, then imports u0, u1, u2 (indices 35-37).
        QTest::newRow("before the selection") << 37 << 35 << true << QStringLiteral("u2");
        QTest::newRow("the selection itself") << 36 << 36 << true << QStringLiteral("u2");
        QTest::newRow("the last, selected") << 37 << 37 << true << QStringLiteral("u1");
        QTest::newRow("after the selection") << 35 << 37 << true << QStringLiteral("u0");
        QTest::newRow("built-in refused") << 36 << 4 << false << QStringLiteral("u1");
        QTest::newRow("out of range") << 36 << 38 << false << QStringLiteral("u1");
    }
    void removingAnImportedStyleKeepsTheSelection() {
        QFETCH(int, selected);
        QFETCH(int, removed);
        QFETCH(bool, removes);
        QFETCH(QString, selectedAfter);
        BeatSequencer sequencer;
        sequencer.initBuiltinStyles();
        for (int i = 0; i < 3; ++i) {
            StylePattern imported = everyStepStyle(16, 4);
            imported.id = QStringLiteral("u%1").arg(i);
            imported.bpm = 100.0f + static_cast<float>(i);
            sequencer.appendStyle(imported);
        }
        sequencer.selectStyle(selected);
        sequencer.setBpm(133.0f);
        sequencer.toggleStep(7, 5); // an edit of the selected style's grid
        QCOMPARE(sequencer.removeCustomStyle(removed), removes);
        QCOMPARE(sequencer.customStyleCount(), removes ? 2 : 3);
        const int index = sequencer.selectedStyleIndex();
        QCOMPARE(sequencer.styles()[static_cast<std::size_t>(index)].id, selectedAfter);
        QCOMPARE(sequencer.currentStyle().id, selectedAfter);
        // Its grid edit survives unless its own style went; the tempo stays.
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
        QCOMPARE(sequencer.stepVelocity(6, 2), 100);
        sequencer.setStepVelocity(0, 15, 300);
        QCOMPARE(sequencer.stepVelocity(0, 15), 127);
        sequencer.setStepVelocity(8, 0, 50); // no such lane
        QCOMPARE(sequencer.stepVelocity(8, 0), 0);
        QCOMPARE(sequencer.stepVelocity(0, 16), 0);
        sequencer.setSection(static_cast<int>(SongSection::VerseA));
        QCOMPARE(sequencer.stepVelocity(6, 2), 0); // the Chorus edit stayed there

        const QVariantList grid = sequencer.currentGridAsVariantList();
        QCOMPARE(grid.size(), 8);
        const QVariantMap tambourine = grid[5].toMap();
        QCOMPARE(tambourine[QStringLiteral("name")].toString(), QStringLiteral("Tambourine (54)"));
        QCOMPARE(tambourine[QStringLiteral("steps")].toList()[2].toInt(), 76);
        const QVariantMap first = sequencer.stylesAsVariantList().constFirst().toMap();
        QCOMPARE(first.size(), 15);
        QCOMPARE(first[QStringLiteral("bpm")].toFloat(), 118.0f);
        QCOMPARE(BeatSequencer::midiDrumNoteName(52, 6), QStringLiteral("Ride (51)"));
        QCOMPARE(BeatSequencer::laneName(9), QStringLiteral("Drum"));
    }
};

QTEST_GUILESS_MAIN(BeatSequencerTest)
#include "tst_beat_sequencer.moc"
