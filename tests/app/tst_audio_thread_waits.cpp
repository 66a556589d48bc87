// The audio thread never waits for a lock the GUI holds, nor allocates, while the GUI moves
// volumes, pitch, programs and kits and hands over fonts; the TSan build looks for races.

#include "AppTestWorld.h"
#include "app/WorkstationController.h"
#include "support/OfflineRender.h"
#include "support/TestEnvironment.h"
#ifdef TMB_COUNT_LOCKS
#include "support/AllocationCounter.h"
#include "support/LockWaitCounter.h"
#endif

#include <QTest>

#include <ctime>
#include <functional>

using namespace tmb;
using namespace tmb::test;
using namespace Qt::StringLiterals;

namespace {

#ifdef TMB_COUNT_LOCKS
constexpr int blocksWithoutFonts = 10000;
#else // the sanitizer intercepts allocations and locks itself, and runs slower
constexpr int blocksWithoutFonts = 1000;
struct AllocationScope {
    std::size_t count() const { return 0; }
};
struct LockWaitScope {
    std::size_t locks() const { return 0; }
    std::size_t waits() const { return 0; }
};
#endif

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::duration<double, std::milli>;

struct Counts {
    std::size_t waits = 0, locks = 0, allocations = 0;
    double worstMs = 0.0, worstCpuMs = 0.0; // wall clock, own processor time
    int blocks = 0;
};

double threadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Renders `blocks` blocks or more on a thread, playing as a MIDI thread would, while `gui`
// runs here; `paced` follows a 48 kHz device's clock.
Counts renderWhile(AudioEngine& engine, int blocks, bool paced, const std::function<bool()>& more,
                   const std::function<void(int round)>& gui) {
    Counts counts;
    std::atomic<bool> rendering{true};
    std::thread renderer([&] {
        std::vector<float> out(2 * 4096);
        engine.processAudioCallback(out.data(), 256); // first-touch work outside the counts
        const AllocationScope allocations;
        const LockWaitScope locks;
        Clock::time_point deadline = Clock::now();
        for (int& block = counts.blocks; block < blocks || more(); ++block) {
            const int note = 36 + block % 48, band = 3 + block % 4;
            const bool on = block % 4 == 0;
            engine.submitMidiEvent(on ? MidiEvent::noteOn(0, note, 40 + block % 80)
                                      : MidiEvent::noteOff(0, note - 2));
            engine.submitMidiEvent(on ? MidiEvent::noteOn(band, note, 90)
                                      : MidiEvent::noteOff(band, note - 2));
            if (on) engine.submitMidiEvent(MidiEvent::noteOn(9, 35 + block % 12, 100));
            const int controllers[] = {1, 11, 64}; // modulation, expression, damper
            engine.submitMidiEvent(MidiEvent::controlChange(0, controllers[block % 3], block % 128));
            engine.submitMidiEvent(MidiEvent::pitchBendEvent(0, (block * 331) % 16384 - 8192));
            const std::uint32_t frames = block % 9 == 0 ? 1024 : block % 2 ? 64 : 256;
            const Clock::time_point begin = Clock::now();
            const double cpuBegin = threadCpuMs();
            engine.processAudioCallback(out.data(), frames);
            counts.worstCpuMs = std::max(counts.worstCpuMs, threadCpuMs() - cpuBegin);
            counts.worstMs = std::max(counts.worstMs, Milliseconds(Clock::now() - begin).count());
            if (paced)
                std::this_thread::sleep_until(deadline +=
                                              std::chrono::microseconds(frames * 1000000 / 48000));
        }
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

#ifdef TMB_COUNT_LOCKS
    // Guards the guard: a lock another thread holds is a wait, a free one is not.
    void counterSeesAWait() {
        std::mutex mutex;
        std::atomic<bool> held{false};
        std::thread holder([&] {
            const std::lock_guard lock(mutex);
            held = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        });
        while (!held.load())
            std::this_thread::yield();
        const LockWaitScope scope;
        for (int i = 0; i < 2; ++i) {
            mutex.lock();
            mutex.unlock();
        }
        holder.join();
        QCOMPARE(std::pair(scope.locks(), scope.waits()), std::pair(std::size_t{2}, std::size_t{1}));
    }
#endif

    void noWaitWhileTheGuiMovesTheBandChoosesSoundsAndAddsFonts() {
        PresetWorld world(true);
        WorkstationController c;
        AudioEngine& engine = c.audioEngine();
        FluidSynthEngine& fluid = engine.fluidSynth;
        const QString font = world.soundFonts() + u"/FluidR3_GM.sf2"_s;
        engine.prepareOffline(48000, 256);
        for (int channel = 0; channel < 7; ++channel)
            QVERIFY(fluid.selectProgram(channel, font, 0, channel * 7));
        for (int slot = 0; slot < 3; ++slot)
            engine.setSlotEngineType(slot, SoundEngineType::SoundFont);
        engine.updateWorkstationState({.layer2Enabled = true, .splitEnabled = true});
        const auto moveBandAndChoose = [&](int round) {
            const float level = static_cast<float>(round % 100) / 100.0f;
            c.setStyleVolume(0.2f + level * 0.8f);
            c.setStyleBassVolume(level);
            c.setStyleChordVolume(1.0f - level);
            c.setStyleLeadVolume(level * 0.5f);
            if (round % 10 == 0) c.setStyleMuted(round % 20 == 0);
            fluid.selectProgram(round % 7, font, 0, round % 128);
            if (round % 50 == 0) fluid.selectDrumKit(font, 128, round % 100 ? 25 : 0);
            if (round % 25 == 0) c.setTuningHz(415.0f + static_cast<float>(round % 51)); // concert pitch
        };
        Counts counts = renderWhile(
            engine, blocksWithoutFonts, false, [] { return false; }, moveBandAndChoose);
        qInfo("%d blocks: %zu locks taken, %zu waits, worst block %.2f ms (%.2f ms of processor time)",
              counts.blocks, counts.locks, counts.waits, counts.worstMs, counts.worstCpuMs);
        QCOMPARE(std::pair(counts.waits, counts.allocations), std::pair(std::size_t{0}, std::size_t{0}));
        // What the GUI sent last is what the band's channels hold after the next block.
        c.setStyleMuted(false);
        c.setStyleVolume(0.5f);
        c.setStyleBassVolume(0.9f);
        renderBlocks(engine, 64, 64);
        QCOMPARE(fluid.controllerValue(4, 7), styleBandChannelVolume(0.5f, 0.9f, false));

        // Paced, each round also hands a new font to both synths: a hand-over costs at most
        // the block it meets (a load under the gate would silence most of them).

        QStringList fonts;
        for (int i = 0; i < 6; ++i) {
            fonts << world.soundFonts() + u"/copy%1.sf2"_s.arg(i);
            QVERIFY(QFile::link(smallGeneralMidiFont, fonts.last()));
        }
        std::atomic<int> loaded{0};
        int failed = 0;
        const std::uint64_t skippedBefore = fluid.blocksWithoutSynths();
        counts = renderWhile(
            engine, 200, true, [&] { return loaded.load() < fonts.size(); },
            [&](int round) {
                if (round >= fonts.size()) return std::this_thread::yield();
                failed += !fluid.selectProgram(round % 7, fonts[round], 0, 40 + round);
                failed += !fluid.selectDrumKit(fonts[round], 128, round % 2 ? 0 : 25);
                moveBandAndChoose(round);
                ++loaded;
            });
        const std::uint64_t skipped = fluid.blocksWithoutSynths() - skippedBefore;
        qInfo("%d paced blocks while %lld fonts were handed over: %zu waits, %llu blocks without the "
              "SoundFont synthesizers, worst block %.2f ms (%.2f ms of processor time)",
              counts.blocks, static_cast<long long>(fonts.size()), counts.waits,
              static_cast<unsigned long long>(skipped), counts.worstMs, counts.worstCpuMs);
        QCOMPARE(failed, 0);
        QCOMPARE(std::pair(counts.waits, counts.allocations), std::pair(std::size_t{0}, std::size_t{0}));
        QVERIFY(skipped * 4 < static_cast<std::uint64_t>(counts.blocks));
    }
};

QTEST_GUILESS_MAIN(AudioThreadWaitsTest)
#include "tst_audio_thread_waits.moc"
