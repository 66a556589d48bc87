// The drawbar synth renders, steals and releases voices without touching the heap, on
// its own and inside the engine's block callback.

#include "audio/AudioEngine.h"
#include "engines/SynthEngine.h"
#include "support/AllocationCounter.h"

#include <QTest>

#include <random>
#include <thread>
#include <vector>

using namespace tmb;

namespace {

// Notes, pedal, bend, wheels and model changes in a fixed pseudo-random order; 64 keys
// over 32 voices keep the stealing busy.
void playSomething(SynthEngine& synth, std::minstd_rand& random, int block) {
    for (int i = 0; i < 6; ++i) {
        const int note = 30 + static_cast<int>(random() % 64);
        if (random() % 3 == 0)
            synth.noteOff(note);
        else
            synth.noteOn(note, 1 + static_cast<int>(random() % 127), 440.0f);
    }
    if (block % 17 == 0) synth.setSustainPedal(random() % 2 == 0);
    if (block % 29 == 0)
        synth.setPitchBend(static_cast<std::int16_t>(static_cast<int>(random() % 16384) - 8192));
    if (block % 97 == 0) synth.setVoiceModel(static_cast<int>(random() % 10));
    if (block % 501 == 0) synth.allNotesOff();
    synth.modWheel = static_cast<float>(block % 128) / 127.0f;
    synth.aftertouch = static_cast<float>((block / 3) % 128) / 127.0f;
}

} // namespace

class SynthAllocationTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void synthRendersWithoutAllocating() {
        SynthEngine synth;
        std::vector<float> left(4096), right(4096);
        std::size_t allocations = 1;
        int maxVoices = 0;
        std::thread audio([&] {
            std::minstd_rand random(7);
            test::AllocationScope scope;
            for (int block = 0; block < 6000; ++block) {
                playSomething(synth, random, block);
                synth.renderAdding(left.data(), right.data(), block % 11 == 0 ? 4096 : 256);
                maxVoices = std::max(maxVoices, synth.activeVoiceCount());
            }
            allocations = scope.count();
        });
        audio.join();
        QCOMPARE(maxVoices, SynthEngine::voiceCount);
        QCOMPARE(allocations, std::size_t{0});
    }

    void blockCallbackWithHeldSynthVoicesAllocatesNothing() {
        AudioEngine engine;
        engine.prepareOffline(48000, 256);
        std::size_t allocations = 1;
        std::thread audio([&] {
            std::vector<float> out(2 * 4096);
            std::minstd_rand random(11);
            engine.processAudioCallback(out.data(), 256); // first-touch work of the C library
            test::AllocationScope scope;
            for (int block = 0; block < 3000; ++block) {
                for (SynthEngine& synth : engine.synths)
                    playSomething(synth, random, block);
                engine.processAudioCallback(out.data(), 256);
            }
            allocations = scope.count();
        });
        audio.join();
        QCOMPARE(allocations, std::size_t{0});
    }
};

QTEST_GUILESS_MAIN(SynthAllocationTest)
#include "tst_synth_allocations.moc"
