// tembora-render, run as a user runs it: the WAV it writes, its one line of
// output, and its answers to bad input and bad options.

#include "../midi/SmfBytes.h"
#include "support/AudioAnalysis.h"
#include "support/SfzFixtures.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

using namespace tmb::test;

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
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

bool writeFile(const QString& path, const QByteArray& data) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// One note the tune should play, as its writer placed it.
struct ExpectedNote {
    double onset;    // seconds
    double duration; // seconds
    int channel;
    int pitch;
};

double pitchHz(int pitch) {
    return 440.0 * std::pow(2.0, (pitch - 69) / 12.0);
}

// Amplitude of `hz` in a 4096-sample Hann window centred on `centre`.
double amplitudeAround(const std::vector<float>& mono, double rate, double hz, long long centre) {
    return toneAmplitude(mono, rate, hz, std::size_t(centre - 2048), std::size_t(centre + 2048));
}

// When the note's own frequency rises through half the level it reaches just after
// `expected`: for a symmetric window that is where the window's centre meets the
// onset. NaN when the frequency was already that loud before the note.
double measuredOnset(const std::vector<float>& mono, double rate, double hz, double expected) {
    const auto frame = [rate](double seconds) {
        return static_cast<long long>(std::llround(seconds * rate));
    };
    double reference = 0.0;
    for (double t = expected + 0.045; t <= expected + 0.15; t += 0.005)
        reference = std::max(reference, amplitudeAround(mono, rate, hz, frame(t)));
    const double step = 0.0005;
    double previous = amplitudeAround(mono, rate, hz, frame(expected - 0.08));
    if (previous >= 0.5 * reference) return std::nan("");
    for (double t = expected - 0.08 + step; t <= expected + 0.08; t += step) {
        const double level = amplitudeAround(mono, rate, hz, frame(t));
        if (level >= 0.5 * reference) // interpolate between the two steps
            return t - step + step * (0.5 * reference - previous) / (level - previous);
        previous = level;
    }
    return std::nan("");
}

// Checks every expected note in the rendered tune: it starts at its time (within
// `tolerance` seconds) and sounds at its pitch (strongest frequency within a
// semitone and a half, within 1 %).
void checkNotes(const StereoSignal& signal, const std::vector<ExpectedNote>& notes, double tolerance) {
    // Silence before the start, so windows around a note at 0 s see what precedes it.
    const double rate = signal.sampleRate;
    const double lead = 0.25;
    std::vector<float> mono(std::size_t(lead * rate), 0.0f);
    for (std::size_t i = 0; i < signal.left.size(); ++i)
        mono.push_back(0.5f * (signal.left[i] + signal.right[i]));
    for (ExpectedNote note : notes) {
        note.onset += lead;
        const double hz = pitchHz(note.pitch);
        const QString what = QStringLiteral("channel %1 pitch %2 at %3 s")
                                 .arg(note.channel)
                                 .arg(note.pitch)
                                 .arg(note.onset - lead);

        const double onset = measuredOnset(mono, rate, hz, note.onset);
        QVERIFY2(std::abs(onset - note.onset) <= tolerance,
                 qPrintable(what + QStringLiteral(": heard at %1 s").arg(onset - lead, 0, 'f', 4)));

        // The longest power-of-two window inside the note, after its attack.
        const auto begin = static_cast<std::size_t>((note.onset + 0.05) * rate);
        std::size_t size = 1024;
        while (double(size * 2) <= (note.duration - 0.06) * rate && size < 16384)
            size *= 2;
        const double semitoneAndHalf = std::pow(2.0, 1.5 / 12.0);
        const double heard =
            dominantFrequency(mono, rate, hz / semitoneAndHalf, hz * semitoneAndHalf, begin, begin + size);
        const double level = toneAmplitude(mono, rate, hz, begin, begin + size);
        // The level also tells the note from the second partial of one an octave below.
        QVERIFY2(std::abs(heard / hz - 1.0) < 0.01 && level > 0.05,
                 qPrintable(what + QStringLiteral(": strongest near it %1 Hz (expected %2 Hz), level %3")
                                       .arg(heard, 0, 'f', 2)
                                       .arg(hz, 0, 'f', 2)
                                       .arg(level, 0, 'f', 4)));
    }
}

