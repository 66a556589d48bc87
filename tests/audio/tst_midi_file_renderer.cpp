// The offline MIDI file renderer: each event reaches the engine right before the
// block that starts at its frame, whatever the block size, and the engine's queue
// never overflows.

#include "../midi/SmfBytes.h"
#include "audio/AudioEngine.h"
#include "audio/MidiFileRenderer.h"

#include <QTest>

#include <cmath>

using namespace tmb;
using namespace tmb::test;

namespace {

// Stands in for the engine: remembers at which frame each event was queued and
// how long each block was.
struct RecordingTarget {
    struct Queued {
        std::uint64_t frame;
        MidiEvent event;
    };
    std::vector<Queued> queued;
    std::vector<std::uint32_t> blocks;
    std::vector<std::size_t> queuedPerBlock;
    std::uint64_t frames = 0;
    std::size_t sinceLastBlock = 0;

    bool run(const MidiFileRenderer& renderer) {
        return renderer.render(
            [this](const MidiEvent& e) {
                queued.push_back({frames, e});
                ++sinceLastBlock;
            },
            [this](float* out, std::uint32_t n) {
                std::fill_n(out, 2 * n, 0.25f);
                blocks.push_back(n);
                queuedPerBlock.push_back(sinceLastBlock);
                sinceLastBlock = 0;
                frames += n;
            },
            [](const float*, std::uint32_t) { return true; });
    }
};

} // namespace

class MidiFileRendererTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void queuesEachEventBeforeTheBlockAtItsFrame_data() {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("block");
        QTest::newRow("44100 / 256") << 44100 << 256;
        QTest::newRow("48000 / 17") << 48000 << 17;
        QTest::newRow("96000 / 4096") << 96000 << 4096;
    }

    void queuesEachEventBeforeTheBlockAtItsFrame() {
        QFETCH(int, rate);
        QFETCH(int, block);

        // 480 ticks a quarter; 120 BPM until tick 960 (1 s), then 90 BPM (1 quarter = 2/3 s).
        const QByteArray conductor = tempo(0, 500000) + tempo(960, 666667) + endOfTrack();
        const QByteArray notes = midiMessage(100, 0x90, 60, 100) + midiMessage(0, 0x91, 64, 90) +
                                 midiMessage(860, 0x80, 60, 0) + midiMessage(1, 0xE0, 0, 0x40) +
                                 midiMessage(479, 0x81, 64, 0) + endOfTrack(240);
        StandardMidiFile file;
        QVERIFY(file.parse(header(1, 2, 480) + track(conductor) + track(notes)));

        const double quarter90 = 0.666667;
        const std::vector<double> seconds = {100 / 960.0, 100 / 960.0, 1.0, 1.0 + quarter90 / 480,
                                             1.0 + quarter90};
        MidiFileRenderer renderer(file, {std::uint32_t(rate), std::uint32_t(block), 0.5});
        QCOMPARE(renderer.totalFrames(), std::uint64_t(std::llround((1.0 + 1.5 * quarter90) * rate)) +
                                             std::uint64_t(std::llround(0.5 * rate)));

        RecordingTarget target;
        QVERIFY(target.run(renderer));
        QCOMPARE(target.frames, renderer.totalFrames());
        for (std::uint32_t n : target.blocks)
            QVERIFY(n >= 1 && n <= std::uint32_t(block));
        QCOMPARE(target.queued.size(), seconds.size());
        for (std::size_t i = 0; i < seconds.size(); ++i)
            QCOMPARE(target.queued[i].frame, std::uint64_t(std::llround(seconds[i] * rate)));
        QCOMPARE(target.queued[0].event.status, MidiEvent::NoteOn);
        QCOMPARE(target.queued[1].event.channel, std::uint8_t{1});
        QCOMPARE(target.queued[3].event.status, MidiEvent::PitchBend);
        QCOMPARE(target.queued[4].event.data1, std::uint8_t{64});
    }

    void spillsMoreEventsThanTheQueueHoldsToLaterFrames() {
        // 5000 events at one tick: the engine takes 2047 a block.
        QByteArray notes = midiMessage(48, 0x90, 0, 1);
        for (int i = 1; i < 5000; ++i)
            notes += varLen(0) + bytes({i % 128, 1});
        notes += endOfTrack(96);
        StandardMidiFile file;
        QVERIFY(file.parse(header(0, 1, 96) + track(notes)));

        MidiFileRenderer renderer(file, {48000, 256, 0.1});
        RecordingTarget target;
        QVERIFY(target.run(renderer));
        QCOMPARE(target.queued.size(), std::size_t{5000});
        const std::uint64_t at = 12000; // a quarter at 120 BPM
        QCOMPARE(target.queued.front().frame, at);
        QCOMPARE(target.queued[2046].frame, at);
        QCOMPARE(target.queued[2047].frame, at + 1);
        QCOMPARE(target.queued.back().frame, at + 2);
        for (std::size_t n : target.queuedPerBlock)
            QVERIFY(n <= config::midiQueueSlots - 1);

        // Through the real engine nothing is dropped.
        AudioEngine engine;
        engine.prepareOffline(48000, 256);
        std::uint64_t frames = 0;
        QVERIFY(renderer.render(engine, [&frames](const float*, std::uint32_t n) {
            frames += n;
            return true;
        }));
        QCOMPARE(frames, renderer.totalFrames());
        QCOMPARE(engine.droppedMidiEvents(), std::uint64_t{0});
    }

    void aFailingSinkStopsTheRender() {
        StandardMidiFile file;
        QVERIFY(file.parse(header(0, 1, 96) + track(midiMessage(0, 0x90, 60, 1) + endOfTrack(960))));
        MidiFileRenderer renderer(file, {48000, 64, 1.0});
        int blocks = 0;
        QVERIFY(!renderer.render([](const MidiEvent&) {}, [](float*, std::uint32_t) {},
                                 [&blocks](const float*, std::uint32_t) { return ++blocks < 3; }));
        QCOMPARE(blocks, 3);
    }
};

QTEST_GUILESS_MAIN(MidiFileRendererTest)
#include "tst_midi_file_renderer.moc"
