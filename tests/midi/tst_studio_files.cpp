// The studio's file exchange: the exported bytes, the export read back by mido,
// imports checked against mido on abc2midi's examples and on hand-built files that
// the import must refuse or read with care, and the WAV of a take.

#include "SmfBytes.h"
#include "midi/MidiRecorder.h"
#include "support/AudioAnalysis.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <random>
#include <tuple>

using namespace tmb;
using namespace tmb::test;

Q_DECLARE_METATYPE(std::vector<PianoRollNote>)

namespace {

using MidoNote = std::tuple<std::uint32_t, std::uint32_t, int, int>; // on, off, pitch, velocity

// Runs the mido reader; returns the notes sorted, with division and tempo.
bool readWithMido(const QString& path, std::vector<MidoNote>* notes, int* division, int* tempo) {
    QProcess mido;
    mido.start(QStringLiteral("/usr/bin/python3"),
               {sourceDir() + QStringLiteral("/tests/midi/studio_mido.py"), path});
    if (!mido.waitForFinished(30000) || mido.exitCode() != 0) return false;
    const QStringList lines = QString::fromUtf8(mido.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    const QStringList head = lines.value(0).split(' ');
    *division = head.value(1).toInt();
    *tempo = head.value(3).toInt();
    for (const QString& line : lines.mid(1)) {
        const QStringList f = line.split(' ');
        notes->emplace_back(f[0].toUInt(), f[1].toUInt(), f[2].toInt(), f[3].toInt());
    }
    std::sort(notes->begin(), notes->end());
    return true;
}

// One note as start tick, pitch, velocity and duration in beats, sorted, so the
// piano roll and mido can be compared whatever order each lists its notes in.
using Row = std::tuple<long long, int, int, double>;

std::vector<Row> rowsOf(const std::vector<PianoRollNote>& notes, int division) {
    std::vector<Row> rows;
    for (const PianoRollNote& n : notes)
        rows.emplace_back(std::llround(n.startBeats * division), n.pitch, n.velocity, n.durationBeats);
    std::sort(rows.begin(), rows.end());
    return rows;
}

std::vector<Row> rowsOf(const std::vector<MidoNote>& notes, int division) {
    std::vector<Row> rows;
    for (const auto& [on, off, pitch, velocity] : notes)
        rows.emplace_back(on, pitch, velocity, std::max(static_cast<double>(off - on) / division, 0.0625));
    std::sort(rows.begin(), rows.end());
    return rows;
}

bool sameRows(const std::vector<Row>& a, const std::vector<Row>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto& [t1, p1, v1, d1] = a[i];
        const auto& [t2, p2, v2, d2] = b[i];
        if (t1 != t2 || p1 != p2 || v1 != v2 || std::abs(d1 - d2) > 1e-9) return false;
    }
    return true;
}

std::vector<PianoRollNote> sortedByStart(std::vector<PianoRollNote> notes) {
    std::sort(notes.begin(), notes.end(), [](const auto& a, const auto& b) {
        return std::tie(a.startBeats, a.pitch, a.durationBeats) <
               std::tie(b.startBeats, b.pitch, b.durationBeats);
    });
    return notes;
}

const std::vector<PianoRollNote> untouched = {{5, 0, 30, 33, 2.0, 1.0}};

} // namespace

class StudioFilesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void exportWritesTheseBytes_data() {
        QTest::addColumn<std::vector<PianoRollNote>>("notes");
        QTest::addColumn<double>("bpm");
        QTest::addColumn<QByteArray>("events"); // between the tempo and the end of track
        QTest::addColumn<QByteArray>("tempo");
        QTest::newRow("one beat at 120")
            << std::vector<PianoRollNote>{{1, 0, 60, 100, 0, 1}} << 120.0
            << QByteArray::fromHex("00903C64 8360803C00") << QByteArray::fromHex("07A120");
        QTest::newRow("tempo clamped to 30")
            << std::vector<PianoRollNote>{} << 10.0 << QByteArray() << QByteArray::fromHex("1E8480");
        QTest::newRow("tempo clamped to 300")
            << std::vector<PianoRollNote>{} << 500.0 << QByteArray() << QByteArray::fromHex("030D40");
        QTest::newRow("a short note keeps 24 ticks")
            << std::vector<PianoRollNote>{{1, 0, 60, 100, 0, 0.01}} << 100.0
            << QByteArray::fromHex("00903C64 18803C00") << QByteArray::fromHex("0927C0");
        QTest::newRow("back to back: the off first")
            << std::vector<PianoRollNote>{{2, 0, 62, 80, 1, 1}, {1, 0, 62, 90, 0, 1}} << 120.0
            << QByteArray::fromHex("00903E5A 8360803E00 00903E50 8360803E00")
            << QByteArray::fromHex("07A120");
        QTest::newRow("negative start, any track, channel 1")
            << std::vector<PianoRollNote>{{1, 3, 61, 10, -2, 0.5}, {2, 1, 59, 127, 0.75, 0.25}} << 120.0
            << QByteArray::fromHex("00903D0A 8170803D00 78903B7F 78803B00") << QByteArray::fromHex("07A120");
    }
    void exportWritesTheseBytes() {
        QFETCH(std::vector<PianoRollNote>, notes);
        QFETCH(double, bpm);
        QFETCH(QByteArray, events);
        QFETCH(QByteArray, tempo);
        MidiRecorder r;
        r.restoreNotes(notes);
        const QString path = m_dir.filePath(QStringLiteral("export.mid"));
        QVERIFY(r.exportStandardMidiFile(path, bpm));
        const QByteArray data =
            QByteArray::fromHex("00FF5103") + tempo + events + QByteArray::fromHex("00FF2F00");
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().toHex(' '), (header(0, 1, 480) + track(data)).toHex(' '));
        QVERIFY(!r.exportStandardMidiFile(m_dir.filePath(QStringLiteral("no/such/folder.mid")), bpm));
    }

    void exportedNotesReadBackByMido() {
        std::mt19937 random(2024);
        std::vector<PianoRollNote> notes;
        std::array<double, 128> free{};
        for (std::uint32_t id = 1; id <= 200; ++id) {
            const int pitch = 36 + static_cast<int>(random() % 48);
            const double start = free[pitch] + (random() % 4000) / 997.0;
            const double duration = (random() % 3000) / 1009.0; // some below the 0.05 gate
            free[pitch] = start + std::max(duration, 0.05);
            notes.push_back({id, static_cast<int>(random() % 3), pitch, 1 + static_cast<int>(random() % 127),
                             start, duration});
        }
        MidiRecorder r;
        r.restoreNotes(notes);
        const QString path = m_dir.filePath(QStringLiteral("random.mid"));
        QVERIFY(r.exportStandardMidiFile(path, 97.3));

        std::vector<MidoNote> expected;
        for (const PianoRollNote& n : notes) {
            const auto on = static_cast<std::uint32_t>(std::trunc(n.startBeats * 480));
            expected.emplace_back(
                on, on + static_cast<std::uint32_t>(std::trunc(std::max(n.durationBeats, 0.05) * 480)),
                n.pitch, n.velocity);
        }
        std::sort(expected.begin(), expected.end());
        std::vector<MidoNote> read;
        int division = 0, tempo = 0;
        QVERIFY(readWithMido(path, &read, &division, &tempo));
        QCOMPARE(division, 480);
        QCOMPARE(tempo, static_cast<int>(60000000 / 97.3));
        QCOMPARE(read, expected);

        // And back into the piano roll: the same notes at tick resolution, ids from 1.
        QVERIFY(r.importStandardMidiFile(path, nullptr));
        QVERIFY(sameRows(rowsOf(r.snapshotNotes(), 480), rowsOf(read, 480)));
        QCOMPARE(r.addNote(60, 0, 1, 100, 0), 201u);
    }

    void importAgreesWithMidoOnAbc2midiExamples() {
        const QDir examples(QStringLiteral("/usr/share/doc/abcmidi/examples"));
        QVERIFY2(examples.exists(), "abcmidi is not installed");
        QTemporaryDir work;
        for (const QString& abc : examples.entryList({QStringLiteral("*.abc")})) {
            QFile::copy(examples.filePath(abc), work.filePath(abc));
            QProcess abc2midi;
            abc2midi.setWorkingDirectory(work.path());
            abc2midi.start(QStringLiteral("abc2midi"), {abc});
            QVERIFY(abc2midi.waitForFinished(30000));
        }
        const QStringList files = QDir(work.path()).entryList({QStringLiteral("*.mid")});
        QVERIFY(files.size() >= 10);
        for (const QString& name : files) {
            const QString path = work.filePath(name);
            std::vector<MidoNote> reference;
            int division = 0, tempo = 0;
            QVERIFY(readWithMido(path, &reference, &division, &tempo));
            MidiRecorder r;
            double bpm = -1.0;
            QVERIFY2(r.importStandardMidiFile(path, &bpm), qPrintable(name));
            QCOMPARE(bpm, tempo > 0 ? 60000000.0 / tempo : -1.0);
            QVERIFY(!reference.empty());
            QVERIFY2(sameRows(rowsOf(r.snapshotNotes(), division), rowsOf(reference, division)),
                     qPrintable(name));
        }
    }

    void importReadsOrRefusesHandBuiltFiles_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<std::vector<PianoRollNote>>("notes");
        QTest::addColumn<double>("bpm"); // -1: the file sets none
        const QByteArray note60 = midiMessage(0, 0x90, 60, 100) + midiMessage(480, 0x80, 60, 0);
        QTest::newRow("running status, velocity-0 offs")
            << header(0, 1, 96) + track(midiMessage(0, 0x93, 60, 64) + bytes({0, 64, 80}) +
                                        bytes({96, 60, 0}) + bytes({48, 64, 0}) + endOfTrack())
            << true << std::vector<PianoRollNote>{{1, 0, 60, 64, 0, 1}, {2, 0, 64, 80, 0, 1.5}} << -1.0;
        QByteArray longHeader = "MThd" + be32(10) + bytes({0, 0, 0, 1, 1, 0xE0, 0xAA, 0xBB, 0xCC, 0xDD});
        QTest::newRow("header length 10") << longHeader + track(note60 + endOfTrack()) << true
                                          << std::vector<PianoRollNote>{{1, 0, 60, 100, 0, 1}} << -1.0;
        QTest::newRow("SMPTE division")
            << header(0, 1, 0xE728) + track(note60 + endOfTrack()) << false << untouched << -1.0;
        QTest::newRow("no track chunk")
            << header(0, 1, 480) + chunk("XFIH", note60) << false << untouched << -1.0;
        QTest::newRow("cut-short track keeps its notes")
            << header(0, 1, 480) + track(note60 + midiMessage(0, 0x90, 62, 90) + bytes({0x83})) << true
            << std::vector<PianoRollNote>{{1, 0, 60, 100, 0, 1}} << -1.0;
        QTest::newRow("tracks merged, held notes dropped, last tempo wins")
            << header(1, 2, 240) +
                   track(tempo(0, 500000) + midiMessage(0, 0x91, 60, 30) + midiMessage(60, 0x81, 60, 0) +
                         endOfTrack()) +
                   track(tempo(0, 250000) + midiMessage(240, 0x9F, 48, 40) + midiMessage(10, 0x9F, 48, 0) +
                         midiMessage(0, 0x90, 70, 90) + endOfTrack())
            << true << std::vector<PianoRollNote>{{1, 0, 60, 30, 0, 0.25}, {2, 0, 48, 40, 1, 0.0625}}
            << 240.0;
        QTest::newRow("division 0 counts 480, tempo 300")
            << header(0, 1, 0) + track(tempo(0, 200000) + note60 + endOfTrack()) << true
            << std::vector<PianoRollNote>{{1, 0, 60, 100, 0, 1}} << 300.0;
    }
    void importReadsOrRefusesHandBuiltFiles() {
        QFETCH(QByteArray, file);
        QFETCH(bool, ok);
        QFETCH(std::vector<PianoRollNote>, notes);
        QFETCH(double, bpm);
        const QString path = m_dir.filePath(QStringLiteral("hand.mid"));
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(file);
        out.close();
        MidiRecorder r;
        r.restoreNotes(untouched);
        double readBpm = -1.0;
        QCOMPARE(r.importStandardMidiFile(path, &readBpm), ok);
        QCOMPARE(sortedByStart(r.snapshotNotes()), sortedByStart(notes));
        QCOMPARE(readBpm, bpm);
        QCOMPARE(r.canUndo(), ok);
        if (ok) {
            QVERIFY(r.undo());
            QCOMPARE(r.snapshotNotes(), untouched);
        }
    }

    void wavHoldsTheTakeAt16Bits_data() {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("frames");
        QTest::newRow("48 kHz") << 48000 << 100000;
        QTest::newRow("rate at least 8 kHz") << 100 << 70000;
    }
    void wavHoldsTheTakeAt16Bits() {
        QFETCH(int, rate);
        QFETCH(int, frames);
        MidiRecorder r;
        const QString path = m_dir.filePath(QStringLiteral("take.wav"));
        QFile::remove(path);
        QVERIFY(!r.exportRecordedAudioWav(path, rate)); // nothing recorded: no file
        QVERIFY(!QFile::exists(path));
        std::vector<float> left(static_cast<std::size_t>(frames)), right(left.size());
        for (int i = 0; i < frames; ++i) {
            left[i] = std::sin(i * 0.01f) * 1.2f; // past full scale: clipped, never wrapped
            right[i] = -0.5f * static_cast<float>(i % 7) / 7.0f;
        }
        r.pushAudioStereoBlock(left.data(), right.data(), 16); // not recording: ignored
        r.startRecording();
        for (int at = 0; at < frames; at += 4096)
            r.pushAudioStereoBlock(left.data() + at, right.data() + at, std::min(4096, frames - at));
        r.stopRecording();
        QCOMPARE(r.recordedAudioFrames(), static_cast<std::uint64_t>(frames));
        QVERIFY(r.exportRecordedAudioWav(path, rate));
        QVERIFY(!QFile::exists(path + QStringLiteral(".part")));
        StereoSignal wav;
        int channels = 0;
        QVERIFY(readWav(path, &wav, &channels));
        QCOMPARE(channels, 2);
        QCOMPARE(wav.sampleRate, static_cast<double>(std::max(rate, 8000)));
        QCOMPARE(wav.left.size(), static_cast<std::size_t>(frames));
        for (int i = 0; i < frames; ++i) {
            QVERIFY(qAbs(wav.left[i] * 32768 - std::lround(std::clamp(left[i], -1.0f, 1.0f) * 32767)) <=
                    1.0f);
            QVERIFY(qAbs(wav.right[i] * 32768 - std::lround(right[i] * 32767)) <= 1.0f);
        }
        QVERIFY(!r.exportRecordedAudioWav(m_dir.filePath(QStringLiteral("missing/take.wav")), rate));
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(StudioFilesTest)
#include "tst_studio_files.moc"
