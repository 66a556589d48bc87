// A minute of loud, noisy music through the whole engine while another thread
// changes every effect setting as fast as it can: the output stays finite, the
// audio thread allocates nothing (in the build with the allocation counter) and
// ThreadSanitizer finds no race (in the tsan build).

#include "audio/AudioEngine.h"

#ifdef TMB_COUNT_ALLOCATIONS
#include "support/AllocationCounter.h"
#endif

#include <QFile>
#include <QTest>

#include <atomic>
#include <cmath>
#include <random>
#include <thread>

using namespace tmb;

namespace {

const QString font = QStringLiteral("/usr/share/sounds/sf2/TimGM6mb.sf2");

#ifdef TMB_SANITIZER_BUILD
constexpr int seconds = 15; // the sanitized build runs several times slower
#else
constexpr int seconds = 60;
#endif

PianoParameters randomParameters(std::mt19937& random) {
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::uniform_real_distribution<float> wild(-2.0f, 3.0f); // beyond every range, to test the clamps
    PianoParameters p;
    p.brightness = unit(random);
    p.lidPosition = unit(random);
    p.reverbAmount = unit(random);
    p.reverbRoomSize = wild(random);
    p.damperResonance = unit(random);
    p.chorusAmount = unit(random);
    p.delayAmount = unit(random);
    p.delayTime = wild(random);
    p.driveAmount = unit(random);
    p.compressorAmount = unit(random);
    p.stereoWidth = wild(random);
    p.sustainPedal = unit(random) > 0.5f;
    return p;
}

} // namespace

class EffectsRealtimeTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void noisyMinuteWithSettingsChangingEveryBlock() {
        if (!QFile::exists(font)) QSKIP("timgm6mb-soundfont is not installed");
        AudioEngine engine;
        // Noise-like patches (seashore, applause, breath) held loud, plus notes and drums.
        QVERIFY(engine.fluidSynth.selectProgram(0, font, 0, 122));
        QVERIFY(engine.fluidSynth.selectProgram(1, font, 0, 126));
        QVERIFY(engine.fluidSynth.selectProgram(2, font, 0, 0));
        QVERIFY(engine.fluidSynth.selectDrumKit(font, 128, 0));
        engine.prepareOffline(48000, 256);
        engine.setChannelVolume(MixerChannelId::Piano, 1.2f);
        engine.setChannelVolume(MixerChannelId::Master, 1.2f);

        std::atomic<bool> rendering{true};
        std::atomic<std::uint64_t> blocksDone{0};
        std::atomic<std::uint64_t> recordsPushed{0};
        std::size_t allocations = 0;
        std::size_t badSamples = 0;
        float loudest = 0.0f;

        std::thread audio([&] {
            std::vector<float> out(2 * 4096);
            std::mt19937 random(11);
            FluidSynthEngine& sf = engine.fluidSynth;
            // Warm-up outside the count: first-touch work of the C library.
            engine.processAudioCallback(out.data(), 256);
#ifdef TMB_COUNT_ALLOCATIONS
            test::AllocationScope scope;
#endif
            sf.noteOn(0, 60, 127);
            sf.noteOn(1, 64, 127);
            const std::uint64_t blocks = std::uint64_t{seconds} * 48000 / 256;
            for (std::uint64_t block = 0; block < blocks; ++block) {
                // Lockstep with the GUI side, so that every block starts with a new
                // record (the harness waits here; the engine itself never does).
                while (recordsPushed.load(std::memory_order_acquire) < block)
                    std::this_thread::yield();
                if (block % 8 == 0) sf.noteOn(2, 36 + static_cast<int>(random() % 60), 127);
                if (block % 8 == 4) sf.allNotesOff(2);
                if (block % 5 == 0) sf.drumNoteOn(35 + static_cast<int>(random() % 20), 127);
                if (block % 400 == 0) engine.triggerTestTone();
                const std::uint32_t frames = block % 97 == 0 ? 4096 : 256;
                engine.processAudioCallback(out.data(), frames);
                for (std::uint32_t i = 0; i < 2 * frames; ++i) {
                    if (!std::isfinite(out[i])) ++badSamples;
                    loudest = std::max(loudest, std::fabs(out[i]));
                }
                blocksDone.store(block + 1, std::memory_order_release);
            }
#ifdef TMB_COUNT_ALLOCATIONS
            allocations = scope.count();
#endif
            rendering = false;
        });

        // The GUI side: a new whole record for every block the audio thread renders.
        std::mt19937 random(5);
        std::uint64_t seen = 0;
        while (rendering.load()) {
            const std::uint64_t done = blocksDone.load(std::memory_order_acquire);
            if (done != seen) {
                seen = done;
                engine.updatePianoParameters(randomParameters(random));
                recordsPushed.store(done, std::memory_order_release);
            } else {
                std::this_thread::yield();
            }
        }
        audio.join();
        engine.updatePianoParameters(PianoParameters{});

        QCOMPARE(badSamples, std::size_t{0});
        QVERIFY2(loudest > 0.5f, qPrintable(QString::number(loudest)));
        QVERIFY(recordsPushed.load() + 1 >= std::uint64_t{seconds} * 48000 / 256);
        QCOMPARE(allocations, std::size_t{0});
    }
};

QTEST_GUILESS_MAIN(EffectsRealtimeTest)
#include "tst_effects_realtime.moc"
