// Style files (the reader, hostile bytes included, and the writer, read by python's mido)
// and the backing band step by step: progressions, fills, templates, parts, levels.

#include "StyBytes.h"
#include "rhythm/Arranger.h"
#include "rhythm/BeatSequencer.h"
#include "rhythm/StyleFileReader.h"
#include "rhythm/StyleFileWriter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <cmath>
#include <vector>

using namespace tmb;
using namespace tmb::test;
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

    std::vector<MidiEvent> events;
    BeatSequencer sequencer;
    Arranger arranger{[this](const MidiEvent& e) {
        events.push_back(e);
    }};
};

StylePattern importedStyle(int archetype) {
    StylePattern style;
    style.isCustomSty = true;
    style.hasStyleParts = true;
    style.arrangerArchetype = archetype;
    return style;
}

constexpr int builtinCount = 35;

struct Importer {
    Importer() { sequencer.initBuiltinStyles(); }
    // Writes `data` as `name` and imports it; the style, or an empty one on failure.
    StylePattern import(const QString& name, const QByteArray& data) {
        const QString path = dir.filePath(name);
        if (!writeBytes(path, data)) qFatal("cannot write a style file");
        index = sequencer.importStyFile(path, &error);
        return index < 0 ? StylePattern{} : sequencer.styles()[static_cast<std::size_t>(index)];
    }
    QTemporaryDir dir;
    BeatSequencer sequencer;
    int index = -1;
    QString error;
};

// Lane `lane` of a grid row as text: "0:114 4:80".
QString row(const StylePattern& style, SongSection section, int lane) {
    QStringList cells;
    for (int step = 0; step < maxStepsPerBar; ++step)
        if (const int v = style.velocity(section, lane, step)) cells << u"%1:%2"_s.arg(step).arg(v);
    return cells.join(u' ');
}

// An accompaniment record as text: "b3@100/2 r[0 12]@90/2 h[]@0/2 l[]@0/2".
QString record(const StyleArrangerStep& s) {
    const auto part = [](const char* name, const auto& offsets, int count, int velocity, int length) {
        QStringList notes;
        for (int i = 0; i < count; ++i)
            notes << QString::number(offsets[static_cast<std::size_t>(i)]);
        return u"%1[%2]@%3/%4"_s.arg(QLatin1String(name), notes.join(u' ')).arg(velocity).arg(length);
    };
    return u"b%1@%2/%3 %4 %5 %6"_s.arg(s.bassPitchClass)
        .arg(s.bassVelocity)
        .arg(s.bassLength)
        .arg(part("r", s.chord1Notes, s.chord1Count, s.chord1Velocity, s.chord1Length),
             part("h", s.chord2Notes, s.chord2Count, s.chord2Velocity, s.chord2Length),
             part("l", s.padNotes, s.padCount, s.padVelocity, s.padLength));
}

StylePattern plain(float bpm, int stepsPerBar, int beatsPerBar) {
    StylePattern style;
    style.id = u"edge_%1_%2_%3"_s.arg(bpm).arg(stepsPerBar).arg(beatsPerBar);
    style.name = u"Edge"_s;
    std::tie(style.bpm, style.stepsPerBar, style.beatsPerBar) = std::tuple(bpm, stepsPerBar, beatsPerBar);
    return style;
}

