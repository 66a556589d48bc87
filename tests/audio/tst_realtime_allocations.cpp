// The block callback must never allocate. This binary replaces the global
// allocator and counts every allocation made on the rendering thread.

#include "app/Harmonizer.h"
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

    // Notes through every zone and slot type, harmonizer voices in every mode, chord
    // memory, the arpeggiator, pedals, wheels, resets and a stream of parameter
    // pushes, all while blocks render.
    void dispatchArpeggiatorAndPublicationAllocateNothing() {
        AudioEngine engine;
        engine.prepareOffline(48000, 256);
        Harmonizer harmonizer([&engine](const MidiEvent& event, bool) { engine.submitMidiEvent(event); });
        std::atomic<bool> rendering{true};
        std::size_t allocations = 0;

        std::thread renderer([&] {
            std::vector<float> out(2 * 4096);
            engine.processAudioCallback(out.data(), 256);
            test::AllocationScope scope;
            for (int block = 0; block < 20000; ++block)
                engine.processAudioCallback(out.data(), block % 5 == 0 ? 1024 : 128);
            allocations = scope.count();
            rendering = false;
        });

        int round = 0;
        while (rendering) {
            ++round;
            PianoParameters params;
            params.transposeSemitones = round % 5 - 2;
            params.octaveShift = round % 3 - 1;
            params.touchCurve = round % 4;
            params.autoPedalEnabled = round % 7 == 0;
            params.brightness = static_cast<float>(round % 10) / 10.0f;
            engine.updatePianoParameters(params);
            WorkstationState state;
            state.layer2Enabled = round % 2 == 0;
            state.splitEnabled = round % 3 == 0;
            state.velocitySwitchEnabled = round % 11 == 0;
            state.chordMemoryEnabled = round % 4 == 0;
            state.arpeggiatorEnabled = round % 50 < 25;
            state.arpOctaves = 1 + round % 3;
            state.arpMode = round % 2;
            engine.updateWorkstationState(state);
            engine.setSlotEngineType(round % 3, static_cast<SoundEngineType>(round / 3 % 3));

            const int note = 36 + round % 48;
            harmonizer.setEnabled(round % 13 != 0);
            harmonizer.setMode(round / 20 % 5);
            harmonizer.noteOn(note + 1, 1 + round % 127, round % 2 == 0 ? 0 : 7);
            for (int channel : {0, 1, 2, 3, 9})
                engine.submitMidiEvent(MidiEvent::noteOn(channel, note, 1 + round % 127));
            engine.submitMidiEvent(MidiEvent::controlChange(0, 64, round % 2 == 0 ? 127 : 0));
            engine.submitMidiEvent(MidiEvent::controlChange(0, 1, round % 128));
            engine.submitMidiEvent(MidiEvent::pitchBendEvent(0, (round * 97) % 16384 - 8192));
            MidiEvent pressure;
            pressure.status = MidiEvent::ChannelPressure;
            pressure.data1 = static_cast<std::uint8_t>(round % 128);
            engine.submitMidiEvent(pressure);
            std::this_thread::yield();
            for (int channel : {0, 1, 2, 3, 9})
                engine.submitMidiEvent(MidiEvent::noteOff(channel, note));
            harmonizer.noteOff(note + 1, round % 2 == 0 ? 0 : 7);
            if (round % 200 == 0) engine.panicAllNotesOff();
            std::this_thread::yield();
        }
        renderer.join();
        QCOMPARE(allocations, std::size_t{0});
    }
};

QTEST_GUILESS_MAIN(RealtimeAllocationTest)
#include "tst_realtime_allocations.moc"
