// Standard MIDI Files: the reader (hostile input included) and the studio's exports, imports and WAV.

#include "SmfBytes.h"
#include "midi/MidiRecorder.h"
#include "midi/StandardMidiFile.h"
#include "support/AudioAnalysis.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>

using namespace tmb;
using namespace tmb::test;

namespace {

// "tick:status-and-channel data1 data2" of each event, for example "730:8f 64 20".
QStringList eventsOf(const StandardMidiFile& smf) {
    QStringList out;
    for (const SmfChannelEvent& e : smf.events())
        out << QStringLiteral("%1:%2 %3 %4")
                   .arg(e.tick)
                   .arg(e.status | e.channel, 2, 16, QLatin1Char('0'))
                   .arg(e.data1)
                   .arg(e.data2);
    return out;
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

class StandardMidiFileTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // Sysex (both kinds) and unknown chunks, one claiming more bytes than are left, are skipped.
    void readsFormatZeroWithRunningStatusAndEveryChannelMessage() {
        QByteArray events = varLen(0) + bytes({0xFF, 0x03, 0x05}) + "Organ";
        events += bytes({0x00, 0xF0, 0x03, 0x7E, 0x7F, 0xF7});
        events += midiMessage(0, 0x90, 60, 100);              // note on, channel 1
        events += varLen(0) + bytes({64, 90});                // running status
        events += varLen(0) + bytes({0xFF, 0x01, 0x01, 'x'}); // a meta event between
        events += bytes({0x00, 0xF7, 0x02, 0x43, 0x12});      // and a sysex
        events += varLen(480) + bytes({60, 0});     // running status survives them: note on, velocity 0
        events += midiMessage(0, 0xB1, 7, 100);     // controller, channel 2
        events += midiMessage(0, 0xC2, 5);          // program change, channel 3: one data byte
        events += varLen(10) + bytes({6});          // running program change
        events += midiMessage(0, 0xE3, 0x00, 0x40); // pitch bend centre
        events += varLen(0) + bytes({0x7F, 0x7F});  // running: highest bend
        events += varLen(0) + bytes({0x00, 0x00});  // running: lowest bend
        events += midiMessage(0, 0xD4, 77);         // channel pressure, channel 5
        events += midiMessage(0, 0xA5, 61, 33);     // polyphonic pressure, channel 6
        events += midiMessage(240, 0x8F, 64, 20);   // note off, channel 16
        events += endOfTrack(960);

        StandardMidiFile smf;
        QVERIFY(smf.parse(header(0, 1, 480) + chunk("Junk", QByteArray(100, '\xFF')) + track(events) +
                          chunk("Tail", "xx", 0xFFFFFFFF)));
        QVERIFY(smf.format() == 0 && smf.ticksPerQuarter() == 480);
        QCOMPARE(eventsOf(smf), (QStringList{"0:90 60 100", "0:90 64 90", "480:90 60 0", "480:b1 7 100",
                                             "480:c2 5 0", "490:c2 6 0", "490:e3 0 64", "490:e3 127 127",
                                             "490:e3 0 0", "490:d4 77 0", "490:a5 61 33", "730:8f 64 20"}));
        QCOMPARE(QList<int>(
                     {smf.events()[6].pitchBend(), smf.events()[7].pitchBend(), smf.events()[8].pitchBend()}),
                 QList<int>({0, 8191, -8192}));
        const MidiEvent bend = smf.events()[7].toMidiEvent();
        QVERIFY(bend.status == MidiEvent::PitchBend && bend.channel == 3 && bend.pitchBend == 8191);

        // No tempo event: 120 BPM, so a quarter (480 ticks) lasts half a second.
        QCOMPARE(smf.events()[2].seconds, 0.5);
        QCOMPARE(smf.events()[11].seconds, 730 / 960.0);
        QCOMPARE(smf.tracks().size(), std::size_t{1});
        const SmfTrackInfo& info = smf.tracks()[0];
        QVERIFY(info.name == "Organ" && info.channelEvents == 12u && info.endTick == 730 + 960);
        QVERIFY(info.endOfTrackSeen && !info.truncated && !smf.isTruncated() && info.sysExEvents == 2u);
        QVERIFY(smf.durationSeconds() == 1690 / 960.0 && smf.metaEvents().size() == 3);
    }

    void formatOneMergesTracksAndMapsTempoChangesToSeconds() {
        // Conductor: 120 BPM, after two quarters 60 BPM, one quarter later 240 BPM.
        const QByteArray conductor =
            tempo(0, 500000) + tempo(960, 1000000) + tempo(480, 250000) + endOfTrack();
        // Two tempo events at one tick in another track: the later one wins.
        const QByteArray melody = midiMessage(0, 0x90, 60, 100) + midiMessage(960, 0x80, 60, 0) +
                                  midiMessage(480, 0x90, 62, 100) + midiMessage(480, 0x80, 62, 0) +
                                  tempo(480, 400000) + tempo(0, 200000) + midiMessage(0, 0x90, 64, 100) +
                                  midiMessage(480, 0x80, 64, 0) + endOfTrack();
        const QByteArray bass =
            midiMessage(1440, 0x91, 36, 90) + midiMessage(960, 0x81, 36, 0) + endOfTrack();
        StandardMidiFile smf;
        QVERIFY(smf.parse(header(1, 3, 480) + track(conductor) + chunk("XTRA", "ignored") + track(melody) +
                          track(bass)));
        QVERIFY(smf.format() == 1 && smf.tracks().size() == 3 && smf.tracks()[2].channelEvents == 2u);
        // At one tick, the earlier track first.
        QCOMPARE(eventsOf(smf),
                 (QStringList{"0:90 60 100", "960:80 60 0", "1440:90 62 100", "1440:91 36 90", "1920:80 62 0",
                              "2400:90 64 100", "2400:81 36 0", "2880:80 64 0"}));
        QStringList placed; // track and time of each event
        for (const SmfChannelEvent& e : smf.events())
            placed << QStringLiteral("%1@%2").arg(e.track).arg(std::round(e.seconds * 1e9) / 1e9);
        QCOMPARE(placed.join(u' '), u"1@0 1@1 1@2 2@2 1@2.25 1@2.5 2@2.5 1@2.7");

        const std::vector<SmfTempoChange>& map = smf.tempoMap();
        QCOMPARE(map.size(), std::size_t{4});
        QVERIFY(map[0].tick == 0 && map[0].microsecondsPerQuarter == 500000u);
        QVERIFY(map[1].tick == 960 && map[1].seconds == 1.0);  // two quarters at 120
        QVERIFY(map[2].tick == 1440 && map[2].seconds == 2.0); // one quarter at 60
        QVERIFY(map[3].tick == 2400 && map[3].seconds == 2.5 &&
                map[3].bpm() == 300.0); // of two at one tick, the last
        QVERIFY(smf.secondsAtTick(1200) == 1.5 && smf.durationSeconds() == 2.7);
    }

    void smpteDivisionCountsFrames() {
        // 25 frames per second, 40 ticks per frame: 1000 ticks a second; tempo is ignored.
        const QByteArray events = tempo(0, 1000000) + midiMessage(1500, 0x90, 60, 100) + endOfTrack(500);
        StandardMidiFile smf;
        QVERIFY(smf.parse(header(0, 1, 0xE728) + track(events)));
        QVERIFY(smf.ticksPerQuarter() == 0 && smf.smpteTicksPerSecond() == 1000.0 &&
                smf.events().size() == 1);
        QVERIFY(smf.events()[0].seconds == 1.5 && smf.durationSeconds() == 2.0);
    }

    // A bad track between two good ones: both are still read, the bad one flagged with what it kept.
    void flagsTracksCutShort() {
        const QByteArray twoNotes = midiMessage(0, 0x90, 60, 100) + midiMessage(10, 0x80, 60, 0);
        const std::tuple<QByteArray, int, const char*> rows[] = {
            // track, events kept, problem
            {varLen(0) + bytes({60, 100}), 0, "data byte comes before any status"},
            {twoNotes + bytes({0x81, 0x80, 0x80, 0x80, 0x00, 0x90, 60, 1}), 2,
             "longer than four bytes"}, // delta
            {twoNotes + bytes({0x00, 0xFF, 0x01, 0x81, 0x80, 0x80, 0x80, 0x00}), 2,
             "longer than four bytes"}, // meta
            {twoNotes + bytes({0x00, 0xFF, 0x01, 0x8F, 0xFF, 0xFF, 0x7F, 'a'}), 2, "meta event runs past"},
            {twoNotes + bytes({0x00, 0xF0, 0x8F, 0xFF, 0xFF, 0x7F, 0x7E}), 2,
             "system-exclusive event runs past"},
            {twoNotes + bytes({0x00, 0x90, 60}), 2, "runs past the end of the track"},
            {twoNotes + bytes({0x83}), 2, "runs past the end of the track"}, // a delta without an event
            {twoNotes + bytes({0x00, 0x90, 60, 0x90}), 2, "status byte appears where a data byte"},
            {twoNotes + bytes({0x00, 0xF8}), 2, "unexpected status byte 0xf8"}};
        const QByteArray good = midiMessage(0, 0x91, 40, 50) + midiMessage(5, 0x81, 40, 0) + endOfTrack();
        for (const auto& [badTrack, eventsKept, problem] : rows) {
            StandardMidiFile smf;
            QVERIFY(smf.parse(header(1, 3, 96) + track(good) + track(badTrack) + track(good)));
            QVERIFY(!smf.tracks()[0].truncated && smf.tracks()[1].truncated && !smf.tracks()[2].truncated);
            QVERIFY2(smf.tracks()[1].problem.contains(QLatin1String(problem)),
                     qPrintable(smf.tracks()[1].problem));
            QCOMPARE(int(smf.tracks()[1].channelEvents), eventsKept);
            QVERIFY(int(smf.events().size()) == 4 + eventsKept &&
                    smf.truncationReason().startsWith(u"track 2: "));
        }
    }

    void flagsAFileCutShortOrMissingTracks() {
        const QByteArray full = midiMessage(0, 0x90, 60, 100) + midiMessage(96, 0x80, 60, 0) +
                                midiMessage(0, 0x90, 62, 100) + midiMessage(96, 0x80, 62, 0) + endOfTrack();
        const QByteArray file = header(0, 1, 96) + track(full);
        StandardMidiFile smf;
        QVERIFY(smf.parse(file));
        QVERIFY(!smf.isTruncated() && smf.truncationReason().isEmpty());

        // Cut anywhere in the track: what came before survives and the track is flagged.
        for (qsizetype cut = 22 + 1; cut < file.size(); ++cut) {
            QVERIFY(smf.parse(file.left(cut)) && smf.isTruncated());
            QCOMPARE(smf.events().size(),
                     std::size_t(std::min<qsizetype>((cut - 22) / 4, 4))); // 4 bytes each
            QCOMPARE(smf.tracks()[0].problem,
                     QStringLiteral("the track is cut short by the end of the file"));
        }

        // Three tracks declared, two present.
        QVERIFY(smf.parse(header(1, 3, 96) + track(full) + track(full)) && smf.isTruncated());
        QCOMPARE(smf.truncationReason(), QStringLiteral("the file declares 3 tracks but holds 2"));

        // Bytes after end-of-track are not read; without one, the chunk's end completes it.
        QVERIFY(smf.parse(header(0, 1, 96) + track(full + bytes({0x00, 0x90}))));
        QVERIFY(!smf.isTruncated() && smf.events().size() == 4);
        QVERIFY(smf.parse(header(0, 1, 96) + track(full.chopped(4))));
        QVERIFY(!smf.isTruncated() && !smf.tracks()[0].endOfTrackSeen);
    }

    // After a good parse, so the rejection must also leave nothing behind.
    void rejectsWhatIsNotAMidiFile() {
        const std::pair<QByteArray, const char*> rows[] = {
            {QByteArray(), "Not a Standard MIDI File"},
            {QByteArray("RIFF") + be32(36) + "WAVEfmt ", "Not a Standard MIDI File"},
            {QByteArray("MThd"), "Not a Standard MIDI File"},
            {QByteArray("MThd") + be32(4) + bytes({0, 0, 0, 1}), "header is too short"},
            {header(0, 1, 96).left(12), "header is cut short"},
            {QByteArray("MThd") + be32(0xFFFFFFF0) + bytes({0, 0, 0, 1, 0, 96}), "header is cut short"},
            {header(2, 1, 96), "format 2"},
            {header(9, 1, 96), "Unknown MIDI file format 9"},
            {header(0, 1, 0xE928), "SMPTE"},
            {header(0, 1, 0xE700), "SMPTE"}}; // 23 fps; 0 ticks a frame
        for (const auto& [data, error] : rows) {
            StandardMidiFile smf;
            QVERIFY(smf.parse(header(0, 1, 96) + track(midiMessage(0, 0x90, 60, 1) + endOfTrack())));
            QString message;
            QVERIFY(!smf.parse(data, &message));
            QVERIFY2(message.contains(QLatin1String(error)) && !message.contains(u'\n'), qPrintable(message));
            QVERIFY(smf.events().empty() && smf.tracks().empty() && smf.metaEvents().empty());
        }
    }

    void refusesMissingOversizedAndOverfullFiles() {
        QTemporaryDir dir;
        StandardMidiFile smf;
        QString error;
        QVERIFY(!smf.load(dir.filePath(QStringLiteral("absent.mid")), &error) &&
                error.contains("no such file"));
        QVERIFY(!smf.load(dir.path(), &error)); // a folder
        // A sparse file past the limit is refused by its size, before any reading.
        QFile big(dir.filePath(QStringLiteral("big.mid")));
        QVERIFY(big.open(QIODevice::WriteOnly) && big.write(header(0, 1, 96)) > 0);
        QVERIFY(big.resize(StandardMidiFile::maxFileBytes + 1));
        big.close();
        QVERIFY(!smf.load(big.fileName(), &error) && error.contains("too large"));

        // Program changes under running status, two bytes an event, up to the limit and one past it.
        const auto fileWith = [](std::size_t count) {
            QByteArray events = midiMessage(0, 0xC0, 1);
            events.reserve(static_cast<qsizetype>(2 * count + 8));
            for (std::size_t i = 1; i < count; ++i)
                events += bytes({0, 1});
            return header(0, 1, 96) + track(events);
        };
        QVERIFY(smf.parse(fileWith(StandardMidiFile::maxEvents)));
        QCOMPARE(smf.events().size(), StandardMidiFile::maxEvents);
        QVERIFY(!smf.parse(fileWith(StandardMidiFile::maxEvents + 1), &error) && smf.events().empty());
        QVERIFY(error.contains("more than 1000000 events"));
    }

    // The events between the tempo and the end of track, and the tempo, as hex: one beat; the
    // tempo clamped to 30 and 300; a short note keeps 24 ticks; back to back, the off first; a
    // negative start, any track, on channel 1; ticks and tempo truncated; a far start stops at
    // the last tick.
    void exportWritesTheseBytes() {
        // clang-format off
        const std::tuple<std::vector<PianoRollNote>, double, const char*, const char*> rows[] = {
            {{{1, 0, 60, 100, 0, 1}}, 120.0, "00903C64 8360803C00", "07A120"}, {{}, 10.0, "", "1E8480"},
            {{}, 500.0, "", "030D40"}, {{{1, 0, 60, 100, 0, 0.01}}, 100.0, "00903C64 18803C00", "0927C0"},
            {{{2, 0, 62, 80, 1, 1}, {1, 0, 62, 90, 0, 1}}, 120.0, "00903E5A 8360803E00 00903E50 8360803E00", "07A120"},
            {{{1, 3, 61, 10, -2, 0.5}, {2, 1, 59, 127, 0.75, 0.25}}, 120.0, "00903D0A 8170803D00 78903B7F 78803B00", "07A120"},
            {{{1, 0, 60, 100, 0.999, 0.5}}, 97.3, "835F903C64 8170803C00", "0968C9"},
            {{{1, 0, 60, 100, 1e9, 1}}, 120.0, "FFFFFF7F903C64 8360803C00", "07A120"}};
        // clang-format on
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

    void importReadsOrRefusesHandBuiltFiles() {
        const QByteArray note60 = midiMessage(0, 0x90, 60, 100) + midiMessage(480, 0x80, 60, 0);
        const std::vector<PianoRollNote> oneBeat{{1, 0, 60, 100, 0, 1}};
        QByteArray longHeader = "MThd" + be32(10) + bytes({0, 0, 0, 1, 1, 0xE0, 0xAA, 0xBB, 0xCC, 0xDD});
        // File, read or refused, the notes then held, the tempo read (-1: none): running status with
        // velocity-0 offs; header length 10; SMPTE; no track chunk; a track cut short keeps its
        // notes; tracks merged, held notes dropped, the last tempo wins; a zero tempo is none;
        // division 0 counts 480.
        // clang-format off
        const std::tuple<QByteArray, bool, std::vector<PianoRollNote>, double> rows[] = {
            {header(0, 1, 96) + track(midiMessage(0, 0x93, 60, 64) + bytes({0, 64, 80, 96, 60, 0, 48, 64, 0}) + endOfTrack()),
             true, {{1, 0, 60, 64, 0, 1}, {2, 0, 64, 80, 0, 1.5}}, -1.0},
            {longHeader + track(note60 + endOfTrack()), true, oneBeat, -1.0},
            {header(0, 1, 0xE728) + track(note60 + endOfTrack()), false, untouched, -1.0},
            {header(0, 1, 480) + chunk("XFIH", note60), false, untouched, -1.0},
            {header(0, 1, 480) + track(note60 + midiMessage(0, 0x90, 62, 90) + bytes({0x83})), true, oneBeat, -1.0},
            {header(1, 2, 240) + track(tempo(0, 500000) + midiMessage(0, 0x91, 60, 30) + midiMessage(60, 0x81, 60, 0) + endOfTrack()) +
                 track(tempo(0, 250000) + midiMessage(240, 0x9F, 48, 40) + midiMessage(10, 0x9F, 48, 0) + midiMessage(0, 0x90, 70, 90) + endOfTrack()),
             true, {{1, 0, 60, 30, 0, 0.25}, {2, 0, 48, 40, 1, 0.0625}}, 240.0},
            {header(0, 1, 480) + track(tempo(0, 400000) + tempo(0, 0) + note60 + endOfTrack()), true, oneBeat, 150.0},
            {header(0, 1, 0) + track(tempo(0, 200000) + note60 + endOfTrack()), true, oneBeat, 300.0}};
        // clang-format on
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
            QVERIFY(readBpm == bpm && r.canUndo() == ok);
            if (!ok) continue;
            QCOMPARE(r.addNote(60, 0, 1, 100, 0),
                     std::uint32_t(notes.size() + 1)); // ids go on from the file's
            QVERIFY(r.undo() && r.undo() && r.snapshotNotes() == untouched);
        }
    }

    // At 48 kHz, and at a rate below 8 kHz (written at 8 kHz); past full scale clipped, never wrapped.
    void wavHoldsTheTakeAt16Bits() {
        for (const auto& [rate, frames] : {std::pair{48000, 100000}, {100, 70000}}) {
            MidiRecorder r;
            const QString path = m_dir.filePath(QStringLiteral("take.wav"));
            QFile::remove(path);
            QVERIFY(!r.exportRecordedAudioWav(path, rate) && !QFile::exists(path)); // nothing recorded
            std::vector<float> left(static_cast<std::size_t>(frames)), right(left.size());
            for (int i = 0; i < frames; ++i)
                std::tie(left[i], right[i]) = std::pair(std::sin(i * 0.01f) * 1.2f, -0.5f * (i % 7) / 7.0f);
            r.pushAudioStereoBlock(left.data(), right.data(), 16); // not recording: ignored
            r.startRecording();
            for (int at = 0; at < frames; at += 4096)
                r.pushAudioStereoBlock(left.data() + at, right.data() + at, std::min(4096, frames - at));
            r.stopRecording();
            QVERIFY(r.exportRecordedAudioWav(path, rate) && !QFile::exists(path + QStringLiteral(".part")));
            StereoSignal wav;
            int channels = 0;
            QVERIFY(readWav(path, &wav, &channels) && channels == 2);
            QCOMPARE(wav.sampleRate, static_cast<double>(std::max(rate, 8000)));
            QCOMPARE(wav.left.size(), static_cast<std::size_t>(frames));
            for (int i = 0; i < frames; ++i) {
                QVERIFY(qAbs(wav.left[i] * 32768 - std::lround(std::clamp(left[i], -1.0f, 1.0f) * 32767)) <=
                        1);
                QVERIFY(qAbs(wav.right[i] * 32768 - std::lround(right[i] * 32767)) <= 1.0f);
            }
            QVERIFY(!r.exportRecordedAudioWav(m_dir.filePath(QStringLiteral("missing/take.wav")), rate));
        }
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(StandardMidiFileTest)
#include "tst_standard_midi_file.moc"
