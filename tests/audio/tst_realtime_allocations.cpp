// The block callback must never allocate. This binary replaces the global
// allocator and counts every allocation made on the rendering thread.

#include "audio/AudioEngine.h"
#include "support/AllocationCounter.h"

#include <QTest>

#include <atomic>
#include <thread>

using namespace tmb;

class RealtimeAllocationTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void counterSeesAllocations() {
        // Guards the guard: an allocation inside a scope must be counted.
        // The volatile pointer keeps the compiler from eliding the pairs.
        static void* volatile escape = nullptr;
        test::AllocationScope scope;
        escape = new int(3);
        delete static_cast<int*>(escape);
        escape = std::malloc(16);
        std::free(escape);
        QCOMPARE(scope.count(), std::size_t{2});
    }

    void tenThousandBlocksAllocateNothing() {
        AudioEngine engine;
        engine.prepareOffline(48000, 256);
        std::atomic<bool> rendering{true};
        std::size_t allocations = 0;

        std::thread renderer([&] {
            std::vector<float> out(2 * 4096);
            // Warm-up outside the count: first-touch work of the C library (for
            // example the steady clock's vDSO lookup) is not part of the block path.
            engine.processAudioCallback(out.data(), 256);
            test::AllocationScope scope;
            for (int block = 0; block < 10000; ++block) {
                if (block % 500 == 0) engine.triggerTestTone();
                engine.processAudioCallback(out.data(), block % 7 == 0 ? 4096 : 256);
            }
            allocations = scope.count();
            rendering = false;
        });

        // Meters and parameters are read and written concurrently, as the GUI does.
        while (rendering) {
            volatile float sum = engine.channelPeakL(MixerChannelId::Piano) +
                                 engine.channelPeakR(MixerChannelId::Master) + engine.cpuLoadPercent.load();
            (void)sum;
            engine.updatePianoParameters(PianoParameters{});
            engine.updateWorkstationState(WorkstationState{});
            engine.submitMidiEvent(MidiEvent::noteOn(0, 60, 90));
            engine.submitMidiEvent(MidiEvent::noteOff(0, 60));
            std::this_thread::yield();
        }
        renderer.join();
        QCOMPARE(allocations, std::size_t{0});
    }
};

QTEST_GUILESS_MAIN(RealtimeAllocationTest)
#include "tst_realtime_allocations.moc"
