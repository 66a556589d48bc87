// The backing band step by step: progressions, fills, templates, imported parts, levels, the timer.

#include "rhythm/Arranger.h"
#include "rhythm/BeatSequencer.h"

#include <QTest>

#include <vector>

using namespace tmb;
using namespace Qt::StringLiterals;

namespace {

struct Band {
    Band() {
        sequencer.initBuiltinStyles();
        sequencer.prepare(48000.0f);
        sequencer.selectStyle(0);
        arranger.state().progressionIndex = 0;
    }
    // "on 4:36@114" and "off 4:36", in the order sent.
    QStringList take() {
        QStringList out;
        for (const MidiEvent& e : events)
            out << (e.status == MidiEvent::NoteOn ? u"on %1:%2@%3"_s.arg(e.channel).arg(e.data1).arg(e.data2)
                                                  : u"off %1:%2"_s.arg(e.channel).arg(e.data1));
        events.clear();
        return out;
    }
    QStringList noteOns() { return take().filter(u"on "_s); }
    QString step(int s) {
        arranger.advanceStep(s, sequencer);
        return noteOns().join(u' ');
    }
    // Note-ons minus note-offs per channel and pitch, over everything sent so far.
    int hanging() const {
        std::array<int, 16 * 128> balance{};
        for (const MidiEvent& e : log)
            balance[static_cast<std::size_t>(e.channel * 128 + e.data1)] +=
                e.status == MidiEvent::NoteOn ? 1 : -1;
        return static_cast<int>(std::count_if(balance.begin(), balance.end(), [](int b) { return b != 0; }));
    }

    std::vector<MidiEvent> events;
    std::vector<MidiEvent> log;
    BeatSequencer sequencer;
    Arranger arranger{[this](const MidiEvent& e) {
        events.push_back(e);
        log.push_back(e);
    }};
};

StylePattern importedStyle(int archetype) {
    StylePattern style;
    style.isCustomSty = true;
    style.hasStyleParts = true;
    style.arrangerArchetype = archetype;
    return style;
}

} // namespace

class ArrangerTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The degree of each bar's first step, and the sections the sequencer was
    // asked for, over five bars.
    void progressionLoopsChooseDegreesAndFills_data() {
        QTest::addColumn<int>("loop");
        QTest::addColumn<bool>("autoFill");
        QTest::addColumn<QString>("degrees");
        QTest::addColumn<QString>("sections");
        QTest::addColumn<bool>("ending"); // an Ending asked for before the first bar
        QTest::newRow("1-4-1-5 with fill") << 1 << true << u"1 4 1 5 1"_s << u"1 1 1 5 5"_s << false;
        QTest::newRow("1-4-1-5 without fill") << 1 << false << u"1 4 1 5 1"_s << u"1 1 1 1 1"_s << false;
        QTest::newRow("6-4-5-6") << 4 << true << u"6 4 5 6 6"_s << u"1 1 1 5 5"_s << false;
        QTest::newRow("manual keeps the player's degree")
            << 0 << true << u"3 3 3 3 3"_s << u"1 1 1 1 1"_s << false;
        QTest::newRow("no fill in place of an Ending")
            << 2 << true << u"1 4 5 4 1"_s << u"6 6 6 6 6"_s << true;
    }
    void progressionLoopsChooseDegreesAndFills() {
        QFETCH(int, loop);
        QFETCH(bool, autoFill);
        QFETCH(QString, degrees);
        QFETCH(QString, sections);
        QFETCH(bool, ending);
        Band band;
        band.arranger.setDegree(3);
        band.arranger.state().progressionIndex = loop;
        band.arranger.state().arrangerAutoFill = autoFill;
        if (ending) band.sequencer.setSection(static_cast<int>(SongSection::Ending));
        QStringList seenDegrees, seenSections;
        for (int bar = 0; bar < 5; ++bar) {
            for (int s = 0; s < 16; ++s) {
                band.arranger.advanceStep(s, band.sequencer);
                if (s == 0) seenDegrees << QString::number(band.arranger.state().chordDegree);
            }
            seenSections << QString::number(band.sequencer.section());
        }
        QCOMPARE(seenDegrees.join(u' '), degrees);
        QCOMPARE(seenSections.join(u' '), sections);
        QCOMPARE(band.arranger.state().progressionBar, loop == 0 ? 0 : 1);
    }

    // Note-ons of single positions of the two reference templates (row 0 of their
    // tables in manual mode, row 1 on the loop's first bar).
    void templatesPlayTheirTables_data() {
        QTest::addColumn<int>("style");
        QTest::addColumn<int>("degree");
        QTest::addColumn<int>("loop");
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("notes");
        // Template 0, degree I: b 36, c 60.
        QTest::newRow("0 I p0") << 0 << 1 << 0 << 0 << u"on 4:36@114 on 3:48@92 on 3:60@92 on 5:60@104"_s;
        QTest::newRow("0 I p1 rest") << 0 << 1 << 0 << 1 << QString();
        QTest::newRow("0 I p2")
            << 0 << 1 << 0 << 2
            << u"on 3:60@98 on 3:64@98 on 3:67@98 on 6:64@84 on 6:67@84 on 6:72@84 on 5:62@104"_s;
        QTest::newRow("0 I p3") << 0 << 1 << 0 << 3 << u"on 4:43@96 on 3:64@82 on 3:67@82 on 5:64@92"_s;
        QTest::newRow("0 I p4 octave pair") << 0 << 1 << 0 << 4 << u"on 4:48@106 on 5:67@104 on 5:79@104"_s;
        QTest::newRow("0 I p6")
            << 0 << 1 << 0 << 6
            << u"on 4:43@100 on 3:60@98 on 3:64@98 on 3:67@98 on 6:60@80 on 6:64@80 on 6:69@80 "
               u"on 5:69@104"_s;
        QTest::newRow("0 I p11") << 0 << 1 << 0 << 11 << u"on 4:40@98 on 3:64@82 on 3:67@82 on 5:72@92"_s;
        QTest::newRow("0 I p12") << 0 << 1 << 0 << 12 << u"on 4:43@108 on 5:69@104 on 5:81@104"_s;
        QTest::newRow("0 I p13") << 0 << 1 << 0 << 13 << u"on 5:67@92"_s;
        // Degree vi: b 45, c 69, minor third, sixth and table intervals.
        QTest::newRow("0 vi p3") << 0 << 6 << 0 << 3 << u"on 4:52@96 on 3:72@82 on 3:76@82 on 5:72@92"_s;
        QTest::newRow("0 vi p6")
            << 0 << 6 << 0 << 6
            << u"on 4:52@100 on 3:69@98 on 3:72@98 on 3:76@98 on 6:69@80 on 6:72@80 on 6:77@80 "
               u"on 5:77@104"_s;
        QTest::newRow("0 vi p14")
            << 0 << 6 << 0 << 14
            << u"on 4:48@102 on 3:69@98 on 3:72@98 on 3:76@98 on 6:69@80 on 6:72@80 on 6:77@80 "
               u"on 5:72@104"_s;
        // Loop 1 (1 4 1 5): the first bar reads row 1, its degree I.
        QTest::newRow("0 loop row 1 p3")
            << 0 << 1 << 1 << 3 << u"on 4:43@96 on 3:64@82 on 3:67@82 on 5:72@92"_s;
        // Template 24: the lead's low octave stops at 52.
        QTest::newRow("24 I p0")
            << 24 << 1 << 0 << 0
            << u"on 4:36@110 on 3:60@88 on 3:62@88 on 3:64@88 on 3:67@88 on 6:55@84 on 6:60@84 "
               u"on 6:64@84 on 6:67@84 on 6:72@84 on 5:52@100 on 5:60@100 on 5:67@100 "
               u"on 5:76@100"_s;
        QTest::newRow("24 vi p0")
            << 24 << 6 << 0 << 0
            << u"on 4:45@110 on 3:69@88 on 3:71@88 on 3:72@88 on 3:76@88 on 6:64@84 on 6:69@84 "
               u"on 6:72@84 on 6:76@84 on 6:81@84 on 5:57@100 on 5:69@100 on 5:76@100 "
               u"on 5:84@100"_s;
        QTest::newRow("24 I p1 rest") << 24 << 1 << 0 << 1 << QString();
        QTest::newRow("24 I p3") << 24 << 1 << 0 << 3 << u"on 3:60@78 on 3:62@78 on 3:64@78 on 3:67@78"_s;
        QTest::newRow("24 I p4") << 24 << 1 << 0 << 4 << u"on 5:74@92 on 5:67@92"_s;
        QTest::newRow("24 vi p6")
            << 24 << 6 << 0 << 6
            << u"on 4:52@96 on 3:69@78 on 3:71@78 on 3:72@78 on 3:76@78 on 5:81@92 on 5:76@92"_s;
        QTest::newRow("24 I p8")
            << 24 << 1 << 0 << 8
            << u"on 4:36@106 on 3:60@88 on 3:62@88 on 3:64@88 on 3:67@88 on 5:67@92 on 5:67@92"_s;
        QTest::newRow("24 vi p10") << 24 << 6 << 0 << 10
                                   << u"on 3:69@78 on 3:71@78 on 3:72@78 on 3:76@78 on 5:72@92 on 5:76@92"_s;
        QTest::newRow("24 I p14")
            << 24 << 1 << 0 << 14
            << u"on 4:48@98 on 3:60@78 on 3:62@78 on 3:64@78 on 3:67@78 on 5:67@92 on 5:67@92"_s;
        QTest::newRow("24 loop row 1 p4") << 24 << 1 << 1 << 4 << u"on 5:72@92 on 5:67@92"_s;
        // Styles without a script: the fallback band.
        QTest::newRow("29 fallback p0")
            << 29 << 1 << 0 << 0
            << u"on 4:36@114 on 3:60@90 on 3:64@90 on 3:67@90 on 3:71@90 on 6:55@82 "
               u"on 6:60@82 on 6:64@82 on 6:67@82"_s;
        QTest::newRow("33 fallback p6") << 33 << 6 << 0 << 6 << u"on 4:52@106"_s;
    }
    void templatesPlayTheirTables() {
        QFETCH(int, style);
        QFETCH(int, degree);
        QFETCH(int, loop);
        QFETCH(int, position);
        QFETCH(QString, notes);
        Band band;
        band.sequencer.selectStyle(style);
        band.arranger.state().progressionIndex = loop;
        band.arranger.setDegree(degree);
        if (loop > 0) band.arranger.advanceStep(0, band.sequencer); // the bar starts
        band.noteOns();
        if (loop > 0) band.arranger.setDegree(degree);
        QCOMPARE(band.step(position), notes);
    }

    // Velocities scale with the band and part levels (the defaults leave them as
    // written); silenced parts play nothing. Notes stay inside the part's range.
    void levelsScaleVelocities_data() {
        QTest::addColumn<float>("style");
        QTest::addColumn<float>("bass");
        QTest::addColumn<bool>("muted");
        QTest::addColumn<QString>("notes");
        QTest::newRow("defaults") << 0.85f << 0.90f << false << u"on 4:36@114"_s;
        QTest::newRow("bass at half") << 0.85f << 0.45f << false << u"on 4:36@57"_s;
        QTest::newRow("band at half") << 0.425f << 0.90f << false << u"on 4:36@57"_s;
        QTest::newRow("both full") << 1.0f << 1.0f << false << u"on 4:36@127"_s;
        QTest::newRow("band nearly silent") << 0.011f << 0.90f << false << u"on 4:36@1"_s;
        QTest::newRow("band silent") << 0.01f << 0.90f << false << QString();
        QTest::newRow("bass silent") << 0.85f << 0.01f << false << QString();
        QTest::newRow("muted") << 0.85f << 0.90f << true << QString();
    }
    void levelsScaleVelocities() {
        QFETCH(float, style);
        QFETCH(float, bass);
        QFETCH(bool, muted);
        QFETCH(QString, notes);
        Band band;
        BandLevels levels;
        levels.style = style;
        levels.bass = bass;
        levels.muted = muted;
        band.arranger.setLevels(levels);
        band.arranger.playPart(ArrangerState::Bass, {36}, 114, 3);
        QCOMPARE(band.noteOns().join(u' '), notes);
        QCOMPARE(band.arranger.state().parts[ArrangerState::Bass].remainingSteps, notes.isEmpty() ? 0 : 3);
    }

    void partsStayInTheirRanges() {
        Band band;
        band.arranger.playPart(ArrangerState::Bass, {20, 61}, 100, 1);
        band.arranger.playPart(ArrangerState::Rhythm, {45, 87}, 100, 1);
        band.arranger.playPart(ArrangerState::Harmony, {47, 89}, 100, 1);
        band.arranger.playPart(ArrangerState::Lead, {51, 97}, 100, 1);
        QCOMPARE(band.noteOns().join(u' '), u"on 4:26@100 on 4:60@100 on 3:46@100 on 3:86@100 on 6:48@100 "
                                            u"on 6:88@100 on 5:52@100 on 5:96@100"_s);
        // Seven semitones up at vi the bases reach their tops: bass 52, chords 74, lead
        // 86; in template 25 c+14 stops at 86. An imported pad note sits on the lead base.
        StylePattern soul = importedStyle(25);
        soul.stepsPerBar = 12;
        soul.beatsPerBar = 6;
        StyleArrangerStep& pad = soul.arrangerSteps[static_cast<int>(SongSection::VerseA)][0];
        pad.padNotes[0] = 0;
        pad.padCount = 1;
        pad.padVelocity = 77;
        band.sequencer.appendStyle(soul);
        band.sequencer.selectStyle(35);
        band.arranger.setTranspose(7);
        band.arranger.setDegree(6);
        QCOMPARE(band.step(0), u"on 5:86@77"_s);
        QCOMPARE(band.step(6),
                 u"on 4:59@110 on 3:74@90 on 3:77@90 on 3:81@90 on 3:84@90 on 3:86@90 on 6:74@84 "
                 u"on 6:77@84 on 6:81@84 on 6:86@84 on 5:77@100 on 5:81@100 on 5:84@100 on 5:88@100"_s);
        band.sequencer.selectStyle(0);
        QCOMPARE(band.step(0), u"on 4:52@114 on 3:62@92 on 3:74@92 on 5:74@104"_s);
    }

    // A part's notes last their length in steps, unless the part plays again.
    void notesEndAfterTheirLength() {
        Band band;
        band.sequencer.selectStyle(0);
        band.arranger.advanceStep(0, band.sequencer); // bass 36 for 3 steps, rhythm for 2
        band.take();
        band.arranger.advanceStep(1, band.sequencer);
        QCOMPARE(band.take().filter(u"off 3:"_s), QStringList());
        band.arranger.advanceStep(2, band.sequencer); // the rhythm ends, then plays again
        QCOMPARE(band.take().mid(0, 2), QStringList({u"off 3:48"_s, u"off 3:60"_s}));
        band.arranger.advanceStep(3, band.sequencer); // the bass's three steps are over
        QCOMPARE(band.take().filter(u" 4:"_s), QStringList({u"off 4:36"_s, u"on 4:43@96"_s}));
        band.arranger.releaseAll();
        QCOMPARE(band.hanging(), 0);
    }

    // Playing with the keyboard the lead stays silent and untouched; switching
    // modes ends what it holds.
    void keyboardModeSilencesTheLead() {
        Band band;
        band.arranger.advanceStep(0, band.sequencer);
        QVERIFY(band.take().contains(u"on 5:60@104"_s));
        QVERIFY(!band.arranger.setPlayMode(0));
        QVERIFY(band.arranger.setPlayMode(7));
        QCOMPARE(band.arranger.state().arrangerPlayMode, 1);
        QCOMPARE(band.take(), QStringList({u"off 5:60"_s}));
        for (int s = 1; s < 16; ++s)
            band.arranger.advanceStep(s, band.sequencer);
        QCOMPARE(band.take().filter(u" 5:"_s), QStringList());
        band.arranger.playPart(ArrangerState::Lead, {70}, 100, 1);
        QVERIFY(band.take().isEmpty());
        QVERIFY(band.arranger.setPlayMode(0));
        band.arranger.advanceStep(0, band.sequencer);
        QVERIFY(band.take().contains(u"on 5:60@104"_s));
    }

    // Imported notes play on the section's record, minor where the degree is;
    // a record with nothing falls through to the template of the archetype.
    void importedStepsPlayBeforeTheTemplate() {
        StylePattern style = importedStyle(24);
        StyleArrangerStep& bassOnly = style.arrangerSteps[static_cast<int>(SongSection::VerseA)][0];
        bassOnly.bassPitchClass = 4;
        bassOnly.bassVelocity = 100;
        StyleArrangerStep& full = style.arrangerSteps[static_cast<int>(SongSection::VerseB)][0];
        full.chord1Notes = {0, 4, StyleArrangerStep::noNote, 7};
        full.chord1Count = 4;
        full.chord1Velocity = 90;
        full.chord2Notes = {-12, 9, 0, 0};
        full.chord2Count = 2;
        full.chord2Velocity = 70;
        full.padNotes = {16, 2, 5};
        full.padCount = 1;
        full.padVelocity = 80;
        full.bassPitchClass = 4;
        full.bassVelocity = 0; // no velocity: no bass
        Band band;
        band.sequencer.appendStyle(style);
        band.sequencer.selectStyle(35);
        QCOMPARE(band.step(0), u"on 4:40@100"_s); // nothing else at all
        band.arranger.setDegree(6);
        band.arranger.releaseAll();
        band.take();
        band.sequencer.setSection(static_cast<int>(SongSection::VerseB));
        QCOMPARE(band.step(0), u"on 3:69@90 on 3:72@90 on 3:76@90 on 6:57@70 on 6:77@70 on 5:96@80"_s);
        band.sequencer.setSection(static_cast<int>(SongSection::Chorus)); // an empty record
        QCOMPARE(band.step(6),
                 u"on 4:52@96 on 3:69@78 on 3:71@78 on 3:72@78 on 3:76@78 on 5:81@92 on 5:76@92"_s);
        style.hasStyleParts = false; // without parts the archetype plays even a full record
        band.sequencer.appendStyle(style);
        band.sequencer.selectStyle(36);
        band.sequencer.setSection(static_cast<int>(SongSection::VerseA));
        QVERIFY(band.step(0).startsWith(u"on 4:45@110"_s));
    }

    // The step timer: band notes follow each new step of a running sequencer, and
    // an Ending that stops it leaves nothing sounding, whatever length was left.
    void stepTimerReleasesTheBandWhenTheSequencerStops_data() {
        QTest::addColumn<int>("style");
        QTest::addColumn<int>("block");
        QTest::addColumn<bool>("pro");
        QTest::newRow("anthem, 256 frames") << 24 << 256 << false;
        QTest::newRow("6/8 soul, 1024 frames") << 25 << 1024 << false;
        QTest::newRow("drum style, pro arranger, 64 frames") << 30 << 64 << true;
    }
    void stepTimerReleasesTheBandWhenTheSequencerStops() {
        QFETCH(int, style);
        QFETCH(int, block);
        QFETCH(bool, pro);
        Band band;
        band.sequencer.selectStyle(style);
        (pro ? band.arranger.state().proArrangerEnabled : band.arranger.state().bandActive) = true;
        band.sequencer.setSection(static_cast<int>(SongSection::Ending));
        band.sequencer.setPlaying(true);
        int steps = 0;
        std::vector<float> out(static_cast<std::size_t>(block));
        for (int i = 0; i < 48000 * 4 / block; ++i) {
            band.sequencer.processBlock(static_cast<std::uint32_t>(block), out.data(), out.data(),
                                        [](int, int, bool) {});
            const int before = band.arranger.state().lastStep;
            band.arranger.followSequencer(band.sequencer);
            steps += band.arranger.state().lastStep != before && band.arranger.state().lastStep >= 0;
        }
        QVERIFY(!band.sequencer.isPlaying());
        QCOMPARE(steps, band.sequencer.currentStyle().stepsPerBar); // one bar, every step once
        QVERIFY(!band.log.empty());
        QCOMPARE(band.hanging(), 0);
        QCOMPARE(band.arranger.state().lastStep, -1);
        for (const StyleBandPart& part : band.arranger.state().parts)
            QVERIFY(part.soundingNotes.isEmpty() && part.remainingSteps == 0);
    }

    void stepTimerWaitsForTheBand() {
        Band band;
        band.sequencer.setPlaying(true);
        band.sequencer.processBlock(64, nullptr, nullptr, [](int, int, bool) {});
        band.arranger.followSequencer(band.sequencer);
        QVERIFY(band.log.empty());
        band.arranger.state().bandActive = true;
        band.arranger.followSequencer(band.sequencer);
        band.arranger.followSequencer(band.sequencer); // the same step plays once
        QCOMPARE(band.take().filter(u"on 4:"_s), QStringList({u"on 4:36@114"_s}));
    }
};

QTEST_GUILESS_MAIN(ArrangerTest)
#include "tst_arranger.moc"
