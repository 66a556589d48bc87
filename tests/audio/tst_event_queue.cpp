// The realtime event queue: capacity, dropping when full, draining at block start.

#include "audio/AudioEngine.h"

#include <QTest>

using namespace tmb;

class EventQueueTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void holdsTwoThousandFortySevenEventsAndDropsTheNext() {
        AudioEngine engine;
        engine.prepareOffline(48000, 256);
        for (int i = 0; i < 2047; ++i)
            engine.submitMidiEvent(MidiEvent::noteOn(0, 60, 100));
        QCOMPARE(engine.droppedMidiEvents(), std::uint64_t{0});
        engine.submitMidiEvent(MidiEvent::noteOff(0, 60));
        QCOMPARE(engine.droppedMidiEvents(), std::uint64_t{1});

        // One block drains everything that waited; the queue takes events again.
        std::vector<float> out(512);
        engine.processAudioCallback(out.data(), 256);
        for (int i = 0; i < 2047; ++i)
            engine.submitMidiEvent(MidiEvent::noteOff(0, 60));
        QCOMPARE(engine.droppedMidiEvents(), std::uint64_t{1});
    }
};

QTEST_GUILESS_MAIN(EventQueueTest)
#include "tst_event_queue.moc"
