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
    // The note-ons of step `s`: "4:36@114 3:48@92".
    QString step(int s) {
        arranger.advanceStep(s, sequencer);
        return noteOns().join(u' ').remove(u"on "_s);
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
    // Over five bars: the degree of each bar's first step and the section asked for after it.
    void progressionLoopsChooseDegreesAndFills() {
        // Loop, auto-fill, degrees, sections, an Ending first; the manual loop keeps the player's
        // degree, and no fill takes an Ending's place.
        // clang-format off
        const std::tuple<int, bool, QString, QString, bool> rows[] = {
            {1, true, u"1 4 1 5 1"_s, u"1 1 1 5 5"_s, false}, {1, false, u"1 4 1 5 1"_s, u"1 1 1 1 1"_s, false},
            {4, true, u"6 4 5 6 6"_s, u"1 1 1 5 5"_s, false}, {0, true, u"3 3 3 3 3"_s, u"1 1 1 1 1"_s, false},
            {2, true, u"1 4 5 4 1"_s, u"6 6 6 6 6"_s, true}};
        // clang-format on
        for (const auto& [loop, autoFill, degrees, sections, ending] : rows) {
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
    }

    // Note-ons "channel:note@velocity" at one position (style degree loop position=notes) of the
    // reference templates 0 and 24 (row 0 of their tables in manual mode, row 1 on the loop's
    // first bar; degree I: bass 36, chords 60; vi: 45, 69, minor third, sixth and table
    // intervals; 24's lead stops at 52), and of the fallback band of styles without a script.
    void templatesPlayTheirTables() {
        for (const char* row :
             {"0 1 0 0=4:36@114 3:48@92 3:60@92 5:60@104",
              "0 1 0 1=",
              "0 1 0 2=3:60@98 3:64@98 3:67@98 6:64@84 6:67@84 6:72@84 5:62@104",
              "0 1 0 3=4:43@96 3:64@82 3:67@82 5:64@92",
              "0 1 0 4=4:48@106 5:67@104 5:79@104",
              "0 1 0 6=4:43@100 3:60@98 3:64@98 3:67@98 6:60@80 6:64@80 6:69@80 5:69@104",
              "0 1 0 11=4:40@98 3:64@82 3:67@82 5:72@92",
              "0 1 0 12=4:43@108 5:69@104 5:81@104",
              "0 1 0 13=5:67@92",
              "0 6 0 3=4:52@96 3:72@82 3:76@82 5:72@92",
              "0 6 0 6=4:52@100 3:69@98 3:72@98 3:76@98 6:69@80 6:72@80 6:77@80 5:77@104",
              "0 6 0 14=4:48@102 3:69@98 3:72@98 3:76@98 6:69@80 6:72@80 6:77@80 5:72@104",
              "0 1 1 3=4:43@96 3:64@82 3:67@82 5:72@92",
              "24 1 0 0=4:36@110 3:60@88 3:62@88 3:64@88 3:67@88 6:55@84 6:60@84 6:64@84 6:67@84 6:72@84 "
              "5:52@100 5:60@100 5:67@100 5:76@100",
              "24 6 0 0=4:45@110 3:69@88 3:71@88 3:72@88 3:76@88 6:64@84 6:69@84 6:72@84 6:76@84 6:81@84 "
              "5:57@100 5:69@100 5:76@100 5:84@100",
              "24 1 0 1=",
              "24 1 0 3=3:60@78 3:62@78 3:64@78 3:67@78",
              "24 1 0 4=5:74@92 5:67@92",
              "24 6 0 6=4:52@96 3:69@78 3:71@78 3:72@78 3:76@78 5:81@92 5:76@92",
              "24 1 0 8=4:36@106 3:60@88 3:62@88 3:64@88 3:67@88 5:67@92 5:67@92",
              "24 6 0 10=3:69@78 3:71@78 3:72@78 3:76@78 5:72@92 5:76@92",
              "24 1 0 14=4:48@98 3:60@78 3:62@78 3:64@78 3:67@78 5:67@92 5:67@92",
              "24 1 1 4=5:72@92 5:67@92",
              "29 1 0 0=4:36@114 3:60@90 3:64@90 3:67@90 3:71@90 6:55@82 6:60@82 6:64@82 6:67@82",
              "33 6 0 6=4:52@106"}) {
            const QStringList cells = QString::fromLatin1(row).section(u'=', 0, 0).split(u' ');
            Band band;
            band.sequencer.selectStyle(cells[0].toInt());
            band.arranger.state().progressionIndex = cells[2].toInt();
            band.arranger.setDegree(cells[1].toInt());
            if (cells[2] != u"0") band.arranger.advanceStep(0, band.sequencer); // the bar starts
            band.noteOns();
            if (cells[2] != u"0") band.arranger.setDegree(cells[1].toInt());
            QCOMPARE(band.step(cells[3].toInt()), QString::fromLatin1(row).section(u'=', 1));
        }
    }

    // Velocities scale with the band and part levels (the defaults leave them as written);
    // silenced parts play nothing.
    void levelsScaleVelocities() {
        const std::tuple<float, float, bool, QString> rows[] = {// band, bass, muted, notes
                                                                {0.85f, 0.90f, false, u"4:36@114"_s},
                                                                {0.85f, 0.45f, false, u"4:36@57"_s},
                                                                {0.425f, 0.90f, false, u"4:36@57"_s},
                                                                {1.0f, 1.0f, false, u"4:36@127"_s},
                                                                {0.011f, 0.90f, false, u"4:36@1"_s},
                                                                {0.01f, 0.90f, false, {}},
                                                                {0.85f, 0.01f, false, {}},
                                                                {0.85f, 0.90f, true, {}}};
        for (const auto& [style, bass, muted, notes] : rows) {
            Band band;
            band.arranger.setLevels(BandLevels{.style = style, .muted = muted, .bass = bass});
            band.arranger.playPart(ArrangerState::Bass, {36}, 114, 3);
            QCOMPARE(band.noteOns().join(u' ').remove(u"on "_s), notes);
            QCOMPARE(band.arranger.state().parts[ArrangerState::Bass].remainingSteps,
                     notes.isEmpty() ? 0 : 3);
        }
    }

    void partsStayInTheirRanges() {
        Band band;
        band.arranger.playPart(ArrangerState::Bass, {20, 61}, 100, 1);
        band.arranger.playPart(ArrangerState::Rhythm, {45, 87}, 100, 1);
        band.arranger.playPart(ArrangerState::Harmony, {47, 89}, 100, 1);
        band.arranger.playPart(ArrangerState::Lead, {51, 97}, 100, 1);
        QCOMPARE(band.noteOns().join(u' ').remove(u"on "_s),
                 u"4:26@100 4:60@100 3:46@100 3:86@100 6:48@100 6:88@100 5:52@100 5:96@100"_s);
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
        QCOMPARE(band.step(0), u"5:86@77"_s);
        QCOMPARE(band.step(6), u"4:59@110 3:74@90 3:77@90 3:81@90 3:84@90 3:86@90 6:74@84 "
                               u"6:77@84 6:81@84 6:86@84 5:77@100 5:81@100 5:84@100 5:88@100"_s);
        band.sequencer.selectStyle(0);
        QCOMPARE(band.step(0), u"4:52@114 3:62@92 3:74@92 5:74@104"_s);
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
        QCOMPARE(band.step(0), u"4:40@100"_s); // nothing else at all
        band.arranger.setDegree(6);
        band.arranger.releaseAll();
        band.take();
        band.sequencer.setSection(static_cast<int>(SongSection::VerseB));
        QCOMPARE(band.step(0), u"3:69@90 3:72@90 3:76@90 6:57@70 6:77@70 5:96@80"_s);
        band.sequencer.setSection(static_cast<int>(SongSection::Chorus)); // an empty record
        QCOMPARE(band.step(6), u"4:52@96 3:69@78 3:71@78 3:72@78 3:76@78 5:81@92 5:76@92"_s);
        style.hasStyleParts = false; // without parts the archetype plays even a full record
        band.sequencer.appendStyle(style);
        band.sequencer.selectStyle(36);
        band.sequencer.setSection(static_cast<int>(SongSection::VerseA));
        QVERIFY(band.step(0).startsWith(u"4:45@110"_s));
    }

    // The step timer: band notes follow each new step of a running sequencer, and
    // an Ending that stops it leaves nothing sounding, whatever length was left.
    void stepTimerReleasesTheBandWhenTheSequencerStops() {
        // The anthem in 256-frame blocks, 6/8 soul in 1024, a drum style with the pro arranger in 64.
        for (const auto& [style, block, pro] :
             {std::tuple{24, 256, false}, {25, 1024, false}, {30, 64, true}}) {
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
