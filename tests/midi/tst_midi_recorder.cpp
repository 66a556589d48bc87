// The studio recorder without the engine.

#include "midi/MidiRecorder.h"

#include <QTest>

#include <array>
#include <chrono>
#include <random>
#include <thread>

using namespace tmb;

namespace {

struct Sink {
    std::vector<MidiEvent> events;
    void operator()(const MidiEvent& e) { events.push_back(e); }
    // Note-ons minus note-offs sent for each pitch.
    std::array<int, 128> balance() const {
        std::array<int, 128> b{};
        for (const MidiEvent& e : events)
            b[e.data1] += e.status == MidiEvent::NoteOn ? 1 : -1;
        return b;
    }
};

void blocks(MidiRecorder& r, int count, std::uint32_t frames, float bpm, Sink& sink) {
    for (int i = 0; i < count; ++i)
        r.processPlaybackBlock(frames, bpm, sink);
}

// Frame n of a numbered take: unique for 2^31 frames, exact in float and 16 bits.
float leftOf(std::uint64_t n) {
    return static_cast<float>(static_cast<double>(n % 65536) / 32768.0 - 1.0);
}
float rightOf(std::uint64_t n) {
    return static_cast<float>(static_cast<double>((n / 65536) % 32768) / 16384.0 - 1.0);
}

} // namespace

class MidiRecorderTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void editsClampQuantizeAndKeepIds() {
        // Start, duration, grid, strength, and start and duration after.
        const double rows[][6] = {{1.13, 0.2, 0.25, 1, 1.25, 0.25}, {1.13, 0.2, 0.25, 0.5, 1.19, 0.225},
                                  {1.13, 0.2, 0.25, 4, 1.25, 0.25}, {2.9, 0.1, 0.5, 1, 3.0, 0.5},
                                  {0.37, 0.6, 0.25, 1, 0.25, 0.5},  {1.13, 0.2, 0.01, 1, 1.13, 0.2}};
        for (const auto& [start, duration, grid, strength, start2, duration2] : rows) {
            MidiRecorder r;
            r.restoreNotes({{7, 0, 60, 90, start, duration}});
            r.quantizeNotes(grid, float(strength));
            const PianoRollNote note = r.snapshotNotes().at(0);
            QVERIFY(qAbs(note.startBeats - start2) < 1e-9 && qAbs(note.durationBeats - duration2) < 1e-9);
            QCOMPARE(r.canUndo(), grid > 0.01); // a grid too fine changes nothing
        }

