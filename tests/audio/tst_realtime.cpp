// The audio thread loaded as the GUI loads it: no allocation (counter build), no race (TSan),
// whole records in order, pedals kept, finite output.

#include "app/Harmonizer.h"
#include "audio/AudioEngine.h"

#ifdef TMB_COUNT_ALLOCATIONS
#include "support/AllocationCounter.h"
#endif

#include <QFile>
#include <QTest>

#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>

using namespace tmb;

namespace {

#ifdef TMB_COUNT_ALLOCATIONS
using AllocationCount = test::AllocationScope;
#else
struct AllocationCount { // the sanitizer builds replace the allocator themselves
    std::size_t count() const { return 0; }
};
#endif

// The sanitized builds run several times slower; there the runs look for races only.
#ifdef TMB_SANITIZER_BUILD
constexpr int dispatchBlocks = 2000;
#else
constexpr int dispatchBlocks = 20000;
#endif

// Renders `blocks` blocks on a thread while `gui` loops here; the render thread's allocations.
std::size_t renderWhile(AudioEngine& engine, int blocks, const std::function<std::uint32_t(int)>& beforeBlock,
                        const std::function<void()>& gui,
                        const std::function<void(const float*, std::uint32_t)>& afterBlock = {}) {
    std::atomic<bool> rendering{true};
    std::size_t allocations = 0;
    std::thread renderer([&] {
        std::vector<float> out(2 * 4096);
        engine.processAudioCallback(out.data(), 256); // first-touch work of the C library
        AllocationCount scope;
        for (int block = 0; block < blocks; ++block) {
            const std::uint32_t frames = beforeBlock(block);
            engine.processAudioCallback(out.data(), frames);
            if (afterBlock) afterBlock(out.data(), frames);
        }
        allocations = scope.count();
        rendering = false;
    });
    while (rendering)
        gui();
    renderer.join();
    return allocations;
}

// Sets every field but the pedals to k, so a torn record shows.
void number(PianoParameters& p, int k) {
    const auto f = static_cast<float>(k);
    p.brightness = p.damperResonance = p.stringResonance = p.keyOffVolume = p.pedalNoiseVolume = f;
    p.lidPosition = p.reverbAmount = p.reverbRoomSize = p.chorusAmount = p.delayAmount = f;
    p.delayTime = p.driveAmount = p.compressorAmount = p.stereoWidth = p.tuningHz = f;
    p.transposeSemitones = p.octaveShift = p.touchCurve = k;
    p.autoPedalEnabled = k % 2 == 0;
    p.invertPedalPolarity = k % 3 == 1;
}
void number(WorkstationState& s, int k) {
    s.splitKey = s.velocityThreshold = s.arpMode = s.arpOctaves = s.layer2OctaveOffset = s.splitOctaveOffset =
        k;
    s.layer2Enabled = s.splitEnabled = s.velocitySwitchEnabled = s.chordMemoryEnabled = k % 2 == 1;
}
template <typename Record>
Record numbered(int k) {
    Record r;
    number(r, k);
    return r;
}

// The number a block's record carries, or -1 when its fields disagree.
template <typename Record>
int numberOf(const Record& live, int k) {
    Record expected;
    std::memcpy(&expected, &live, sizeof live); // the pedals and the padding as they are
    number(expected, k);
    return std::memcmp(&expected, &live, sizeof live) == 0 ? k : -1;
}

} // namespace

class RealtimeTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
#ifdef TMB_COUNT_ALLOCATIONS
    void counterSeesAllocations() { // the volatile pointer keeps the pairs from being elided
        static void* volatile escape = nullptr;
        test::AllocationScope scope;
        escape = new int(3);
        delete static_cast<int*>(escape);
        escape = std::malloc(16);
        std::free(escape);
        QCOMPARE(scope.count(), std::size_t{2});
    }