// Two notes a second apart at 120 BPM, then the end of the track at 2.5 s.
QByteArray twoNoteSong() {
    return header(0, 1, 480) +
           track(midiMessage(0, 0x90, 69, 100) + midiMessage(480, 0x80, 69, 0) +
                 midiMessage(480, 0x90, 72, 100) + midiMessage(480, 0x80, 72, 0) + endOfTrack(960));
}

} // namespace

class TemboraRenderTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The renderer inherits it: presets come from a private catalogue.
    void initTestCase() { usePrivateHome(); }

    void writesAStereoWavOfTheSongAndItsTail_data() {
        QTest::addColumn<int>("rate");
        QTest::addColumn<QString>("block");
        QTest::addColumn<QString>("tail");
        QTest::addColumn<double>("seconds");
        QTest::newRow("defaults") << 48000 << QString() << QString() << 4.5;
        QTest::newRow("44100, block 100") << 44100 << QStringLiteral("100") << QStringLiteral("0") << 2.5;
        QTest::newRow("96000, block 4096")
            << 96000 << QStringLiteral("4096") << QStringLiteral("0.25") << 2.75;
    }

    void writesAStereoWavOfTheSongAndItsTail() {
        QFETCH(int, rate);
        QFETCH(QString, block);
        QFETCH(QString, tail);
        QFETCH(double, seconds);

        QTemporaryDir dir;
        const QString in = dir.filePath(QStringLiteral("song.mid"));
        const QString wav = dir.filePath(QStringLiteral("song.wav"));
        QVERIFY(writeFile(in, twoNoteSong()));
        QStringList arguments = {in, QStringLiteral("-o"), wav};
        if (rate != 48000) arguments << QStringLiteral("--rate") << QString::number(rate);
        if (!block.isEmpty()) arguments << QStringLiteral("--block") << block;
        if (!tail.isEmpty()) arguments << QStringLiteral("--tail") << tail;

        const Run run = runRender(arguments);
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QVERIFY(run.err.isEmpty());
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
        QCOMPARE(channels, 2);
        QCOMPARE(signal.sampleRate, double(rate));
        QCOMPARE(signal.left.size(), std::size_t(std::llround(seconds * rate)));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2); // no temporary file left behind
    }

    void refusesBadInputWithOneLineAndExitCodeTwo_data() {
        QTest::addColumn<QByteArray>("input"); // empty: no input file at all
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("message");

        const QStringList out = {QStringLiteral("-o"), QStringLiteral("OUT")};
        const QByteArray song = twoNoteSong();
        QTest::newRow("missing file") << QByteArray() << out << "no such file";
        QTest::newRow("not a MIDI file") << QByteArray("hello, world\n") << out << "Not a Standard MIDI File";
        QTest::newRow("truncated track") << song.left(song.size() - 6) << out << "is cut short (track 1: ";
        QTest::newRow("tracks missing")
            << (header(1, 2, 96) + track(endOfTrack())) << out << "declares 2 tracks but holds 1";
        QTest::newRow("format 2") << (header(2, 1, 96) + track(endOfTrack())) << out << "format 2";
        QTest::newRow("days long") << (header(0, 1, 1) + track(midiMessage(0x0FFFFFFF, 0x90, 60, 1))) << out
                                   << "at most 3600 s";
        QTest::newRow("rate 22050") << song << (out + QStringList{"--rate", "22050"}) << "--rate must be";
        QTest::newRow("block 0") << song << (out + QStringList{"--block", "0"}) << "--block must be";
        QTest::newRow("block 8192") << song << (out + QStringList{"--block", "8192"}) << "--block must be";
        QTest::newRow("tail -1") << song << (out + QStringList{"--tail", "-1"}) << "--tail must be";
        QTest::newRow("no output") << song << QStringList() << "no output file given";
        QTest::newRow("unknown option") << song << (out + QStringList{"--loud"}) << "Unknown option 'loud'";
        QTest::newRow("two inputs") << song << (out + QStringList{"second.mid"}) << "more than one input";
        QTest::newRow("sfz and sf2") << song << (out + QStringList{"--sfz", "piano.sfz", "--sf2", "gm.sf2"})
                                     << "--sfz and --sf2 cannot be used together";
        QTest::newRow("main and sfz")
            << song << (out + QStringList{"--sfz", "piano.sfz", "--main", "gm_church_organ"})
            << "--main and --sfz cannot be used together";
        QTest::newRow("split and sf2")
            << song << (out + QStringList{"--split", "gm_finger_bass", "--sf2", "gm.sf2"})
            << "--split and --sf2 cannot be used together";
    }

    void refusesBadInputWithOneLineAndExitCodeTwo() {
        QFETCH(QByteArray, input);
        QFETCH(QStringList, options);
        QFETCH(QString, message);

        QTemporaryDir dir;
        const QString in = dir.filePath(QStringLiteral("in.mid"));
        if (!input.isEmpty()) QVERIFY(writeFile(in, input));
        // An existing output file stays as it was.
        const QString wav = dir.filePath(QStringLiteral("out.wav"));
        QVERIFY(writeFile(wav, "previous take"));
        options.replaceInStrings(QStringLiteral("OUT"), wav);

        const Run run = runRender(QStringList{in} + options);
        QCOMPARE(run.exitCode, 2);
        QVERIFY(run.out.isEmpty());
        QVERIFY2(run.err.startsWith(QStringLiteral("tembora-render: ")) &&
                     run.err.count(QLatin1Char('\n')) == 1 && run.err.endsWith(QLatin1Char('\n')),
                 qPrintable(run.err));
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QFile previous(wav);
        QVERIFY(previous.open(QIODevice::ReadOnly));
        QCOMPARE(previous.readAll(), QByteArray("previous take"));
    }

    void anUnwritableOutputExitsWithOne() {
        QTemporaryDir dir;
        const QString in = dir.filePath(QStringLiteral("in.mid"));
        QVERIFY(writeFile(in, twoNoteSong()));
        const Run run =
            runRender({in, QStringLiteral("-o"), dir.filePath(QStringLiteral("no/such/folder/out.wav"))});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.startsWith(QStringLiteral("tembora-render: cannot write ")), qPrintable(run.err));
    }

    void playsAnAbc2midiTuneWithTheRightNotes() {
        // Two voices: abc2midi puts the first on channel index 0 (the main zone) and
        // the second on index 1 (the layer). A quarter note lasts half a second.
        const QByteArray abc = "X:1\nT:Render check\nM:4/4\nL:1/4\nQ:1/4=120\nK:C\n"
                               "V:1\nA e d g | e D g2 | A4 |]\n"
                               "V:2\nG,,2 F,2 | B,,2 F,2 | E,,4 |]\n";
        std::vector<ExpectedNote> notes = {
            {0.0, 0.5, 0, 69}, {0.5, 0.5, 0, 76}, {1.0, 0.5, 0, 74}, {1.5, 0.5, 0, 79}, {2.0, 0.5, 0, 76},
            {2.5, 0.5, 0, 62}, {3.0, 1.0, 0, 79}, {4.0, 2.0, 0, 69}, {0.0, 1.0, 1, 43}, {1.0, 1.0, 1, 53},
            {2.0, 1.0, 1, 47}, {3.0, 1.0, 1, 53}, {4.0, 2.0, 1, 40}};

        QTemporaryDir dir;
        const QString abcPath = dir.filePath(QStringLiteral("tune.abc"));
        const QString midi = dir.filePath(QStringLiteral("tune.mid"));
        const QString wav = dir.filePath(QStringLiteral("tune.wav"));
        QVERIFY(writeFile(abcPath, abc));
        QProcess abc2midi;
        abc2midi.start(QStringLiteral("abc2midi"), {abcPath, QStringLiteral("-o"), midi});
        QVERIFY2(abc2midi.waitForFinished(30000) && abc2midi.exitCode() == 0,
                 "abc2midi (package abcmidi) failed");

        // The additive model: a fast attack and a clear fundamental. The effects stay
        // off: reverb building up after the attack would move the half-level point.
        const Run run = runRender({midi, QStringLiteral("-o"), wav, QStringLiteral("--synth-model"),
                                   QStringLiteral("3"), QStringLiteral("--fx"), QStringLiteral("off")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        StereoSignal signal;
        QVERIFY(readWav(wav, &signal));
        // The tracks end 26 ticks after the last note; then the 2 s tail.
        QCOMPARE(signal.left.size(), std::size_t(std::llround(5786 / 960.0 * 48000) + 2 * 48000));
        // abc2midi starts each note one tick (1/960 s) after its beat.
        for (ExpectedNote& note : notes)
            note.onset += 1 / 960.0;
        checkNotes(signal, notes, 0.0025);
        if (QTest::currentTestFailed()) return;

        // The first note starts from silence: its first frame is exact.
        const long long first = firstAbove(signal.left, 0.0f);
        QVERIFY2(first >= 48 && first <= 48 + 48, qPrintable(QString::number(first)));
    }

    void playsAMidoFileWithTempoChanges() {
        QTemporaryDir dir;
        const QString midi = dir.filePath(QStringLiteral("tune.mid"));
        const QString wav = dir.filePath(QStringLiteral("tune.wav"));
        QProcess python;
        python.start(QStringLiteral("/usr/bin/python3"),
                     {sourceDir() + QStringLiteral("/tests/tools/mido_tune.py"), midi});
        QVERIFY2(python.waitForFinished(60000) && python.exitCode() == 0,
                 python.readAllStandardError().constData());
        std::vector<ExpectedNote> notes;
        for (const QByteArray& line : python.readAllStandardOutput().trimmed().split('\n')) {
            const QList<QByteArray> f = line.split(' ');
            QCOMPARE(f.size(), 4);
            notes.push_back({f[0].toDouble(), f[1].toDouble(), f[2].toInt(), f[3].toInt()});
        }
        QCOMPARE(notes.size(), std::size_t{13});

        for (const char* rate : {"44100", "96000"}) {
            const Run run = runRender({midi, QStringLiteral("-o"), wav, QStringLiteral("--synth-model"),
                                       QStringLiteral("3"), QStringLiteral("--rate"), QLatin1String(rate),
                                       QStringLiteral("--fx"), QStringLiteral("off")});
            QVERIFY2(run.exitCode == 0, qPrintable(run.err));
            StereoSignal signal;
            QVERIFY(readWav(wav, &signal));
            QCOMPARE(signal.sampleRate, QByteArray(rate).toDouble());
            checkNotes(signal, notes, 0.0025);
        }
    }

    void timingDoesNotDependOnTheBlockSize() {
        // Notes at odd frames; rendered in blocks of 16 and of 4096 frames.
        QTemporaryDir dir;
        const QString in = dir.filePath(QStringLiteral("in.mid"));
        QVERIFY(writeFile(in, header(0, 1, 480) +
                                  track(midiMessage(37, 0x90, 69, 100) + midiMessage(301, 0x91, 57, 90) +
                                        midiMessage(411, 0x80, 69, 0) + midiMessage(5, 0x81, 57, 0) +
                                        endOfTrack())));
        std::vector<StereoSignal> renders;
        for (const char* block : {"16", "4096"}) {
            const QString wav = dir.filePath(QStringLiteral("out%1.wav").arg(QLatin1String(block)));
            const Run run = runRender({in, QStringLiteral("-o"), wav, QStringLiteral("--synth-model"),
                                       QStringLiteral("3"), QStringLiteral("--block"), QLatin1String(block)});
            QVERIFY2(run.exitCode == 0, qPrintable(run.err));
            renders.emplace_back();
            QVERIFY(readWav(wav, &renders.back()));
        }
        QCOMPARE(renders[0].left.size(), renders[1].left.size());
        // The first note sounds from frame round(37/960 s x 48000) = 1850 in both.
        QCOMPARE(firstAbove(renders[0].left, 0.0f), firstAbove(renders[1].left, 0.0f));
        QVERIFY(std::abs(firstAbove(renders[0].left, 0.0f) - 1850) <= 2);
        float difference = 0.0f;
        for (std::size_t i = 0; i < renders[0].left.size(); ++i)
            difference = std::max(difference, std::abs(renders[0].left[i] - renders[1].left[i]));
        QVERIFY2(difference < 0.01f, qPrintable(QString::number(difference)));
    }

    void playsTheMainZoneWithAnSfzInstrument() {
        // A 300 Hz sample at key 60: key 67 sounds at 300 x 2^(7/12) = 449.5 Hz, a
        // pitch no synth gives that key.
        QTemporaryDir dir;
        TestTone tone;
        tone.frequency = 300.0;
        tone.seconds = 3.0;
        QVERIFY(writeTestWav(dir.filePath(QStringLiteral("tone.wav")), tone));
        const QString sfz = dir.filePath(QStringLiteral("piano.sfz"));
        QVERIFY(writeFile(sfz, "<region> sample=tone.wav pitch_keycenter=60\n"));
        const QString in = dir.filePath(QStringLiteral("in.mid"));
        QVERIFY(writeFile(in, header(0, 1, 480) + track(midiMessage(0, 0x90, 67, 100) +
                                                        midiMessage(960, 0x80, 67, 0) + endOfTrack())));
        const QString wav = dir.filePath(QStringLiteral("out.wav"));
        const Run run = runRender({in, QStringLiteral("-o"), wav, QStringLiteral("--sfz"), sfz});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        StereoSignal signal;
        QVERIFY(readWav(wav, &signal));
        const double heard = dominantFrequency(signal.left, 48000, 100, 2000, 4800, 43200);
        QVERIFY2(std::abs(heard / (300.0 * std::pow(2.0, 7 / 12.0)) - 1.0) < 0.005,
                 qPrintable(QString::number(heard)));

        // An instrument that cannot be loaded is bad input; the output stays as it was.
        QVERIFY(writeFile(wav, "previous take"));
        const QString empty = dir.filePath(QStringLiteral("empty.sfz"));
        QVERIFY(writeFile(empty, "<region> sample=missing.wav\n"));
        const QString missing = dir.filePath(QStringLiteral("missing.sfz"));
        const QList<QPair<QString, QString>> failures = {
            {missing, QStringLiteral("tembora-render: Cannot open SFZ file: ") + missing + QLatin1Char('\n')},
            {empty, QStringLiteral("tembora-render: No valid playable regions found in ") + empty +
                        QLatin1Char('\n')}};
        for (const auto& [path, message] : failures) {
            const Run failed = runRender({in, QStringLiteral("-o"), wav, QStringLiteral("--sfz"), path});
            QCOMPARE(failed.exitCode, 2);
            QCOMPARE(failed.err, message);
        }
        QFile previous(wav);
        QVERIFY(previous.open(QIODevice::ReadOnly));
        QCOMPARE(previous.readAll(), QByteArray("previous take"));
    }

    // Catalogue presets in the three zones: an SFZ instrument the catalogue found in
    // ~/Music on the main zone, the synth's kalimba model (a bell partial at 6.2
    // times the fundamental, which no default synth sound has) on the layer and the
    // split. The song plays key 60 on the main zone, 64 on the layer, 40 on the split,
    // one second each.
    void playsTheZonesWithCataloguePresets() {
        const QString home = QDir::homePath();
        QVERIFY(QDir().mkpath(home + QStringLiteral("/Music/tone")));
        TestTone tone;
        tone.frequency = 300.0;
        tone.seconds = 2.0;
        QVERIFY(writeTestWav(home + QStringLiteral("/Music/tone/tone.wav"), tone));
        QVERIFY(writeFile(home + QStringLiteral("/Music/tone/tone.sfz"),
                          "<region> sample=tone.wav pitch_keycenter=60\n"));
        QTemporaryDir dir;
        const QString in = dir.filePath(QStringLiteral("in.mid"));
        QVERIFY(writeFile(in, header(0, 1, 480) +
                                  track(midiMessage(0, 0x90, 60, 100) + midiMessage(960, 0x80, 60, 0) +
                                        midiMessage(0, 0x91, 64, 100) + midiMessage(960, 0x81, 64, 0) +
                                        midiMessage(0, 0x92, 40, 100) + midiMessage(960, 0x82, 40, 0) +
                                        endOfTrack())));
        auto render = [&](const QStringList& presets, StereoSignal* signal) {
            const QString wav = dir.filePath(QStringLiteral("out.wav"));
            const Run run = runRender(QStringList{in, QStringLiteral("-o"), wav} + presets);
            QVERIFY2(run.exitCode == 0, qPrintable(run.err));
            QVERIFY(readWav(wav, signal));
        };
        StereoSignal plain;
        render({}, &plain);
        StereoSignal chosen;
        render({QStringLiteral("--main"), QStringLiteral("auto_tone"), QStringLiteral("--layer"),
                QStringLiteral("synth_kalimba_model"), QStringLiteral("--split"),
                QStringLiteral("synth_kalimba_model")},
               &chosen);
        if (QTest::currentTestFailed()) return;

        const double rate = 48000.0;
        auto at = [rate](double seconds) {
            return static_cast<std::size_t>(seconds * rate);
        };
        const double mainHeard = dominantFrequency(chosen.left, rate, 100, 2000, at(0.1), at(0.9));
        QVERIFY2(std::abs(mainHeard / 300.0 - 1.0) < 0.005, qPrintable(QString::number(mainHeard)));
        // Bell partial against the fundamental, just after each zone's note starts.
        auto bellShare = [&](const StereoSignal& s, int key, double onset) {
            const double hz = pitchHz(key);
            return toneAmplitude(s.left, rate, hz * 6.2, at(onset + 0.02), at(onset + 0.3)) /
                   toneAmplitude(s.left, rate, hz, at(onset + 0.02), at(onset + 0.3));
        };
        for (const auto& [key, onset] : {std::pair{64, 1.0}, std::pair{40, 2.0}}) {
            const double withPreset = bellShare(chosen, key, onset);
            const double without = bellShare(plain, key, onset);
            QVERIFY2(
                withPreset > 0.01 && withPreset > 5.0 * without,
                qPrintable(QStringLiteral("key %1: %2 against %3").arg(key).arg(withPreset).arg(without)));
        }
        // The catalogue is the program's own, with its database in Tembora's data folder.
        const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        QVERIFY(QFile::exists(data + QStringLiteral("/Sandorik/Tembora/catalog.db")));

        const QString wav = dir.filePath(QStringLiteral("unknown.wav"));
        const Run unknown = runRender(
            {in, QStringLiteral("-o"), wav, QStringLiteral("--layer"), QStringLiteral("no_such_preset")});
        QCOMPARE(unknown.exitCode, 2);
        QCOMPARE(unknown.err,
                 QStringLiteral("tembora-render: no instrument preset has the id \"no_such_preset\"\n"));
        QVERIFY(!QFile::exists(wav));
    }

    void helpExplainsEveryOption() {
        const Run run = runRender({QStringLiteral("--help")});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.startsWith(QStringLiteral("Usage: tembora-render [options] IN.mid")));
        for (const char* text :
             {"-o, --output <file>", "--rate <hz>", "44100, 48000 or 96000", "--block <frames>",
              "--tail <seconds>", "--synth-model <n>", "--sfz <file>", "--main <id>", "--layer <id>",
              "--split <id>", "Exit status", "channel 10 the drums"})
            QVERIFY2(run.out.contains(QLatin1String(text)), text);
    }
};

QTEST_GUILESS_MAIN(TemboraRenderTest)
#include "tst_tembora_render.moc"
