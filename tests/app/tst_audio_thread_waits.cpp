// The audio thread never waits for a lock that another thread holds. SoundFont
// notes on every zone and band channel, controllers, bend and drum hits render while
// the GUI thread moves the style band's volumes (controller 7 on channels 3-6,
// through the controller's mixer) and selects programs and kits; then, paced like a
// sound card, while new fonts are handed to both synthesizers as well. The rendering
// thread counts its lock waits and its allocations.

#include "AppTestWorld.h"
#include "app/WorkstationController.h"
#include "support/AllocationCounter.h"
#include "support/LockWaitCounter.h"
#include "support/TestEnvironment.h"

#include <QTest>

#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>
#include <memory>
#include <thread>

using namespace tmb;
using namespace tmb::test;
using namespace Qt::StringLiterals;

namespace {

struct RenderCounts {
    std::size_t waits = 0;
    std::size_t locks = 0;
    std::size_t allocations = 0;
    double worstBlockMs = 0.0;    // wall clock, preemption by other processes included
    double worstBlockCpuMs = 0.0; // the rendering thread's own processor time
    int blocks = 0;
};

double threadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Renders on a thread of its own, playing as a MIDI thread would before each block,
// until `blocks` blocks are done and `keepGoing` says stop; `gui` runs meanwhile on
// this thread. With `paced`, blocks follow the clock of a 48 kHz device.
RenderCounts renderWhile(AudioEngine& engine, int blocks, bool paced, const std::function<bool()>& keepGoing,
                         const std::function<void(int round)>& gui) {
    RenderCounts counts;
    std::atomic<bool> rendering{true};
    std::thread renderer([&] {
        std::vector<float> out(2 * 4096);
        engine.processAudioCallback(out.data(), 256); // first-touch work outside the counts
        const AllocationScope allocations;
        const LockWaitScope locks;
        auto deadline = std::chrono::steady_clock::now();
        int block = 0;
        for (; block < blocks || keepGoing(); ++block) {
            const int note = 36 + block % 48;
            if (block % 4 == 0) {
                engine.submitMidiEvent(MidiEvent::noteOn(0, note, 40 + block % 80));
                engine.submitMidiEvent(MidiEvent::noteOn(3 + block % 4, note, 90));
                engine.submitMidiEvent(MidiEvent::noteOn(9, 35 + block % 12, 100));
            }
            if (block % 4 == 2) {
                engine.submitMidiEvent(MidiEvent::noteOff(0, note - 2));
                engine.submitMidiEvent(MidiEvent::noteOff(3 + (block - 2) % 4, note - 2));
            }
            engine.submitMidiEvent(MidiEvent::controlChange(0, block % 3 == 0 ? 1 : 11, block % 128));
            if (block % 16 == 0)
                engine.submitMidiEvent(MidiEvent::controlChange(0, 64, block % 32 ? 0 : 127));
            engine.submitMidiEvent(MidiEvent::pitchBendEvent(0, (block * 331) % 16384 - 8192));
            const std::uint32_t frames = block % 9 == 0 ? 1024 : block % 2 ? 64 : 256;
            const auto begin = std::chrono::steady_clock::now();
            const double cpuBegin = threadCpuMs();
            engine.processAudioCallback(out.data(), frames);
            const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - begin;
            counts.worstBlockMs = std::max(counts.worstBlockMs, took.count());
            counts.worstBlockCpuMs = std::max(counts.worstBlockCpuMs, threadCpuMs() - cpuBegin);
            if (paced) {
                deadline += std::chrono::microseconds(frames * 1'000'000LL / 48000);
                std::this_thread::sleep_until(deadline);
            }
        }
        counts.blocks = block;
        counts.waits = locks.waits();
        counts.locks = locks.locks();
        counts.allocations = allocations.count();
        rendering = false;
    });
    for (int round = 0; rendering.load(); ++round)
        gui(round);
    renderer.join();
    return counts;
}

} // namespace

class AudioThreadWaitsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { usePrivateHome(); }

    void counterSeesAWait() {
        // Guards the guard: a lock held by another thread is a wait, a free one is not.
        std::mutex mutex;
        std::atomic<bool> held{false}, release{false};
        std::thread holder([&] {
            const std::lock_guard lock(mutex);
            held = true;
            while (!release.load())
                std::this_thread::yield();
        });
        while (!held.load())
            std::this_thread::yield();
        const LockWaitScope scope;
        std::thread([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            release = true;
        }).detach();
        mutex.lock();
        mutex.unlock();
        mutex.lock();
        mutex.unlock();
        holder.join();
        QCOMPARE(scope.locks(), std::size_t{2});
        QCOMPARE(scope.waits(), std::size_t{1});
    }

    void noWaitWhileTheGuiMovesTheBandAndChoosesSounds() {
        PresetWorld world(true);
        WorkstationController c;
        AudioEngine& engine = c.audioEngine();
        FluidSynthEngine& fluid = engine.fluidSynth;
        const QString font = world.soundFonts() + u"/FluidR3_GM.sf2"_s;
        engine.prepareOffline(48000, 256);
        for (int channel = 0; channel < 7; ++channel)
            QVERIFY(fluid.selectProgram(channel, font, 0, channel * 7));
        QVERIFY(fluid.selectDrumKit(font, 128, 0));
        for (int slot = 0; slot < 3; ++slot)
            engine.setSlotEngineType(slot, SoundEngineType::SoundFont);
        engine.updateWorkstationState({.layer2Enabled = true, .splitEnabled = true});

        const RenderCounts counts = renderWhile(
            engine, 10000, false, [] { return false; },
            [&](int round) {
                const float level = static_cast<float>(round % 100) / 100.0f;
                c.setStyleVolume(0.2f + level * 0.8f);
                c.setStyleBassVolume(level);
                c.setStyleChordVolume(1.0f - level);
                c.setStyleLeadVolume(level * 0.5f);
                if (round % 10 == 0) c.setStyleMuted(round % 20 == 0);
                fluid.selectProgram(round % 7, font, 0, round % 128);
                if (round % 50 == 0) fluid.selectDrumKit(font, 128, round % 100 ? 25 : 0);
            });
        qInfo("%d blocks: %zu locks taken, %zu waits, worst block %.2f ms (%.2f ms of processor time)",
              counts.blocks, counts.locks, counts.waits, counts.worstBlockMs, counts.worstBlockCpuMs);
        QCOMPARE(counts.waits, std::size_t{0});
        QCOMPARE(counts.allocations, std::size_t{0});

        // What the GUI sent last is what the band's channels hold.
        c.setStyleMuted(false);
        c.setStyleVolume(0.5f);
        c.setStyleBassVolume(0.9f);
        std::vector<float> out(512);
        engine.processAudioCallback(out.data(), 256);
        QCOMPARE(fluid.controllerValue(4, 7), styleBandChannelVolume(0.5f, 0.9f, false));
    }

    void handOversOfNewFontsKeepTheAudioThreadFromWaiting() {
        PresetWorld world(true);
        WorkstationController c;
        AudioEngine& engine = c.audioEngine();
        FluidSynthEngine& fluid = engine.fluidSynth;
        engine.prepareOffline(48000, 256);
        QVERIFY(fluid.selectProgram(1, world.soundFonts() + u"/FluidR3_GM.sf2"_s, 0, 19)); // organ
        engine.setSlotEngineType(1, SoundEngineType::SoundFont);
        engine.updateWorkstationState({.layer2Enabled = true});
        // Each name is a font neither synthesizer has seen: a hand-over to each.
        QStringList fonts;
        for (int i = 0; i < 6; ++i) {
            fonts << world.soundFonts() + u"/copy%1.sf2"_s.arg(i);
            QVERIFY(QFile::link(smallGeneralMidiFont, fonts.last()));
        }
        std::atomic<int> loaded{0};
        int failed = 0;
        const RenderCounts counts = renderWhile(
            engine, 200, true, [&] { return loaded.load() < fonts.size(); },
            [&](int round) {
                if (round >= fonts.size()) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    return;
                }
                const QString& next = fonts[round];
                failed += fluid.selectProgram(round % 7, next, 0, 40 + round) ? 0 : 1;
                failed += fluid.selectDrumKit(next, 128, round % 2 ? 0 : 25) ? 0 : 1;
                c.setStyleVolume(static_cast<float>(round % 5) / 5.0f);
                ++loaded;
            });
        qInfo("%d paced blocks while %lld fonts were handed over: %zu waits, %llu blocks without the "
              "SoundFont synthesizers, worst block %.2f ms (%.2f ms of processor time)",
              counts.blocks, static_cast<long long>(fonts.size()), counts.waits,
              static_cast<unsigned long long>(fluid.blocksWithoutSynths()), counts.worstBlockMs,
              counts.worstBlockCpuMs);
        QCOMPARE(failed, 0);
        QCOMPARE(counts.waits, std::size_t{0});
        QCOMPARE(counts.allocations, std::size_t{0});
    }
};

QTEST_GUILESS_MAIN(AudioThreadWaitsTest)
#include "tst_audio_thread_waits.moc"
