// Style files: what the file name says, what the MIDI part overrides (tempo,
// meter, sections, drums, accompaniment notes, programs), how sections without
// drums are filled, importing the same file again, the three refusals, and broken
// or hostile bytes, which keep what came before the damage.

#include "StyBytes.h"
#include "rhythm/BeatSequencer.h"
#include "rhythm/StyleFileReader.h"

#include <QTemporaryDir>
#include <QTest>

using namespace tmb;
using namespace tmb::test;
using namespace Qt::StringLiterals;

namespace {

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

const QByteArray textFile = "twenty bytes of text";

} // namespace

class StyleFileReaderTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The name picks the template; a file without MIDI is that template renamed.
    void fileNamesChooseTheTemplate_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("archetype");
        QTest::addColumn<float>("bpm");
        QTest::addColumn<int>("lead");
        QTest::addColumn<int>("kit");
        QTest::newRow("mugithi") << u"Mugithi_Kikuyu_1Man_PSR.sty"_s << u"sty_mugithi_kikuyu_1man_psr"_s
                                 << u"Mugithi Kikuyu 1Man PSR"_s << 0 << 118.0f << 25 << 0;
        QTest::newRow("kinanda before waltz") << u"Kinanda_Waltz.sty"_s << u"sty_kinanda_waltz"_s
                                              << u"Kinanda Waltz"_s << 1 << 118.0f << 21 << 0;
        QTest::newRow("worship") << u"slow-ballad 2.sty"_s << u"sty_slow-ballad_2"_s << u"slow ballad 2"_s
                                 << 24 << 74.0f << 2 << 8;
        QTest::newRow("soul") << u"SOUL.STY"_s << u"sty_soul"_s << u"SOUL"_s << 25 << 84.0f << 16 << 0;
        QTest::newRow("praise") << u"mzansi.sty"_s << u"sty_mzansi"_s << u"mzansi"_s << 27 << 128.0f << 16
                                << 0;
        QTest::newRow("no keyword") << u"My.Band.sty"_s << u"sty_my.band"_s << u"My.Band"_s << 8 << 124.0f
                                    << 27 << 0;
        QTest::newRow("nothing left")
            << u"_-_.sty"_s << u"sty__-_"_s << u"USB Flash Style"_s << 8 << 124.0f << 27 << 0;
    }
    void fileNamesChooseTheTemplate() {
        QFETCH(QString, file);
        QFETCH(QString, id);
        QFETCH(QString, name);
        QFETCH(int, archetype);
        QFETCH(float, bpm);
        QFETCH(int, lead);
        QFETCH(int, kit);
        Importer in;
        const StylePattern style = in.import(file, textFile);
        QCOMPARE(in.index, builtinCount);
        QCOMPARE(style.id, id);
        QCOMPARE(style.name, name);
        QCOMPARE(style.arrangerArchetype, archetype);
        QCOMPARE(style.bpm, bpm);
        QCOMPARE(in.sequencer.bpm(), bpm);
        QCOMPARE(style.leadGmProg, lead);
        QCOMPARE(style.drumKitProgram, kit);
        QCOMPARE(style.genre, u"USB Flash STY"_s);
        QCOMPARE(style.subDescription, QString::fromUtf8(classifyStyleFileName(name).description));
        QVERIFY(style.isCustomSty && !style.hasStyleParts);
        QCOMPARE(style.styFilePath, in.dir.filePath(file));
        const StylePattern& templ = in.sequencer.styles()[static_cast<std::size_t>(archetype)];
        QVERIFY(style.velocityGrid == templ.velocityGrid);
        QVERIFY(style.laneNotes == templ.laneNotes);
        QCOMPARE(style.stepsPerBar, templ.stepsPerBar);
    }

    void tempoComesFromTheFirstNonZeroTempo_data() {
        QTest::addColumn<QList<int>>("tempi"); // microseconds per quarter, in file order
        QTest::addColumn<float>("bpm");
        QTest::newRow("300 bpm") << QList<int>{200000} << 220.0f;
        QTest::newRow("30 bpm") << QList<int>{2000000} << 45.0f;
        QTest::newRow("first wins") << QList<int>{0, 600000, 500000} << 100.0f;
        QTest::newRow("none") << QList<int>{} << 124.0f;
    }
    void tempoComesFromTheFirstNonZeroTempo() {
        QFETCH(QList<int>, tempi);
        QFETCH(float, bpm);
        StyTrack track;
        for (int i = 0; i < tempi.size(); ++i)
            track.tempo(static_cast<std::uint32_t>(i * 10), static_cast<std::uint32_t>(tempi[i]));
        track.note(100, 10, 36, 90);
        Importer in;
        const StylePattern style = in.import(u"x.sty"_s, styFile(480, {track.chunk()}));
        QCOMPARE(style.bpm, bpm);
        QCOMPARE(style.subDescription, u"USB Flash .STY (%1 BPM • 4/4) • x.sty"_s.arg(qRound(bpm)));
    }

    // Where a drum note lands for the meter and division: bar length and step size
    // follow them; divisions too small for a step, and SMPTE ones, count as 480.
    void notesLandOnTheirStep_data() {
        QTest::addColumn<int>("division");
        QTest::addColumn<int>("numerator");
        QTest::addColumn<int>("denominatorPower");
        QTest::addColumn<int>("tick");
        QTest::addColumn<int>("section");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("steps");
        QTest::addColumn<QString>("meter");
        QTest::newRow("3/4 at 96: tick 300 is bar 2 step 0")
            << 96 << 3 << 2 << 300 << 1 << 0 << 12 << u"3/4"_s;
        QTest::newRow("3/4 at 96: tick 287 is step 11") << 96 << 3 << 2 << 287 << 1 << 11 << 12 << u"3/4"_s;
        QTest::newRow("6/8 at 96: tick 48") << 96 << 6 << 3 << 48 << 1 << 2 << 12 << u"6/8"_s;
        QTest::newRow("2/4 counts as 4/4") << 480 << 2 << 2 << 1800 << 1 << 15 << 16 << u"2/4"_s;
        QTest::newRow("division 2 is 480") << 2 << 4 << 2 << 1920 + 240 << 1 << 2 << 16 << u"4/4"_s;
        QTest::newRow("division 3 in 3/4 is 480") << 3 << 3 << 2 << 240 << 1 << 2 << 12 << u"3/4"_s;
        QTest::newRow("division 4 stays") << 4 << 4 << 2 << 5 << 1 << 5 << 16 << u"4/4"_s;
        QTest::newRow("SMPTE division is 480") << 0xE728 << 4 << 2 << 360 << 1 << 3 << 16 << u"4/4"_s;
    }
    void notesLandOnTheirStep() {
        QFETCH(int, division);
        QFETCH(int, numerator);
        QFETCH(int, denominatorPower);
        QFETCH(int, tick);
        QFETCH(int, section);
        QFETCH(int, step);
        QFETCH(int, steps);
        QFETCH(QString, meter);
        StyTrack track;
        track.meter(0, numerator, denominatorPower)
            .marker(0, "Main A")
            .note(static_cast<std::uint32_t>(tick), 10, 42, 77);
        Importer in;
        const StylePattern style = in.import(u"meter.sty"_s, styFile(division, {track.chunk()}));
        QCOMPARE(row(style, static_cast<SongSection>(section), 3), u"%1:77"_s.arg(step));
        QCOMPARE(style.stepsPerBar, steps);
        QCOMPARE(style.beatsPerBar, steps == 16 ? 4 : numerator);
        QVERIFY(style.subDescription.contains(meter));
    }

    // Without markers the bars cycle through the four main sections; a format
    // marker hides what follows it until a section marker.
    void sectionsFollowMarkersOrBars() {
        Importer in;
        StyTrack bars;
        for (int bar = 0; bar < 5; ++bar)
            bars.note(static_cast<std::uint32_t>(bar * 1920 + bar * 120), 10, 36, 60 + bar);
        StylePattern style = in.import(u"bars.sty"_s, styFile(480, {bars.chunk()}));
        QCOMPARE(row(style, SongSection::VerseA, 0), u"0:60 4:64"_s);
        QCOMPARE(row(style, SongSection::VerseB, 0), u"1:61"_s);
        QCOMPARE(row(style, SongSection::Bridge, 0), u"3:63"_s);

        StyTrack marked;
        marked.marker(0, "SFF1").marker(0, " INTRO A ").note(0, 10, 38, 90);
        marked.marker(1920, "SInt")
            .note(1920, 10, 38, 91)
            .marker(3840, "Main B")
            .note(3840 + 1920 + 240, 10, 38, 92);
        marked.meta(6500, 0x01, "Break")
            .note(6500 + 120, 10, 38, 93)
            .marker(8000, "Ending A")
            .note(8000, 10, 38, 94);
        style = in.import(u"marked.sty"_s, styFile(480, {marked.chunk()}));
        QCOMPARE(row(style, SongSection::Intro, 1), u"0:90"_s);
        QCOMPARE(row(style, SongSection::VerseB, 1), u"2:92"_s);
        QCOMPARE(row(style, SongSection::Fill, 1), u"1:93"_s);
        QCOMPARE(row(style, SongSection::Ending, 1), u"0:94"_s); // drums of its own: no ride accent
        QCOMPARE(row(style, SongSection::VerseA, 1),
                 u"0:90"_s); // no drums: from the Intro, the first with drums
        QCOMPARE(row(style, SongSection::Ending, 6), QString());
    }

    // Main A and a fill only: the other sections copy Main A (the Ending with a ride
    // accent), the fill keeps its own notes; drum notes choose lanes and lane notes.
    void sectionsWithoutDrumsCopyMainA() {
        StyTrack track;
        track.marker(0, "Main A").note(0, 10, 36, 100).note(0, 10, 54, 70).note(240, 10, 76, 80);
        track.note(480, 10, 40, 90).note(480, 9, 75, 85).note(600, 10, 99, 50);
        track.marker(1920, "Fill In AA").note(1920 + 1800, 10, 40, 111);
        Importer in;
        const StylePattern style = in.import(u"two.sty"_s, styFile(480, {track.chunk()}));
        std::array<int, drumLaneCount> lanes = in.sequencer.styles()[8].laneNotes;
        lanes[2] = 75; // the last note seen on a lane names it, from lane 2 on
        lanes[7] = 99;
        QVERIFY(style.laneNotes == lanes);
        QCOMPARE(in.sequencer.currentStyle().laneNotes[2], 75);
        const QString kick = u"0:100"_s;
        for (SongSection s : {SongSection::Intro, SongSection::VerseB, SongSection::Chorus,
                              SongSection::Bridge, SongSection::Ending}) {
            QCOMPARE(row(style, s, 0), kick);
            QCOMPARE(row(style, s, 1), u"4:90"_s);
            QCOMPARE(row(style, s, 2), u"2:80 4:85"_s);
        }
        QCOMPARE(row(style, SongSection::Ending, 6), u"0:122"_s);
        QCOMPARE(row(style, SongSection::Chorus, 7), u"0:70 5:50"_s);
        QCOMPARE(row(style, SongSection::Fill, 1), u"15:111"_s);
        QCOMPARE(row(style, SongSection::Fill, 0), QString());
    }

    // A style with only a Main B: the generated Fill roll sits on the last four
    // steps of the meter.
    void generatedFillRollEndsTheBar_data() {
        QTest::addColumn<int>("numerator");
        QTest::addColumn<QString>("snare");
        QTest::addColumn<QString>("tom");
        QTest::newRow("4/4") << 4 << u"0:50 12:100 13:106 14:112 15:118"_s << u"12:92 13:98 14:104 15:110"_s;
        QTest::newRow("3/4") << 3 << u"0:50 8:100 9:106 10:112 11:118"_s << u"8:92 9:98 10:104 11:110"_s;
    }
    void generatedFillRollEndsTheBar() {
        QFETCH(int, numerator);
        QFETCH(QString, snare);
        QFETCH(QString, tom);
        StyTrack track;
        track.meter(0, numerator, 2).marker(0, "Main B").note(0, 10, 38, 50);
        Importer in;
        const StylePattern style = in.import(u"b.sty"_s, styFile(480, {track.chunk()}));
        QCOMPARE(row(style, SongSection::Fill, 1), snare);
        QCOMPARE(row(style, SongSection::Fill, 5), tom);
        QCOMPARE(row(style, SongSection::VerseA, 1), u"0:50"_s);
    }

    // Accompaniment channels, the first rule that fits taking each note, offsets
    // clamped, voices capped, programs, and sections without parts copying them.
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
        QCOMPARE(QList<int>({a[0].bassPitchClass, a[0].bassVelocity, a[0].bassLength}),
                 QList<int>({3, 100, 2}));
        QCOMPARE(
            QList<int>({a[1].chord1Count, a[1].chord1Notes[0], a[1].chord1Notes[3], a[1].chord1Velocity}),
            QList<int>({4, 0, 12, 90}));
        QCOMPARE(QList<int>({a[1].bassPitchClass, a[1].bassVelocity}), QList<int>({6, 70}));
        QCOMPARE(QList<int>({a[2].chord2Count, a[2].chord2Notes[0], a[2].chord2Notes[1], a[2].chord2Length}),
                 QList<int>({2, 24, -12, 3}));
        QCOMPARE(QList<int>({a[2].chord2Velocity, a[2].bassPitchClass, a[2].bassVelocity}),
                 QList<int>({65, 4, 61}));
        QCOMPARE(QList<int>(
                     {a[3].padCount, a[3].padNotes[0], a[3].padNotes[1], a[3].padNotes[2], a[3].padVelocity}),
                 QList<int>({3, 16, -16, 24, 88}));
        QCOMPARE(QList<int>({a[4].bassPitchClass, a[4].chord1Count, a[4].chord1Notes[0], a[4].padCount}),
                 QList<int>({11, 1, -12, 0}));
        QCOMPARE(QList<int>({a[5].bassPitchClass, a[5].chord2Count, a[5].chord2Notes[0]}),
                 QList<int>({StyleArrangerStep::noBass, 1, -12}));
        // Every section without notes of its own plays Main A's; Main B had drums only.
        for (SongSection s : {SongSection::Intro, SongSection::VerseB, SongSection::Ending})
            QCOMPARE(int(style.arrangerSteps[static_cast<int>(s)][1].chord1Count), 4);
    }

    void importingAgainRefreshesTheStyle() {
        Importer in;
        StyTrack first;
        first.tempo(0, 500000).note(0, 10, 36, 90);
        in.import(u"Again.sty"_s, styFile(480, {first.chunk()}));
        QCOMPARE(in.index, builtinCount);
        in.sequencer.selectStyle(3);
        StyTrack second;
        second.tempo(0, 600000).note(0, 10, 38, 91);
        const StylePattern style = in.import(u"Again.sty"_s, styFile(480, {second.chunk()}));
        QCOMPARE(in.index, builtinCount);
        QCOMPARE(in.sequencer.styles().size(), std::size_t(builtinCount + 1));
        QCOMPARE(in.sequencer.selectedStyleIndex(), builtinCount);
        QCOMPARE(in.sequencer.bpm(), 100.0f);
        QCOMPARE(row(style, SongSection::VerseA, 1), u"0:91"_s);
        QCOMPARE(row(style, SongSection::VerseA, 0), QString());
        in.import(u"Other.sty"_s, styFile(480, {second.chunk()}));
        QCOMPARE(in.index, builtinCount + 1);
    }

    void unreadableFilesAreRefused() {
        Importer in;
        const QString missing = in.dir.filePath(u"gone.sty"_s);
        QCOMPARE(in.sequencer.importStyFile(missing, &in.error), -1);
        QCOMPARE(in.error, u"File not found: "_s + missing);
        QCOMPARE(in.sequencer.importStyFile(in.dir.path(), &in.error), -1);
        QCOMPARE(in.error, u"File not found: "_s + in.dir.path());
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
    }

    // Damage in a track: what came before it is kept, nothing after it is read,
    // and the chunks after a broken one are never reached.
    void brokenTracksKeepWhatCameBefore_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("kicks");
        const auto good = [] {
            return StyTrack().note(0, 10, 36, 90);
        };
        const QByteArray later = StyTrack().note(480, 10, 36, 91).chunk();
        QTest::newRow("intact") << styFile(480, {good().note(240, 10, 36, 92).chunk(), later})
                                << u"0:90 2:92 4:91"_s;
        QTest::newRow("truncated chunk")
            << styFile(480, {good().raw(bytes({0x00, 0x99, 0x24})).chunk(), later})
                   .left(header(1, 2, 480).size() + 8 + 6)
            << u"0:90"_s;
        QTest::newRow("length 0xFFFFFFFF")
            << styFile(480, {good().note(240, 10, 36, 92).chunk(0xFFFFFFFF)}) << u"0:90 2:92"_s;
        QTest::newRow("header length 0xFFFFFFFF")
            << QByteArray("MThd" + be32(0xFFFFFFFF) + bytes({0, 1, 0, 1, 1, 0xE0}) + good().chunk())
            << u"0:114 4:86 7:74 8:114 12:86 14:80"_s; // no track reached: the template's
        QTest::newRow("5-byte delta")
            << styFile(480,
                       {good().raw(bytes({0x81, 0x80, 0x80, 0x80, 0x00, 0x99, 0x24, 0x50})).chunk(), later})
            << u"0:90 4:91"_s;
        QTest::newRow("meta past the end")
            << styFile(480, {good().raw(bytes({0x00, 0xFF, 0x06, 0x40, 'M', 'a'})).chunk(), later})
            << u"0:90 4:91"_s;
        QTest::newRow("running status first")
            << styFile(480, {StyTrack().raw(bytes({0x00, 0x24, 0x50})).chunk(), later}) << u"4:91"_s;
        QTest::newRow("system message")
            << styFile(480,
                       {good().raw(bytes({0x00, 0xF2, 0x00, 0x00, 0x00, 0x99, 0x24, 0x50})).chunk(), later})
            << u"0:90 4:91"_s;
        QTest::newRow("running status after sysex")
            << styFile(480, {good().raw(bytes({0x00, 0xF0, 0x01, 0xF7, 0x78, 0x24, 0x50})).chunk(), later})
            << u"0:90 4:91"_s;
        QTest::newRow("running status kept")
            << styFile(480, {good().raw(bytes({0x81, 0x70, 0x24, 0x55, 0x00, 0xFF, 0x2F, 0x00})).chunk()})
            << u"0:90 2:85"_s;
        QTest::newRow("CASM before tracks") << QByteArray(header(1, 1, 480) + chunk("CASM", "xx") + later)
                                            << u"0:114 4:86 7:74 8:114 12:86 14:80"_s;
        QTest::newRow("preamble before MThd") << QByteArray("junk" + styFile(480, {later})) << u"4:91"_s;
    }
    void brokenTracksKeepWhatCameBefore() {
        QFETCH(QByteArray, file);
        QFETCH(QString, kicks);
        Importer in;
        const StylePattern style = in.import(u"Mugithi.sty"_s, file);
        QCOMPARE(in.index, builtinCount);
        QCOMPARE(row(style, SongSection::VerseA, 0), kicks);
    }
};

QTEST_GUILESS_MAIN(StyleFileReaderTest)
#include "tst_style_file_reader.moc"
