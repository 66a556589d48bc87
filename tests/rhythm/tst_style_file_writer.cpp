// Style files written from a style: every built-in style and edge cases (lane notes and programs
// out of range, long names, an empty grid) read by python's mido, and read back by our reader.

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

using namespace tmb;
using namespace Qt::StringLiterals;

namespace {

StylePattern plain(float bpm, int stepsPerBar, int beatsPerBar) {
    return {.id = u"edge_%1_%2_%3"_s.arg(bpm).arg(stepsPerBar).arg(beatsPerBar),
            .name = u"Edge"_s,
            .bpm = bpm,
            .beatsPerBar = beatsPerBar,
            .stepsPerBar = stepsPerBar};
}

// A file of `style`, an event a line: tempo, meter, markers, programs on channels 11-14, each
// hit on channel 10 with its note off half a step later.
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

// The reader's lane of a drum note, from the file format's drum-note table.
int laneOf(int note) {
    const QStringList lanes = u"35 36|38 40|37 39 75 76 77|42 44 62|46 63 64|41 43 45 47 48 50 60 61 65 66|"
                              u"49 51 52 53 55 56 57 67 68"_s.split(u'|');
    for (int lane = 0; lane < lanes.size(); ++lane)
        if (lanes[lane].split(u' ').contains(QString::number(note))) return lane;
    return 7;
}

} // namespace

class StyleFileWriterTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
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

    // Read back: tempo, meter, programs and drums, each hit on the lane of its written note; lanes
    // 2-7 take their notes from the file, 0 and 1 keep the template's.
    void everyBuiltinStyleReadsBack() {
        const std::vector<StylePattern> styles = builtinStyles();
        for (const StylePattern& style : styles) {
            const StylePattern back = styleFromStyBytes(buildYamahaSff1StyBytes(style),
                                                        u"/styles/"_s + style.id + u".sty"_s, styles);
            const double quarter = std::lround(60e6 / std::clamp(double(style.bpm), 45.0, 220.0));
            QVERIFY2(std::abs(back.bpm - 60e6 / quarter) < 1e-3, qPrintable(style.id));
            QCOMPARE(QList<int>({back.stepsPerBar, back.beatsPerBar, back.bassGmProg, back.rhythmGmProg,
                                 back.harmonyGmProg, back.leadGmProg}),
                     QList<int>({style.stepsPerBar, style.beatsPerBar, style.bassGmProg, style.rhythmGmProg,
                                 style.harmonyGmProg, style.leadGmProg}));
            const int templ = classifyStyleFileName(styleDisplayName(style.id)).archetype;
            std::array<int, drumLaneCount> notes = styles[size_t(templ)].laneNotes;
            std::array<SectionGrid, songSectionCount> moved{};
            for (int s = 0; s < songSectionCount; ++s)
                for (int step = 0; step < style.stepsPerBar; ++step)
                    for (int lane = 0; lane < drumLaneCount; ++lane)
                        if (const int v = style.velocity(SongSection(s), lane, step)) {
                            const int note = std::clamp(style.laneNotes[size_t(lane)], 24, 96),
                                      to = laneOf(note);
                            moved[s][to][step] = std::uint8_t(std::max<int>(moved[s][to][step], v));
                            if (to >= 2) notes[size_t(to)] = note;
                        }
            QCOMPARE(back.laneNotes, notes);
            for (int s = 0; s < songSectionCount; ++s)
                if (moved[s] != SectionGrid{})
                    QVERIFY2(back.velocityGrid[s] == moved[s], qPrintable(style.id + QString::number(s)));
        }
    }
};

QTEST_GUILESS_MAIN(StyleFileWriterTest)
#include "tst_style_file_writer.moc"