// A file of `style`, an event a line; each hit on channel 10 ends half a step later.
QStringList expectedEvents(const StylePattern& style) {
    const bool fourFour = style.stepsPerBar > 12;
    const int steps = std::clamp(style.stepsPerBar, 12, 16), bar = fourFour ? 1920 : 1440, step = bar / steps;
    QStringList lines{u"0 tempo %1"_s.arg(std::lround(60e6 / std::clamp(double(style.bpm), 45.0, 220.0))),
                      fourFour                 ? u"0 meter 4 4"_s
                      : style.beatsPerBar == 6 ? u"0 meter 6 8"_s
                                               : u"0 meter 3 4"_s,
                      u"0 marker SFF1"_s, u"0 track_name "_s + style.name};
    const int programs[] = {style.bassGmProg, style.rhythmGmProg, style.harmonyGmProg, style.leadGmProg};
    for (int i = 0; i < 4; ++i)
        lines << u"0 program %1 %2"_s.arg(11 + i).arg(std::clamp(programs[i], 0, 127));
    const char* markers[] = {"Intro A", "Main A", "Main B", "Main C", "Main D", "Fill In AA", "Ending A"};
    for (int s = 0; s < 7; ++s) {
        lines << u"%1 marker %2"_s.arg(s * bar).arg(QLatin1String(markers[s]));
        for (int i = 0; i < steps; ++i) {
            QStringList offs;
            for (int lane = 0; lane < 8; ++lane)
                if (const int v = style.velocity(SongSection(s), lane, i)) {
                    const int at = s * bar + i * step,
                              note = std::clamp(style.laneNotes[size_t(lane)], 24, 96);
                    lines << u"%1 note_on 10 %2 %3"_s.arg(at).arg(note).arg(v);
                    offs << u"%1 note_off 10 %2 0"_s.arg(at + step / 2).arg(note);
                }
            lines << offs;
        }
    }
    return lines;
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

    // Note-ons "channel:note@velocity" at "style degree loop position=": templates 0 and 24 (manual
    // row 0, loop row 1; I: bass 36, chords 60; vi: 45, 69), and the fallback band.
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

    // Velocities scale with the band and part levels (the defaults: as written); silenced parts play nothing.
    void levelsScaleVelocities() {
        // clang-format off
        const std::tuple<float, float, bool, QString> rows[] = { // band, bass, muted, notes
            {0.85f, 0.90f, false, u"4:36@114"_s}, {0.85f, 0.45f, false, u"4:36@57"_s}, {0.425f, 0.90f, false, u"4:36@57"_s},
            {1.0f, 1.0f, false, u"4:36@127"_s}, {0.011f, 0.90f, false, u"4:36@1"_s}, {0.01f, 0.90f, false, {}},
            {0.85f, 0.01f, false, {}}, {0.85f, 0.90f, true, {}}};
        // clang-format on
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
        std::tie(pad.padNotes[0], pad.padCount, pad.padVelocity) = std::tuple(0, 1, 77);
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

    // With the keyboard playing, the lead stays silent; switching modes ends what it holds. A
    // part's notes last their length in steps, unless the part plays again.
    void notesEndAfterTheirLengthOrWhenTheKeyboardLeads() {
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
        band.arranger.advanceStep(0, band.sequencer); // bass 36 for 3 steps, rhythm for 2
        QVERIFY(band.take().contains(u"on 5:60@104"_s));
        band.arranger.advanceStep(1, band.sequencer);
        QCOMPARE(band.take().filter(u"off 3:"_s), QStringList());
        band.arranger.advanceStep(2, band.sequencer); // the rhythm ends, then plays again
        QCOMPARE(band.take().mid(0, 2), QStringList({u"off 3:48"_s, u"off 3:60"_s}));
        band.arranger.advanceStep(3, band.sequencer); // the bass's three steps are over
        QCOMPARE(band.take().filter(u" 4:"_s), QStringList({u"off 4:36"_s, u"on 4:43@96"_s}));
        band.arranger.advanceStep(4, band.sequencer); // the rhythm's one step is over: it rests
        QCOMPARE(band.take().filter(u" 3:"_s), QStringList({u"off 3:64"_s, u"off 3:67"_s}));
        band.arranger.releaseAll(); // whatever still sounds, once
        QCOMPARE(band.take(), QStringList({u"off 4:48"_s, u"off 6:64"_s, u"off 6:67"_s, u"off 6:72"_s,
                                           u"off 5:67"_s, u"off 5:79"_s}));
    }

    // Imported notes play on the section's record (minor where the degree is), else the archetype's.
    void importedStepsPlayBeforeTheTemplate() {
        StylePattern style = importedStyle(24);
        // clang-format off
        auto& records = style.arrangerSteps;
        records[static_cast<int>(SongSection::VerseA)][0] = {.bassPitchClass = 4, .bassVelocity = 100};
        records[static_cast<int>(SongSection::VerseB)][0] = { // no velocity: no bass
            .bassPitchClass = 4, .chord1Notes = {0, 4, StyleArrangerStep::noNote, 7}, .chord1Count = 4,
            .chord1Velocity = 90, .chord2Notes = {-12, 9, 0, 0}, .chord2Count = 2, .chord2Velocity = 70,
            .padNotes = {16, 2, 5}, .padCount = 1, .padVelocity = 80};
        // clang-format on
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

    // The name picks the template (a file without MIDI is it renamed): id|name|archetype|bpm|lead|kit.
    void fileNamesChooseTheTemplate() {
        const std::pair<QString, QString> rows[] = {
            {u"Mugithi_Kikuyu_1Man_PSR.sty"_s,
             u"sty_mugithi_kikuyu_1man_psr|Mugithi Kikuyu 1Man PSR|0|118|25|0"_s},
            {u"slow-ballad 2.sty"_s, u"sty_slow-ballad_2|slow ballad 2|24|74|2|8"_s},
            {u"SOUL.STY"_s, u"sty_soul|SOUL|25|84|16|0"_s},
            {u"My.Band.sty"_s, u"sty_my.band|My.Band|8|124|27|0"_s},
            {u"_-_.sty"_s, u"sty__-_|USB Flash Style|8|124|27|0"_s}};
        for (const auto& [file, expected] : rows) {
            Importer in;
            const StylePattern style = in.import(file, "twenty bytes of text");
            QCOMPARE(in.index, builtinCount);
            QCOMPARE(u"%1|%2|%3|%4|%5|%6"_s.arg(style.id, style.name)
                         .arg(style.arrangerArchetype)
                         .arg(in.sequencer.bpm())
                         .arg(style.leadGmProg)
                         .arg(style.drumKitProgram),
                     expected);
            QCOMPARE(style.subDescription, QString::fromUtf8(classifyStyleFileName(style.name).description));
            QVERIFY(style.isCustomSty && !style.hasStyleParts);
            const StylePattern& templ =
                in.sequencer.styles()[static_cast<std::size_t>(style.arrangerArchetype)];
            QVERIFY(style.velocityGrid == templ.velocityGrid && style.laneNotes == templ.laneNotes);
        }
    }

    void notesLandOnTheirStep() {
        // Division, numerator, denominator power, tick, step, steps a bar; the first non-zero tempo in
        // microseconds a quarter and the tempo it gives, within 45-220 (none: the template's 124).
        // clang-format off
        const int rows[][8] = {{96, 3, 2, 300, 0, 12, 200000, 220}, {96, 3, 2, 287, 11, 12, 2000000, 45},
                               {96, 6, 3, 48, 2, 12, 600000, 100},  {480, 2, 2, 1800, 15, 16, 0, 124},
                               {2, 4, 2, 2160, 2, 16, 500000, 120}, {3, 3, 2, 240, 2, 12, 0, 124},
                               {4, 4, 2, 5, 5, 16, 0, 124},         {0xE728, 4, 2, 360, 3, 16, 0, 124}};
        // clang-format on
        for (const auto& [division, numerator, denominatorPower, tick, step, steps, quarter, bpm] : rows) {
            StyTrack track;
            track.meter(0, numerator, denominatorPower).marker(0, "Main A").tempo(1, 0);
            if (quarter) track.tempo(2, std::uint32_t(quarter)).tempo(3, 400000);
            Importer in;
            const StylePattern style = in.import(
                u"meter.sty"_s,
                styFile(division, {track.note(static_cast<std::uint32_t>(tick), 10, 42, 77).chunk()}));
            QCOMPARE(row(style, SongSection::VerseA, 3), u"%1:77"_s.arg(step));
            QCOMPARE(style.stepsPerBar, steps);
            QCOMPARE(style.beatsPerBar, steps == 16 ? 4 : numerator);
            QCOMPARE(style.bpm, float(bpm));
            QCOMPARE(style.subDescription,
                     u"USB Flash .STY (%1 BPM • %2/%3) • meter.sty"_s.arg(bpm).arg(numerator).arg(
                         1 << denominatorPower));
        }
    }

    // Without markers bars cycle through the main sections; a format marker hides what follows until a
    // section marker. Sections without drums copy Main A (a fill keeps its notes), the Ending with a ride
    // accent; notes choose lanes. A style with only a Main B rolls (snare | tom) to the end of its bar.
    void sectionsFollowMarkersOrBars() {
        Importer in;
        StyTrack bars;
        for (int bar = 0; bar < 5; ++bar)
            bars.note(static_cast<std::uint32_t>(bar * 1920 + bar * 120), 10, 36, 60 + bar);
        StylePattern style = in.import(u"bars.sty"_s, styFile(480, {bars.chunk()}));
        QCOMPARE(row(style, SongSection::VerseA, 0) + u'|' + row(style, SongSection::VerseB, 0) + u'|' +
                     row(style, SongSection::Bridge, 0),
                 u"0:60 4:64|1:61|3:63"_s);

        StyTrack marked;
        marked.marker(0, "SFF1").marker(0, " INTRO A ").note(0, 10, 38, 90);
        marked.marker(1920, "SInt").note(1920, 10, 38, 91);
        marked.marker(3840, "Main B").note(3840 + 2160, 10, 38, 92);
        marked.meta(6500, 0x01, "Break").note(6620, 10, 38, 93);
        marked.marker(8000, "Ending A").note(8000, 10, 38, 94);
        style = in.import(u"marked.sty"_s, styFile(480, {marked.chunk()}));
        QStringList snares;
        for (SongSection s : {SongSection::Intro, SongSection::VerseA, SongSection::VerseB, SongSection::Fill,
                              SongSection::Ending})
            snares << row(style, s, 1);
        QCOMPARE(snares.join(u'|'), u"0:90|0:90|2:92|1:93|0:94"_s);
        QCOMPARE(row(style, SongSection::Ending, 6), QString()); // drums of its own: no accent

        StyTrack two; // Main A and a fill only
        two.marker(0, "Main A").note(0, 10, 36, 100).note(0, 10, 54, 70).note(240, 10, 76, 80);
        two.note(480, 10, 40, 90).note(480, 9, 75, 85).note(600, 10, 99, 50);
        two.marker(1920, "Fill In AA").note(1920 + 1800, 10, 40, 111);
        style = in.import(u"two.sty"_s, styFile(480, {two.chunk()}));
        std::array<int, drumLaneCount> lanes = in.sequencer.styles()[8].laneNotes;
        lanes[2] = 75; // the last note seen on a lane names it, from lane 2 on
        lanes[7] = 99;
        QVERIFY(style.laneNotes == lanes);
        QCOMPARE(in.sequencer.currentStyle().laneNotes[2], 75);
        for (SongSection s : {SongSection::Intro, SongSection::VerseB, SongSection::Chorus,
                              SongSection::Bridge, SongSection::Ending})
            QCOMPARE(row(style, s, 0) + u'|' + row(style, s, 1) + u'|' + row(style, s, 2),
                     u"0:100|4:90|2:80 4:85"_s);
        QCOMPARE(row(style, SongSection::Ending, 6), u"0:122"_s);
        QCOMPARE(row(style, SongSection::Chorus, 7), u"0:70 5:50"_s);
        QCOMPARE(row(style, SongSection::Fill, 1) + u'|' + row(style, SongSection::Fill, 0), u"15:111|"_s);

        for (const auto& [numerator, roll] :
             {std::pair{4, u"0:50 12:100 13:106 14:112 15:118|12:92 13:98 14:104 15:110"_s},
              {3, u"0:50 8:100 9:106 10:112 11:118|8:92 9:98 10:104 11:110"_s}}) {
            StyTrack track;
            track.meter(0, numerator, 2).marker(0, "Main B").note(0, 10, 38, 50);
            style = in.import(u"b%1.sty"_s.arg(numerator), styFile(480, {track.chunk()}));
            QCOMPARE(row(style, SongSection::Fill, 1) + u'|' + row(style, SongSection::Fill, 5), roll);
            QCOMPARE(row(style, SongSection::VerseA, 1), u"0:50"_s);
        }
    }

    // Accompaniment: channels, the first fitting rule per note, clamped offsets, capped voices, programs.
    void accompanimentNotesFillTheArrangerSteps() {
        StyTrack drums;
        drums.marker(0, "Main A").note(0, 10, 36, 100).marker(1920, "Main B").note(1920, 10, 36, 100);
        StyTrack band;
        band.program(0, 11, 35).program(0, 12, 5).program(0, 13, 49).program(0, 14, 73).program(0, 8, 99);
        band.program(0, 1, 98);
        band.note(0, 11, 62, 100).note(0, 11, 51, 80); // bass: pitch class of the last, loudest velocity
        for (int n : {60, 64, 67, 72, 76})
            band.note(120, 12, n, 90); // chord 1: four notes at most
        band.note(120, 12, 30, 70);    // low: bass, not chord
        band.note(240, 13, 100, 60).note(240, 13, 20, 65).note(240, 7, 40, 61);
        band.note(360, 14, 40 + 48, 88).note(360, 1, 50, 77).note(360, 5, 120, 66).note(360, 6, 84, 99);
        band.note(480, 8, 70, 90).note(480, 8, 47, 55);   // channel 8: only its low note, as bass
        band.note(480, 12, 48, 50).note(600, 13, 23, 40); // just outside the bass range
        Importer in;
        const StylePattern style = in.import(u"band.sty"_s, styFile(480, {drums.chunk(), band.chunk()}));
        QVERIFY(style.hasStyleParts);
        QCOMPARE(QList<int>({style.bassGmProg, style.rhythmGmProg, style.harmonyGmProg, style.leadGmProg}),
                 QList<int>({35, 5, 49, 73}));
        const auto& a = style.arrangerSteps[static_cast<int>(SongSection::VerseA)];
        const QStringList expected{
            u"b3@100/2 r[]@0/2 h[]@0/2 l[]@0/2"_s,       u"b6@70/2 r[0 4 7 12]@90/2 h[]@0/2 l[]@0/2"_s,
            u"b4@61/2 r[]@0/2 h[24 -12]@65/3 l[]@0/2"_s, u"b128@0/2 r[]@0/2 h[]@0/2 l[16 -16 24]@88/2"_s,
            u"b11@55/2 r[-12]@50/2 h[]@0/2 l[]@0/2"_s,   u"b128@0/2 r[]@0/2 h[-12]@40/3 l[]@0/2"_s};
        for (int step = 0; step < expected.size(); ++step)
            QCOMPARE(record(a[static_cast<std::size_t>(step)]), expected[step]);
        // Every section without notes of its own plays Main A's; Main B had drums only.
        for (SongSection s : {SongSection::Intro, SongSection::VerseB, SongSection::Ending})
            QCOMPARE(record(style.arrangerSteps[static_cast<int>(s)][1]), expected[1]);
    }

    // Files missing, too short or too long are refused; damaged ones keep what they could read.
    void unreadableFilesAreRefusedAndBrokenOnesRead() {
        Importer in;
        for (const QString& path : {in.dir.filePath(u"gone.sty"_s), in.dir.path()}) {
            QCOMPARE(in.sequencer.importStyFile(path, &in.error), -1);
            QCOMPARE(in.error, u"File not found: "_s + path);
        }
        QCOMPARE(in.import(u"short.sty"_s, QByteArray(17, 'M')).id, QString());
        QCOMPARE(in.error, u"Invalid or empty .STY file: short.sty"_s);
        const QString huge = in.dir.filePath(u"huge.sty"_s);
        QFile big(huge);
        QVERIFY(big.open(QIODevice::WriteOnly) && big.write(styFile(480, {StyTrack().chunk()})) > 0 &&
                big.resize(maxStyleFileBytes + 1));
        big.close();
        QCOMPARE(in.sequencer.importStyFile(huge, &in.error), -1);
        QCOMPARE(in.error, u"Invalid or empty .STY file: huge.sty"_s);
        QCOMPARE(in.sequencer.styles().size(), std::size_t(builtinCount));
        QVERIFY(big.resize(maxStyleFileBytes));
        QCOMPARE(in.sequencer.importStyFile(huge), builtinCount);

        // Damage in a track (cut short, 4 GiB lengths, 5-byte delta, meta past the end, running status
        // first or after sysex, a system message; CASM first): what came before is kept, nothing after.
        const auto good = [] {
            return StyTrack().note(0, 10, 36, 90);
        };
        const auto broken = [&](std::initializer_list<int> tail) {
            return good().raw(bytes(tail)).chunk();
        };
        const QByteArray later = StyTrack().note(480, 10, 36, 91).chunk();
        const QString templateKicks = u"0:114 4:86 7:74 8:114 12:86 14:80"_s;
        const QByteArray dataAfterHeader = bytes({0, 1, 0, 1, 1, 0xE0}) + good().chunk();
        const std::pair<QByteArray, QString> rows[] = {
            {styFile(480, {good().note(240, 10, 36, 92).chunk(), later}), u"0:90 2:92 4:91"_s}, // intact
            {styFile(480, {broken({0x00, 0x99, 0x24}), later}).left(header(1, 2, 480).size() + 14),
             u"0:90"_s},
            {styFile(480, {good().note(240, 10, 36, 92).chunk(0xFFFFFFFF)}), u"0:90 2:92"_s},
            {QByteArray("MThd" + be32(0xFFFFFFFF) + dataAfterHeader), templateKicks}, // no track reached
            {styFile(480, {broken({0x81, 0x80, 0x80, 0x80, 0x00, 0x99, 0x24, 0x50}), later}), u"0:90 4:91"_s},
            {styFile(480, {broken({0x00, 0xFF, 0x06, 0x40, 'M', 'a'}), later}), u"0:90 4:91"_s},
            {styFile(480, {StyTrack().raw(bytes({0x00, 0x24, 0x50})).chunk(), later}), u"4:91"_s},
            {styFile(480, {broken({0x00, 0xF2, 0x00, 0x00, 0x00, 0x99, 0x24, 0x50}), later}), u"0:90 4:91"_s},
            {styFile(480, {broken({0x00, 0xF0, 0x01, 0xF7, 0x78, 0x24, 0x50}), later}), u"0:90 4:91"_s},
            {styFile(480, {broken({0x81, 0x70, 0x24, 0x55, 0x00, 0xFF, 0x2F, 0x00})}), u"0:90 2:85"_s},
            {QByteArray(header(1, 1, 480) + chunk("CASM", "xx") + later), templateKicks},
            {QByteArray("junk" + styFile(480, {later})), u"4:91"_s}}; // a preamble before MThd
        for (const auto& [file, kicks] : rows) {
            Importer fresh;
            const StylePattern style = fresh.import(u"Mugithi.sty"_s, file);
            QCOMPARE(fresh.index, builtinCount);
            QCOMPARE(row(style, SongSection::VerseA, 0), kicks);
        }
    }

    // An independent reader sees every event where it belongs; the header and an empty CASM frame the track.
    void midoReadsEveryStyle() {
        std::vector<StylePattern> styles = builtinStyles();
        StylePattern edges = plain(300, 14, 4); // played at 220
        edges.laneNotes = {20, 38, 37, 42, 46, 47, 51, 100};
        edges.velocityGrid[1][0][0] = 90;
        edges.velocityGrid[1][7][13] = 70;
        edges.name = QString(130, u'é'); // a name longer than 127 bytes
        edges.bassGmProg = 200;
        edges.rhythmGmProg = -4;
        styles.push_back(edges);
        styles.push_back(plain(30, 12, 3)); // an empty grid at 45 bpm
        styles.push_back(plain(96, 12, 6));
        QTemporaryDir dir;
        for (const StylePattern& style : styles) {
            const QByteArray bytes = buildYamahaSff1StyBytes(style);
            QCOMPARE(bytes.left(18).toHex(), QByteArray("4d546864000000060000000101e04d54726b"));
            QCOMPARE(22 + qFromBigEndian<quint32>(bytes.constData() + 18) + 8, quint32(bytes.size()));
            QCOMPARE(bytes.right(12).toHex(), QByteArray("00ff2f004341534d00000000"));
            QFile file(dir.filePath(style.id + u".sty"_s));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) > 0);
        }
        const char* script = R"(
import glob, json, mido, os, sys
out = {}
for path in glob.glob(os.path.join(sys.argv[1], '*.sty')):
    t, ev = 0, []
    for m in mido.MidiFile(path, charset='utf-8').tracks[0]:
        t += m.time
        ev.append([t] + {'set_tempo': lambda: ['tempo', m.tempo], 'time_signature': lambda: ['meter', m.numerator,
            m.denominator], 'marker': lambda: ['marker', m.text], 'track_name': lambda: ['track_name', m.name],
            'program_change': lambda: ['program', m.channel + 1, m.program], 'note_on': lambda: ['note_on',
            m.channel + 1, m.note, m.velocity], 'note_off': lambda: ['note_off', m.channel + 1, m.note, m.velocity],
            'end_of_track': lambda: ['end']}[m.type]())
    out[os.path.basename(path)[:-4]] = ev
print(json.dumps(out))
)";
        QProcess python;
        python.start(u"/usr/bin/python3"_s, {u"-c"_s, QString::fromLatin1(script), dir.path()});
        QVERIFY(python.waitForFinished(60000));
        QCOMPARE(python.readAllStandardError(), QByteArray());
        const QJsonObject parsed = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
        QCOMPARE(parsed.size(), qsizetype(styles.size()));
        for (const StylePattern& style : styles) {
            QStringList seen;
            for (const QJsonValue& event : parsed.value(style.id).toArray())
                seen << event.toVariant().toStringList().join(u' ');
            const QStringList expected = expectedEvents(style);
            QCOMPARE(seen.takeLast(),
                     expected.last().section(u' ', 0, 0) + u" end"_s); // right after the last
            QCOMPARE(seen, expected);
        }
    }
};

QTEST_GUILESS_MAIN(ArrangerTest)
#include "tst_arranger.moc"