        MidiRecorder r;
        r.restoreNotes({{3, 0, 60, 80, 0, 1}, {9, 2, 62, 81, 1, 1}});
        QCOMPARE(r.addNote(-5, -1.0, 0.01, 0, 0), 10u);
        QCOMPARE(r.snapshotNotes().back(), (PianoRollNote{10, 0, 0, 1, 0.0, 0.0625}));
        QCOMPARE(r.addNote(200, 2, 3, 300, 1), 11u);
        QCOMPARE(r.snapshotNotes().back(), (PianoRollNote{11, 1, 127, 127, 2.0, 3.0}));
        QVERIFY(r.moveResizeNote(3, 64, 4, 2, 0)); // velocity 0 keeps the old one
        QVERIFY(r.moveResizeNote(9, 300, -2, 0, 500));
        QCOMPARE(r.snapshotNotes().front(), (PianoRollNote{3, 0, 64, 80, 4.0, 2.0}));
        QCOMPARE(r.snapshotNotes().at(1), (PianoRollNote{9, 2, 127, 127, 0.0, 0.0625}));
        while (r.undo())
            QVERIFY(r.canRedo());
        QVERIFY(!r.moveResizeNote(99, 60, 0, 1, 1) && !r.deleteNote(99));
        r.transposeAllNotes(0);
        QVERIFY(!r.canUndo()); // failed and empty edits leave no history
        QVERIFY(r.deleteNote(9) && r.noteCount() == 1);
        r.restoreNotes({{1, 0, 10, 80, 0, 1}, {2, 0, 120, 80, 0, 1}});
        r.transposeAllNotes(-20);
        QCOMPARE(QList<int>({r.snapshotNotes().at(0).pitch, r.snapshotNotes().at(1).pitch}),
                 QList<int>({0, 100}));
        // Ids start again from 1; the history keeps the latest 32 edits.
        r.restoreNotes({});
        for (int i = 0; i < 33; ++i)
            QCOMPARE(r.addNote(40 + i, i, 1, 100, 0), std::uint32_t(i + 1));
        int undos = 0, redos = 0;
        for (; r.undo(); ++undos) {
        }
        QCOMPARE(r.noteCount(), 1); // the first add is beyond the history
        for (; r.redo(); ++redos) {
        }
        QVERIFY(undos == 32 && redos == 32 && r.noteCount() == 33 && r.undo());
        r.transposeAllNotes(1); // a new edit forgets what could be redone
        QVERIFY(!r.canRedo() && r.snapshotNotes().at(0).pitch == 41);
    }

    void recordsOnTheTransportClock() {
        MidiRecorder r;
        r.prepare(44100);
        Sink sink;
        QVERIFY(r.startRecording());
        QVERIFY(!r.startRecording());
        const auto beat = [&](double beats) { // advance at 90 BPM in 490-frame blocks (60 a beat)
            blocks(r, static_cast<int>(beats * 44100 * 60 / 90 / 490 + 0.5), 490, 90, sink);
        };
        r.recordMidiEvent(MidiEvent::noteOn(0, 60, 90), 2);
        r.recordMidiEvent(MidiEvent::noteOff(0, 71)); // never started: ignored
        beat(1);
        r.recordMidiEvent(MidiEvent::controlChange(0, 64, 127));
        r.recordMidiEvent(MidiEvent::noteOn(0, 60, 0), 2); // velocity 0 ends it
        r.recordMidiEvent(MidiEvent::noteOn(0, 62, 50));
        r.recordMidiEvent(MidiEvent::noteOff(0, 62)); // a tap still lasts 0.1 beat
        MidiEvent high = MidiEvent::noteOn(0, 0, 70);
        high.data1 = 200;
        r.recordMidiEvent(high);
        beat(0.05);
        r.stopRecording();                               // the held one lasts at least 0.125 beat
        r.recordMidiEvent(MidiEvent::noteOn(0, 65, 90)); // not recording any more
        QVERIFY(sink.events.empty());

        // 60 held a beat on track 2, a tap, and 127 held when the take ends.
        const std::vector<PianoRollNote> expected = {
            {1, 2, 60, 90, 0, 1}, {2, 0, 62, 50, 1, 0.1}, {3, 0, 127, 70, 1, 0.125}};
        std::vector<PianoRollNote> notes = r.snapshotNotes();
        for (PianoRollNote& n : notes)
            std::tie(n.startBeats, n.durationBeats) =
                std::pair(std::round(n.startBeats * 100) / 100, std::round(n.durationBeats * 1000) / 1000);
        QCOMPARE(notes, expected);
        QCOMPARE(r.controlEvents().size(), std::size_t{1});
        QCOMPARE(r.controlEvents()[0].controller * 1000 + std::lround(r.controlEvents()[0].beat * 100),
                 64100);
        QVERIFY(r.undo() && r.noteCount() == 0 && r.controlEvents().size() == 1); // the take as a whole
        QVERIFY(r.redo());
        r.clearAllNotes();
        QVERIFY(r.controlEvents().empty());
    }

    void loopWrapsAndReplaysItsStart() {
        MidiRecorder r;
        r.prepare(96000); // 960-frame blocks at 120 BPM: 0.02 beats each
        r.setLoopBeats(4, 8);
        r.restoreNotes({{1, 0, 60, 100, 4.0, 0.5}, {2, 0, 64, 100, 7.5, 2.0}, {3, 0, 67, 100, 7.5, 0.25}});
        Sink sink;
        r.seekPlayhead(7.99);
        r.startPlayback();
        r.processPlaybackBlock(960, 120, sink); // loop off: runs on past 8
        QVERIFY(qAbs(r.playheadBeats() - 8.01) < 1e-9);
        r.setLoopEnabled(true);
        r.seekPlayhead(7.41);
        blocks(r, 30, 960, 120, sink); // 7.41 + 0.6: wraps to 4.01 once
        QVERIFY(qAbs(r.playheadBeats() - 4.01) < 1e-9);
        r.processPlaybackBlock(960, 120, sink);
        QVERIFY(qAbs(r.playheadBeats() - 4.03) < 1e-9);
        // 64 starts at 7.5 and is released at the wrap, 67 ends before it (released once); 60 at the
        // loop start sounds again.
        QVERIFY(sink.balance()[64] == 0 && sink.balance()[67] == 0 && sink.balance()[60] == 1 &&
                sink.events.front().data1 == 64);
        QVERIFY(sink.events.back().status == MidiEvent::NoteOn && sink.events.back().data1 == 60);
        r.setLoopBeats(-3, -1); // start at 0, end at least one beat later
        QVERIFY(r.loopStartBeats() == 0.0 && r.loopEndBeats() == 1.0);
        r.stopPlayback();
        QCOMPARE(r.playheadBeats(), 0.0);
    }

    // A long take at 20x real time in varying blocks: every frame kept, in order.
    void longTakeKeepsEveryFrame() {
#ifdef TMB_SANITIZER_BUILD
        constexpr std::uint64_t minutes = 1;
#else
        constexpr std::uint64_t minutes = 10;
#endif
        constexpr double rate = 48000;
        const std::uint64_t total = static_cast<std::uint64_t>(rate) * 60 * minutes;
        MidiRecorder r;
        r.prepare(rate);
        QVERIFY(r.startRecording());
        std::thread producer([&] {
            std::vector<float> left(4096), right(4096);
            std::mt19937 sizes(5);
            const auto begin = std::chrono::steady_clock::now();
            for (std::uint64_t n = 0; n < total;) {
                const auto frames =
                    static_cast<std::uint32_t>(std::min<std::uint64_t>(total - n, 64 + sizes() % 4033));
                for (std::uint32_t i = 0; i < frames; ++i) {
                    left[i] = leftOf(n + i);
                    right[i] = rightOf(n + i);
                }
                r.pushAudioStereoBlock(left.data(), right.data(), frames);
                n += frames;
                std::this_thread::sleep_until(begin + std::chrono::duration<double>(n / (20 * rate)));
            }
        });
        producer.join();
        r.stopRecording();
        QCOMPARE(r.droppedAudioFrames(), std::uint64_t{0});
        QCOMPARE(r.recordedAudioFrames(), total);
        std::uint64_t n = 0;
        const bool inOrder = r.capturedAudio().readStored([&n](const float* data, std::size_t frames) {
            for (std::size_t i = 0; i < frames; ++i, ++n)
                if (data[2 * i] != leftOf(n) || data[2 * i + 1] != rightOf(n)) return false;
            return true;
        });
        QVERIFY(inOrder && n == total);
    }
};

QTEST_GUILESS_MAIN(MidiRecorderTest)
#include "tst_midi_recorder.moc"