#endif

    // Tone, every zone, slot type and harmonizer mode, arpeggiator, pedals, wheels, resets
    // and pushes beyond range while blocks render: finite samples, no allocation.
    void dispatchArpeggiatorAndPublicationAllocateNothing() {
        AudioEngine engine;
        engine.prepareOffline(48000, 256);
        Harmonizer harmonizer([&engine](const MidiEvent& event, bool) { engine.submitMidiEvent(event); });
        int round = 0;
        std::size_t badSamples = 0;
        const std::size_t allocations = renderWhile(
            engine, dispatchBlocks,
            [&engine](int block) -> std::uint32_t {
                if (block % 500 == 0) engine.triggerTestTone();
                return block % 7 == 0 ? 4096 : block % 5 == 0 ? 1024 : 128;
            },
            [&] {
                ++round;
                [[maybe_unused]] volatile float meters = engine.channelPeakL(MixerChannelId::Piano) +
                                                         engine.channelPeakR(MixerChannelId::Master) +
                                                         engine.cpuLoadPercent.load();
                const auto wild = static_cast<float>(round % 6) - 2.0f; // -2 to 3
                engine.updatePianoParameters({.brightness = static_cast<float>(round % 10) / 10.0f,
                                              .reverbRoomSize = wild,
                                              .delayTime = wild,
                                              .stereoWidth = wild,
                                              .transposeSemitones = round % 5 - 2,
                                              .octaveShift = round % 3 - 1,
                                              .touchCurve = round % 4,
                                              .autoPedalEnabled = round % 7 == 0});
                engine.updateWorkstationState({.layer2Enabled = round % 2 == 0,
                                               .splitEnabled = round % 3 == 0,
                                               .velocitySwitchEnabled = round % 11 == 0,
                                               .arpeggiatorEnabled = round % 50 < 25,
                                               .arpMode = round % 2,
                                               .arpOctaves = 1 + round % 3,
                                               .chordMemoryEnabled = round % 4 == 0});
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
                MidiEvent pressure = MidiEvent::controlChange(0, round % 128, 0);
                pressure.status = MidiEvent::ChannelPressure;
                engine.submitMidiEvent(pressure);
                std::this_thread::yield();
                for (int channel : {0, 1, 2, 3, 9})
                    engine.submitMidiEvent(MidiEvent::noteOff(channel, note));
                harmonizer.noteOff(note + 1, round % 2 == 0 ? 0 : 7);
                if (round % 200 == 0) engine.panicAllNotesOff();
                std::this_thread::yield();
            },
            [&badSamples](const float* out, std::uint32_t frames) {
                for (std::uint32_t i = 0; i < 2 * frames; ++i)
                    badSamples += !std::isfinite(out[i]);
            });
        QCOMPARE(std::pair(badSamples, allocations), std::pair(std::size_t{0}, std::size_t{0}));
    }

    // The drum sequencer and click while the GUI changes everything it can, and the studio
    // recorder playing edited notes in a loop; then the recorder capturing a take.
    void sequencerClickAndStudioAllocateNothing() {
        const QString font = QStringLiteral("/usr/share/sounds/sf2/TimGM6mb.sf2");
        if (!QFile::exists(font)) QSKIP("timgm6mb-soundfont is not installed");
        AudioEngine engine;
        QVERIFY(engine.fluidSynth.selectDrumKit(font, 128, 0));
        engine.prepareOffline(48000, 256);
        BeatSequencer& sequencer = engine.beatSequencer;
        sequencer.initBuiltinStyles();
        sequencer.selectStyle(8);
        sequencer.setMetronomeEnabled(true);
        sequencer.setPlaying(true);
        MidiRecorder& recorder = engine.midiRecorder;
        for (int i = 0; i < 64; ++i)
            recorder.addNote(40 + i % 40, i * 0.25, 0.2 + (i % 5) * 0.3, 90, 0);
        recorder.setLoopBeats(0, 4);
        recorder.setLoopEnabled(true);
        recorder.startPlayback();
        int round = 0;
        float loudest = 0.0f;
        const auto frames = [](int block) -> std::uint32_t {
            return block % 7 == 0 ? 4096 : block % 3 == 0 ? 1 : 128;
        };
        const std::size_t playing = renderWhile(
            engine, dispatchBlocks, frames,
            [&] {
                ++round;
                sequencer.setBpm(static_cast<float>(40 + round % 201));
                sequencer.setSwing(static_cast<float>(round % 4) * 0.25f);
                sequencer.setHumanize(static_cast<float>(round % 3) * 0.5f);
                if (round % 50 == 0) sequencer.setSection(round / 50 % 7);
                if (round % 70 == 0) sequencer.triggerFill();
                if (round % 300 == 0) sequencer.selectStyle(round / 300 % 35);
                sequencer.toggleStep(round % 8, round % 16);
                if (round % 500 == 0) sequencer.setPlaying(false);
                if (!sequencer.isPlaying()) sequencer.setPlaying(true); // also after an Ending
                [[maybe_unused]] volatile int step = sequencer.currentStep() + sequencer.section();
                recorder.moveResizeNote(static_cast<std::uint32_t>(1 + round % 64), 50 + round % 30,
                                        (round % 16) * 0.25, 0.5, 0);
                [[maybe_unused]] volatile int n = recorder.notesAsVariantList().size();
                if (round % 50 == 0) recorder.undo();
                if (round % 70 == 0) recorder.pausePlayback();
                if (round % 70 == 1) recorder.startPlayback();
                std::this_thread::yield();
            },
            [&](const float* out, std::uint32_t n) {
                for (std::uint32_t i = 0; i < 2 * n; ++i)
                    loudest = std::max(loudest, std::fabs(out[i]));
            });
        QVERIFY2(loudest > 0.05f, qPrintable(QString::number(loudest)));
        QCOMPARE(playing, std::size_t{0});

        recorder.stopPlayback();
        QVERIFY(recorder.startRecording());
        const std::size_t recording = renderWhile(engine, dispatchBlocks / 2, frames, [&] {
            ++round;
            recorder.recordMidiEvent(MidiEvent::noteOn(0, 36 + round % 48, 100));
            recorder.recordMidiEvent(MidiEvent::controlChange(0, 64, round % 128));
            recorder.recordMidiEvent(MidiEvent::noteOff(0, 36 + (round + 7) % 48));
            if (round % 100 == 0) recorder.audioWaveformSummary(100);
            std::this_thread::yield();
        });
        recorder.stopRecording();
        QVERIFY(recording == 0 && recorder.recordedAudioFrames() > 0);
    }

    // The GUI pushes numbered records while blocks of 64 frames check each one they meet.
    void blocksSeeWholeRecordsInOrderAndKeepThePedals() {
        AudioEngine engine;
        engine.prepareOffline(48000, 64);
        // The foot holds every pedal and sets expression; pushed records carry them up.
        for (auto [controller, value] : {std::pair{64, 127}, {66, 127}, {67, 127}, {11, 64}}) {
            MidiEvent pedal = MidiEvent::controlChange(0, controller, value);
            pedal.sourceClient = 20;
            engine.submitMidiEvent(pedal);
        }
        engine.updatePianoParameters(numbered<PianoParameters>(0));
        engine.updateWorkstationState(numbered<WorkstationState>(0));
        std::vector<float> out(2 * 64);
        engine.processAudioCallback(out.data(), 64); // the pedals under record 0, which does not invert
        int lastParams = 0, lastState = 0, torn = 0, backwards = 0, pedalLost = 0, pushes = 0;
        const auto check = [&](const float*, std::uint32_t) {
            const PianoParameters& live = engine.renderingParameters();
            const WorkstationState& state = engine.renderingWorkstationState();
            const int p = numberOf(live, static_cast<int>(live.brightness)),
                      s = numberOf(state, state.splitKey);
            torn += p < 0 || s < 0;
            backwards += p >= 0 && s >= 0 && (p < lastParams || s < lastState);
            lastParams = p < 0 ? lastParams : p;
            lastState = s < 0 ? lastState : s;
            pedalLost += !live.sustainPedal || !live.sostenutoPedal || !live.softPedal ||
                         live.continuousPedal != 1.0f || live.expressionPedal != 64.0f / 127.0f;
        };
        renderWhile(
            engine, 3000, [](int) { return 64u; },
            [&] {
                ++pushes;
                engine.updatePianoParameters(numbered<PianoParameters>(pushes));
                engine.updateWorkstationState(numbered<WorkstationState>(pushes));
            },
            check);
        engine.processAudioCallback(out.data(), 64);
        check(out.data(), 64);
        QCOMPARE(std::tuple(torn, backwards, pedalLost), std::tuple(0, 0, 0));
        QCOMPARE(std::tuple(lastParams, lastState), std::tuple(pushes, pushes)); // the last one arrives
    }
};

QTEST_GUILESS_MAIN(RealtimeTest)
#include "tst_realtime.moc"
