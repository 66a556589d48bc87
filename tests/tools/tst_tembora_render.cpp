// tembora-render run as a user runs it: the WAV and its one line of output, bad
// input and options, styles, the event log, chords. (Its General MIDI module: tst_fluidsynth.)

#include "../midi/SmfBytes.h"
#include "../rhythm/StyBytes.h"
#include "support/AudioAnalysis.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <map>

using namespace tmb::test;

namespace {

const QString timidityFont = QStringLiteral("/usr/share/sounds/sf2/TimGM6mb.sf2");

struct Run {
    int exitCode = -1; // also when the program crashed
    QString out, err;
};

Run runRender(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral(TMB_RENDER_EXE), arguments);
    Run run;
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit) return run;
    run.exitCode = process.exitCode();
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

// Two notes a second apart at 120 BPM, then the end of the track at 2.5 s.
QByteArray twoNoteSong() {
    return header(0, 1, 480) +
           track(midiMessage(0, 0x90, 69, 100) + midiMessage(480, 0x80, 69, 0) +
                 midiMessage(480, 0x90, 72, 100) + midiMessage(480, 0x80, 72, 0) + endOfTrack(960));
}

// One line of an --events file.
struct LoggedEvent {
    double time;
    QString source;
    int channel;
    bool on;
    int note, velocity;
};

std::vector<LoggedEvent> readEvents(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    if (lines.isEmpty() || lines.takeFirst() != "time\tsource\tchannel\ttype\tnote\tvelocity") return {};
    std::vector<LoggedEvent> events;
    for (const QString& line : lines) {
        const QStringList f = line.split('\t');
        if (f.size() != 6 || f[0].section('.', 1).size() != 6) return {};
        events.push_back({f[0].toDouble(), f[1], f[2].toInt(), f[3] == "on", f[4].toInt(), f[5].toInt()});
    }
    return events;
}

} // namespace

class TemboraRenderTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The renderer inherits it: presets come from a private catalogue.
    void initTestCase() { usePrivateHome(); }

    void writesAStereoWavOfTheSongAndItsTail_data() {
        QTest::addColumn<int>("rate");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<double>("seconds");
        QTest::newRow("defaults") << 48000 << QStringList() << 4.5;
        QTest::newRow("44100, block 333") << 44100 << QStringList{"--block", "333", "--tail", "0"} << 2.5;
        QTest::newRow("96000, block 4096")
            << 96000 << QStringList{"--block", "4096", "--tail", "0.25"} << 2.75;
    }
    void writesAStereoWavOfTheSongAndItsTail() {
        QFETCH(int, rate);
        QFETCH(QStringList, options);
        QFETCH(double, seconds);
        QTemporaryDir dir;
        const QString in = dir.filePath("song.mid"), wav = dir.filePath("song.wav");
        QVERIFY(writeBytes(in, twoNoteSong()));
        if (rate != 48000) options << "--rate" << QString::number(rate);

        const Run run = runRender(QStringList{in, "-o", wav, "--events", dir.filePath("e.tsv")} + options);
        QVERIFY2(run.exitCode == 0 && run.err.isEmpty(), qPrintable(run.err));
        static const QRegularExpression line(QStringLiteral(
            R"(^Rendered (\d+\.\d{3}) s of audio in (\d+\.\d{3}) s \((\d+\.\d)x realtime\)\n$)"));
        const QRegularExpressionMatch match = line.match(run.out);
        QVERIFY2(match.hasMatch(), qPrintable(run.out));
        QCOMPARE(match.captured(1).toDouble(), seconds);
        const double taken = match.captured(2).toDouble();
        if (taken >= 0.05) // the factor is only meaningful to its printed precision
            QVERIFY(std::abs(match.captured(3).toDouble() - seconds / taken) <=
                    0.05 + 0.01 * seconds / taken);

        StereoSignal signal;
        int channels = 0;
        QVERIFY(readWav(wav, &signal, &channels));
        // Stereo at the rate, the song's frames, no temporary file left behind.
        QCOMPARE(std::tuple(channels, signal.sampleRate, signal.left.size(),
                            QDir(dir.path()).entryList(QDir::Files).size()),
                 std::tuple(2, double(rate), std::size_t(std::llround(seconds * rate)), qsizetype{3}));
        // Blocks are cut at event frames, so each event starts its own block.
        QStringList lines;
        for (const LoggedEvent& e : readEvents(dir.filePath("e.tsv")))
            lines << QString::asprintf("%.6f %s %d %s %d %d", e.time, qPrintable(e.source), e.channel,
                                       e.on ? "on" : "off", e.note, e.velocity);
        QCOMPARE(lines, QStringList({"0.000000 file 0 on 69 100", "0.500000 file 0 off 69 0",
                                     "1.000000 file 0 on 72 100", "1.500000 file 0 off 72 0"}));
    }

    // Every refusal: one stderr line, no stdout, exit 2 (input) or 1 (output), the old
    // output file kept. DIR is the test's folder.
    void refusesBadInputWithOneLine_data() {
        QTest::addColumn<QByteArray>("input"); // empty: no input file at all
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("exitCode");
        const auto row = [](const char* tag, const QByteArray& input, const QStringList& options,
                            const char* message, int exitCode = 2, const QString& output = "DIR/out.wav") {
            QTest::newRow(tag) << input << (output.isEmpty() ? options : QStringList{"-o", output} + options)
                               << QString(message) << exitCode;
        };
        const QByteArray song = twoNoteSong();
        row("missing file", {}, {}, "no such file");
        row("truncated track", song.left(song.size() - 6), {}, "is cut short (track 1: ");
        row("days long", header(0, 1, 1) + track(midiMessage(0x0FFFFFFF, 0x90, 60, 1)), {}, "at most 3600 s");
        row("rate 22050", song, {"--rate", "22050"}, "--rate must be");
        row("unknown option", song, {"--loud"}, "Unknown option 'loud'");
        row("sfz and sf2", song, {"--sfz", "a.sfz", "--sf2", "gm.sf2"},
            "--sfz and --sf2 cannot be used together");
        row("sfz missing", song, {"--sfz", "DIR/none.sfz"}, "Cannot open SFZ file: DIR/none.sfz");
        row("sf2 missing", song, {"--sf2", "DIR/none.sf2"}, "does not exist");
        row("sf2 junk", song, {"--sf2", "DIR/junk.sf2"}, "not a SoundFont");
        row("unknown preset", song, {"--layer", "no_such_preset"},
            "no instrument preset has the id \"no_such_preset\"");
        row("no output", song, {}, "no output file given", 2, {});
        row("style 35", song, {"--style", "35"}, "--style must be a whole number from 0 to 34");
        row("style file missing", song, {"--style", "DIR/none.sty", "--arranger"},
            "File not found: DIR/none.sty");
        row("unwritable output", song, {}, "cannot write DIR/no/such/out.wav", 1, "DIR/no/such/out.wav");
    }
    void refusesBadInputWithOneLine() {
        QFETCH(QByteArray, input);
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        QFETCH(int, exitCode);
        QTemporaryDir dir;
        const QString in = dir.filePath("in.mid");
        if (!input.isEmpty()) QVERIFY(writeBytes(in, input));
        QVERIFY(writeBytes(dir.filePath("junk.sf2"), QByteArray("RIFF\x04") + QByteArray(100, '\0')));
        const QString wav = dir.filePath("out.wav");
        QVERIFY(writeBytes(wav, "previous take"));
        arguments.replaceInStrings("DIR", dir.path());
        message.replace("DIR", dir.path());

        const Run run = runRender(QStringList{in} + arguments);
        QVERIFY2(run.exitCode == exitCode && run.out.isEmpty() && run.err.startsWith("tembora-render: ") &&
                     run.err.count('\n') == 1 && run.err.endsWith('\n') && run.err.contains(message),
                 qPrintable(QString::number(run.exitCode) + ": " + run.err));
        QFile previous(wav);
        QVERIFY(previous.open(QIODevice::ReadOnly));
        QCOMPARE(previous.readAll(), QByteArray("previous take"));
    }

    // A built-in style from its Intro through Verse A to a whole Ending, then the tail; the
    // Ending's hits land in the block of its bar (which hits each section plays: tst_beat_sequencer).
    void playsAStyleFromIntroToAnAudibleEnding_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<double>("barSeconds");
        QTest::addColumn<int>("bars");
        QTest::newRow("6/8 at 84, 2 bars, 44.1 kHz")
            << QStringList{"--style", "10",     "--tempo", "84",      "--bars",
                           "2",       "--rate", "44100",   "--block", "1000"}
            << 4 * 60.0 / 84 << 2;
        QTest::newRow("3/4 clamped to 240, exact velocities")
            << QStringList{"--style", "14",      "--tempo", "300",        "--bars", "1",       "--rate",
                           "96000",   "--block", "4096",    "--humanize", "0",      "--swing", "0"}
            << 3 * 60.0 / 240 << 1;
    }
    void playsAStyleFromIntroToAnAudibleEnding() {
        QFETCH(QStringList, options);
        QFETCH(double, barSeconds);
        QFETCH(int, bars);
        const int rate = options[options.indexOf("--rate") + 1].toInt(),
                  block = options[options.indexOf("--block") + 1].toInt();
        if (!QFile::exists(timidityFont)) QSKIP("timgm6mb-soundfont is not installed");
        QTemporaryDir dir;
        const QString wav = dir.filePath("style.wav"), log = dir.filePath("events.tsv");
        const Run run = runRender(options + QStringList{"--sf2", timidityFont, "-o", wav, "--events", log});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        const double blockSeconds = double(block) / rate, endingAt = (1 + bars) * barSeconds;
        QString ending; // the hits of the Ending's block
        int hits = 0;
        for (const LoggedEvent& e : readEvents(log)) {
            QVERIFY(e.source == "drums" && e.channel == 9 && e.on && e.time <= endingAt + 1e-6);
            ++hits;
            if (e.time > endingAt - blockSeconds)
                ending += QStringLiteral("%1:%2 ").arg(e.note).arg(e.velocity);
        }
        QVERIFY(hits > 4 * (bars + 1));
        QCOMPARE(ending.count(' '), 4); // kick, snare, ride lane and crash
        if (options.contains("--humanize")) QCOMPARE(ending, QStringLiteral("36:114 40:96 51:104 49:104 "));

        StereoSignal s;
        QVERIFY(readWav(wav, &s));
        // The sequencer stops at the bar after the Ending, in the block holding that frame; 2 s of tail.
        const double stopFrame = std::ceil((2 + bars) * barSeconds * rate - 1e-6);
        QCOMPARE(double(s.left.size()), (std::floor(stopFrame / block) + 1) * block + 2.0 * rate);
        const auto frame = [rate](double t) {
            return static_cast<std::size_t>(t * rate);
        };
        QVERIFY(rms(s.left, frame(endingAt), frame(endingAt + 0.2)) > 0.02f &&
                rms(s.left, s.left.size() - frame(0.3)) < 0.002f);
    }

    // Chords of a file: one tick acts together, drums and notes at or above
    // --below are left out, velocity 0 ends a note, times follow the tempo map.
    void namesTheChordsOfAFile_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("expected");
        QTest::newRow("every note") << QStringList{}
                                    << "0.000\tC\n0.500\tC6/A\n1.000\tC\n1.125\tC polychord\n1.250\tDm7/F\n"
                                       "1.500\t—\n";
        QTest::newRow("below 67") << QStringList{"--below", "67"}
                                  << "0.000\tC polychord\n0.500\tAm\n1.000\tC polychord\n1.250\tDm7/F\n"
                                     "1.500\t—\n";
    }
    void namesTheChordsOfAFile() {
        QFETCH(QStringList, options);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        // {beat, beats, channel, notes}; 120 BPM, then 240 from beat 2 (beats of 0.5 s, then 0.25 s).
        const struct {
            double beat, beats;
            int channel;
            std::vector<int> notes;
        } chords[] = {{0, 1, 0, {48, 64, 67}},    {0, 4, 0, {60}},         // held under the next two chords
                      {1, 1, 3, {57, 64, 67}},    {1, 3, 9, {36, 38, 42}}, // drums do not count
                      {2, 1, 0, {64, 67, 72}},    {2.5, 0.5, 0, {71, 74}}, // five tones for half a beat
                      {3, 1, 0, {53, 57, 62, 72}}};
        std::multimap<std::pair<int, int>, QByteArray> events{{{960, -1}, tempo(0, 250000).mid(1)}};
        for (const auto& c : chords)
            for (int n : c.notes) { // at one tick the velocity-0 note-ons go first
                events.insert({{int(c.beat * 480), 1}, bytes({0x90 | c.channel, n, 90})});
                events.insert({{int((c.beat + c.beats) * 480), 0}, bytes({0x90 | c.channel, n, 0})});
            }
        QByteArray body = tempo(0, 500000);
        int tick = 0;
        for (const auto& [at, message] : events)
            body += varLen(std::uint32_t(at.first - std::exchange(tick, at.first))) + message;
        const QString in = dir.filePath("chords.mid");
        QVERIFY(writeBytes(in, header(0, 1, 480) + track(body + endOfTrack())));
        const Run run = runRender(QStringList{in, "--chords"} + options);
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QCOMPARE(run.out, expected);
    }

    // The --arranger band through --events: each bar's bass on its chord's root, the lead
    // only in the full-band loop, --smart-chord tones, every band note ended.
    void arrangerBandFollowsTheChords_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("leftHand"); // keys of a left hand, one a bar at 100 BPM
        QTest::addColumn<double>("barSeconds");
        QTest::addColumn<QList<int>>("roots");
        QTest::addColumn<bool>("lead");
        QTest::addColumn<QList<int>>("smart"); // chord tones the left hand adds
        QTest::newRow("drum style, pro band, 1-4-5-1, 512 frames")
            << QStringList{"--style", "30", "--bars", "2", "--progression", "6", "--block", "512"} << ""
            << 4 * 60.0 / 122 << QList<int>{0, 5, 7, 0} << false << QList<int>{};
        QTest::newRow("imported style, its bass a tone up")
            << QStringList{"--style", "DIR/Praise_Band.sty", "--bars", "2"} << "" << 2.0
            << QList<int>{2, 7, 2, 9} << true << QList<int>{};
        QTest::newRow("left hand, smart chord, progression ignored")
            << QStringList{"--style", "12", "--smart-chord", "--progression", "0", "--rate", "44100"}
            << "48 41 43" << 2.4 << QList<int>{0, 5, 7} << false << QList<int>{52, 55, 45, 48, 47, 50};
    }
    void arrangerBandFollowsTheChords() {
        QFETCH(QStringList, options);
        QFETCH(QString, leftHand);
        QFETCH(double, barSeconds);
        QFETCH(QList<int>, roots);
        QFETCH(bool, lead);
        QFETCH(QList<int>, smart);
        if (!QFile::exists(timidityFont)) QSKIP("timgm6mb-soundfont is not installed");
        QTemporaryDir dir;
        // Drums, and a bass on channel 11 a tone above each chord's root, in Main A.
        StyTrack style;
        style.tempo(0, 500000).marker(0, "Main A").note(0, 10, 36, 100).note(0, 11, 38, 100);
        QVERIFY(writeBytes(dir.filePath("Praise_Band.sty"), styFile(480, {style.chunk()})));
        QStringList arguments = options.replaceInStrings("DIR", dir.path());
        if (!leftHand.isEmpty()) {
            QByteArray bars = tempo(0, 600000); // a bar each at 100 BPM
            for (const QString& key : leftHand.split(' '))
                bars += midiMessage(0, 0x90, key.toInt(), 90) + midiMessage(4 * 480, 0x80, key.toInt(), 0);
            QVERIFY(writeBytes(dir.filePath("lh.mid"), header(0, 1, 480) + track(bars + endOfTrack())));
            arguments.prepend(dir.filePath("lh.mid"));
        }
        const QString log = dir.filePath("events.tsv");
        const Run run = runRender(arguments + QStringList{"--arranger", "--sf2", timidityFont, "--fx", "off",
                                                          "-o", dir.filePath("band.wav"), "--events", log});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QList<int> bassRoots, smartOn;
        std::map<std::pair<QString, int>, int> sounding; // (source, channel * 128 + note) -> ons - offs
        bool leadPlayed = false;
        for (const LoggedEvent& e : readEvents(log)) {
            if (e.source == "band" || e.source == "smart")
                sounding[{e.source, e.channel * 128 + e.note}] += e.on ? 1 : -1;
            if (e.source == "smart" && e.on) smartOn << e.note;
            leadPlayed |= e.source == "band" && e.channel == 5 && e.on;
            if (e.source != "band" || e.channel != 4 || !e.on) continue;
            const auto bar = static_cast<int>(std::floor(e.time / barSeconds + 0.01));
            // The band plays a step after the block that began it.
            if (bar == bassRoots.size() && e.time - bar * barSeconds < 0.05) bassRoots << e.note % 12;
        }
        QCOMPARE(bassRoots.mid(0, roots.size()), roots);
        QCOMPARE(leadPlayed, lead);
        QCOMPARE(smartOn, smart);
        for (const auto& [key, balance] : sounding)
            QVERIFY2(balance == 0, qPrintable(QStringLiteral("%1 %2").arg(key.first).arg(key.second)));
    }
};

QTEST_GUILESS_MAIN(TemboraRenderTest)
#include "tst_tembora_render.moc"
