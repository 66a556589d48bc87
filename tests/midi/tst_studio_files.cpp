// The studio's files: exported bytes, a take through mido and back, imports, the WAV.

#include "SmfBytes.h"
#include "midi/MidiRecorder.h"
#include "support/AudioAnalysis.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>

using namespace tmb;
using namespace tmb::test;

Q_DECLARE_METATYPE(std::vector<PianoRollNote>)

namespace {

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

    // The events between the tempo and the end of track, and the tempo, as hex: one beat; the
    // tempo clamped to 30 and 300; a short note keeps 24 ticks; back to back, the off first; a
    // negative start, any track, on channel 1; ticks and tempo truncated; a far start stops at
    // the last tick.
    void exportWritesTheseBytes() {
        const std::tuple<std::vector<PianoRollNote>, double, const char*, const char*> rows[] = {
            {{{1, 0, 60, 100, 0, 1}}, 120.0, "00903C64 8360803C00", "07A120"},
            {{}, 10.0, "", "1E8480"},
            {{}, 500.0, "", "030D40"},
            {{{1, 0, 60, 100, 0, 0.01}}, 100.0, "00903C64 18803C00", "0927C0"},
            {{{2, 0, 62, 80, 1, 1}, {1, 0, 62, 90, 0, 1}},
             120.0,
             "00903E5A 8360803E00 00903E50 8360803E00",
             "07A120"},
            {{{1, 3, 61, 10, -2, 0.5}, {2, 1, 59, 127, 0.75, 0.25}},
             120.0,
             "00903D0A 8170803D00 78903B7F 78803B00",
             "07A120"},
            {{{1, 0, 60, 100, 0.999, 0.5}}, 97.3, "835F903C64 8170803C00", "0968C9"},
            {{{1, 0, 60, 100, 1e9, 1}}, 120.0, "FFFFFF7F903C64 8360803C00", "07A120"}};
        const QString path = m_dir.filePath(QStringLiteral("export.mid"));
        for (const auto& [notes, bpm, events, tempo] : rows) {
            MidiRecorder r;
            r.restoreNotes(notes);
            QVERIFY(r.exportStandardMidiFile(path, bpm));
            const QByteArray data = QByteArray::fromHex(QByteArray("00FF5103") + tempo + events + "00FF2F00");
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll().toHex(' '), (header(0, 1, 480) + track(data)).toHex(' '));
            QVERIFY(!r.exportStandardMidiFile(m_dir.filePath(QStringLiteral("no/such/folder.mid")), bpm));
        }
    }

    // An edited take exported, read by mido, imported again: the same notes each way.
    void editedTakeRoundTripsThroughMido() {
        MidiRecorder r;
        r.prepare(44100);
        QVERIFY(r.startRecording());
        for (int i = 0; i < 40; ++i) { // overlapping notes, a new pitch each
            r.recordMidiEvent(MidiEvent::noteOn(0, 40 + i, 1 + i * 37 % 127));
            for (int block = 0; block < 1 + i % 7; ++block)
                r.processPlaybackBlock(333, 97.3f, [](const MidiEvent&) {});
            if (i > 0) r.recordMidiEvent(MidiEvent::noteOff(0, 39 + i));
        }
        r.recordMidiEvent(MidiEvent::noteOff(0, 79));
        r.stopRecording();
        r.transposeAllNotes(2);
        QVERIFY(r.moveResizeNote(1, 30, 3.3, 0.01, 9)); // shorter than the export's gate
        const QString path = m_dir.filePath(QStringLiteral("take.mid"));
        QVERIFY(r.exportStandardMidiFile(path, 97.3));

        // "tick on|off pitch velocity" of every note event, and the tempo.
        QStringList expected{QStringLiteral("tempo %1").arg(std::trunc(60000000 / 97.3))}, imported;
        for (const PianoRollNote& n : r.snapshotNotes()) {
            const auto on = static_cast<long long>(std::trunc(n.startBeats * 480));
            const auto off = on + static_cast<long long>(std::trunc(std::max(n.durationBeats, 0.05) * 480));
            expected << QStringLiteral("%1 on %2 %3").arg(on).arg(n.pitch).arg(n.velocity)
                     << QStringLiteral("%1 off %2 0").arg(off).arg(n.pitch);
            imported << QStringLiteral("%1 %2 %3 %4")
                            .arg(on)
                            .arg(n.pitch)
                            .arg(n.velocity)
                            .arg(std::max(off - on, 30LL));
        }
        QProcess mido;
        mido.start(QStringLiteral("/usr/bin/python3"),
                   {QStringLiteral("-c"), QStringLiteral(R"(import sys, mido
tick = 0
for msg in mido.MidiFile(sys.argv[1]).tracks[0]:
    tick += msg.time
    if msg.type == 'set_tempo': print('tempo', msg.tempo)
    if msg.type in ('note_on', 'note_off'):
        print(tick, 'on' if msg.type == 'note_on' and msg.velocity else 'off', msg.note, msg.velocity))"),
                    path});
        QVERIFY2(mido.waitForFinished(30000) && mido.exitCode() == 0,
                 mido.readAllStandardError().constData());
        QStringList read = QString::fromUtf8(mido.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        read.sort();
        expected.sort();
        QCOMPARE(read, expected);

        MidiRecorder back;
        QVERIFY(back.importStandardMidiFile(path, nullptr));
        QStringList notes;
        for (const PianoRollNote& n : back.snapshotNotes())
            notes << QStringLiteral("%1 %2 %3 %4")
                         .arg(std::llround(n.startBeats * 480))
                         .arg(n.pitch)
                         .arg(n.velocity)
                         .arg(std::llround(n.durationBeats * 480));
        notes.sort();
        imported.sort();
        QCOMPARE(notes, imported);
    }

    void importReadsOrRefusesHandBuiltFiles() {
        const QByteArray note60 = midiMessage(0, 0x90, 60, 100) + midiMessage(480, 0x80, 60, 0);
        const std::vector<PianoRollNote> oneBeat{{1, 0, 60, 100, 0, 1}};
        QByteArray longHeader = "MThd" + be32(10) + bytes({0, 0, 0, 1, 1, 0xE0, 0xAA, 0xBB, 0xCC, 0xDD});
        // File, read or refused, the notes then held, the tempo read (-1: none): running status with
        // velocity-0 offs; header length 10; SMPTE; no track chunk; a track cut short keeps its
        // notes; tracks merged, held notes dropped, the last tempo wins; a zero tempo is none;
        // division 0 counts 480.
        const std::tuple<QByteArray, bool, std::vector<PianoRollNote>, double> rows[] = {
            {header(0, 1, 96) + track(midiMessage(0, 0x93, 60, 64) +
                                      bytes({0, 64, 80, 96, 60, 0, 48, 64, 0}) + endOfTrack()),
             true,
             {{1, 0, 60, 64, 0, 1}, {2, 0, 64, 80, 0, 1.5}},
             -1.0},
            {longHeader + track(note60 + endOfTrack()), true, oneBeat, -1.0},
            {header(0, 1, 0xE728) + track(note60 + endOfTrack()), false, untouched, -1.0},
            {header(0, 1, 480) + chunk("XFIH", note60), false, untouched, -1.0},
            {header(0, 1, 480) + track(note60 + midiMessage(0, 0x90, 62, 90) + bytes({0x83})), true, oneBeat,
             -1.0},
            {header(1, 2, 240) +
                 track(tempo(0, 500000) + midiMessage(0, 0x91, 60, 30) + midiMessage(60, 0x81, 60, 0) +
                       endOfTrack()) +
                 track(tempo(0, 250000) + midiMessage(240, 0x9F, 48, 40) + midiMessage(10, 0x9F, 48, 0) +
                       midiMessage(0, 0x90, 70, 90) + endOfTrack()),
             true,
             {{1, 0, 60, 30, 0, 0.25}, {2, 0, 48, 40, 1, 0.0625}},
             240.0},
            {header(0, 1, 480) + track(tempo(0, 400000) + tempo(0, 0) + note60 + endOfTrack()), true, oneBeat,
             150.0},
            {header(0, 1, 0) + track(tempo(0, 200000) + note60 + endOfTrack()), true, oneBeat, 300.0}};
        for (const auto& [file, ok, notes, bpm] : rows) {
            const QString path = m_dir.filePath(QStringLiteral("hand.mid"));
            QFile out(path);
            QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(file) == file.size());
            out.close();
            MidiRecorder r;
            r.restoreNotes(untouched);
            double readBpm = -1.0;
            QCOMPARE(r.importStandardMidiFile(path, &readBpm), ok);
            QCOMPARE(sortedByStart(r.snapshotNotes()), sortedByStart(notes));
            QCOMPARE(readBpm, bpm);
            QCOMPARE(r.canUndo(), ok);
            if (ok) {
                QCOMPARE(r.addNote(60, 0, 1, 100, 0),
                         static_cast<std::uint32_t>(notes.size() + 1)); // ids go on from the file's
                QVERIFY(r.undo() && r.undo());
                QCOMPARE(r.snapshotNotes(), untouched);
            }
        }
    }

    // At 48 kHz, and at a rate below 8 kHz (written at 8 kHz).
    void wavHoldsTheTakeAt16Bits() {
        for (const auto& [rate, frames] : {std::pair{48000, 100000}, {100, 70000}}) {
            MidiRecorder r;
            const QString path = m_dir.filePath(QStringLiteral("take.wav"));
            QFile::remove(path);
            QVERIFY(!r.exportRecordedAudioWav(path, rate) && !QFile::exists(path)); // nothing recorded
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
            QVERIFY(readWav(path, &wav, &channels) && channels == 2);
            QCOMPARE(wav.sampleRate, static_cast<double>(std::max(rate, 8000)));
            QCOMPARE(wav.left.size(), static_cast<std::size_t>(frames));
            for (int i = 0; i < frames; ++i) {
                QVERIFY(qAbs(wav.left[i] * 32768 - std::lround(std::clamp(left[i], -1.0f, 1.0f) * 32767)) <=
                        1.0f);
                QVERIFY(qAbs(wav.right[i] * 32768 - std::lround(right[i] * 32767)) <= 1.0f);
            }
            QVERIFY(!r.exportRecordedAudioWav(m_dir.filePath(QStringLiteral("missing/take.wav")), rate));
        }
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(StudioFilesTest)
#include "tst_studio_files.moc"
