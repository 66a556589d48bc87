// Realtime event dispatch, read from the engine's own record of the voices each key
// holds: the queue, zone routing, touch curves, chord memory, the pedals, the
// arpeggiator's timing and the release of exactly what each key started. Then what it
// sounds like through the block callback (latency, pitch at every rate, bend,
// transpose, zone offsets, dampers), and the offline MIDI file renderer.

#include "../midi/SmfBytes.h"
#include "audio/AudioEngine.h"
#include "audio/MidiFileRenderer.h"
#include "support/AudioAnalysis.h"
#include "support/EngineVoiceProbe.h"
#include "support/OfflineRender.h"
#include "support/SfzFixtures.h"

#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <thread>
#include <tuple>

using namespace tmb;
using namespace tmb::test;

namespace {

std::unique_ptr<AudioEngine> synthEngine(std::uint32_t rate, std::uint32_t blockFrames, int voiceModel = 3) {
    auto engine = std::make_unique<AudioEngine>();
    engine->prepareOffline(rate, blockFrames);
    // The dry dispatch: the master effects' reverb tail has its own tests.
    engine->effects.setEnabled(false);
    for (int slot = 0; slot < 3; ++slot) {
        engine->setSlotEngineType(slot, SoundEngineType::Synth);
        // By default a sine with two soft partials: the fundamental dominates.
        engine->synths[slot].setVoiceModel(voiceModel);
    }
    return engine;
}

// The dominant frequency of `note` held on the keyboard channel, after the attack.
double soundingFrequency(AudioEngine& engine, int note) {
    engine.submitMidiEvent(MidiEvent::noteOn(0, note, 100));
    const StereoSignal out = renderBlocks(engine, engine.sampleRate * 3 / 2, engine.blockFrames);
    const auto start = static_cast<std::size_t>(engine.sampleRate / 4);
    return dominantFrequency(out.left, out.sampleRate, 50.0, 5000.0, start);
}

double semitones(double hz, double reference) {
    return 12.0 * std::log2(hz / reference);
}

// Stands in for the engine: at which frame each event was queued, how long each block was.
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

// An offline synth engine driven block by block on the test thread.
class Rig {
public:
    explicit Rig(std::uint32_t blockFrames = 256)
        : m_engine(synthEngine(48000, blockFrames))
        , m_out(2 * 4096)
        , m_blockFrames(blockFrames) {
        // The arpeggiator steps in eighths of the sequencer's tempo.
        m_engine->beatSequencer.setBpm(120.0f);
        block();
    }

    AudioEngine& engine() { return *m_engine; }
    void block(int count = 1) {
        for (int i = 0; i < count; ++i)
            m_engine->processAudioCallback(m_out.data(), m_blockFrames);
    }
    void send(const MidiEvent& event) {
        m_engine->submitMidiEvent(event);
        block();
    }
    void keyOn(int note, int velocity = 100, int channel = 0) {
        send(MidiEvent::noteOn(channel, note, velocity));
    }
    void keyOff(int note, int channel = 0) { send(MidiEvent::noteOff(channel, note)); }
    void push(const PianoParameters& params) {
        m_engine->updatePianoParameters(params);
        block();
    }
    void push(const WorkstationState& state) {
        m_engine->updateWorkstationState(state);
        block();
    }

    // The voices an owner holds, in the order started: "Main:60@81 Layer:72@81".
    QString voicesOf(int owner) const {
        static const char* const names[voiceTargetCount] = {"Sfz",  "SfMain", "SfLayer", "SfSplit",
                                                            "Main", "Layer",  "Split"};
        QStringList parts;
        for (const StartedVoice& voice : m_engine->voiceOwnership().voicesOf(owner))
            parts << QStringLiteral("%1:%2@%3")
                         .arg(QLatin1String(names[static_cast<int>(voice.target)]))
                         .arg(voice.pitch)
                         .arg(voice.velocity);
        return parts.join(QLatin1Char(' '));
    }
    QString key(int note) const { return voicesOf(VoiceOwnershipTable::keyboardOwner(note)); }
    QString play(int note, int velocity = 100) {
        keyOn(note, velocity);
        return key(note);
    }
    QString arp() const { return voicesOf(VoiceOwnershipTable::arpeggiatorOwner); }
    int held() const { return m_engine->voiceOwnership().heldVoiceCount(); }
    int owners(VoiceTarget target, int pitch) const {
        return m_engine->voiceOwnership().ownersOf(target, pitch);
    }

private:
    std::unique_ptr<AudioEngine> m_engine;
    std::vector<float> m_out;
    std::uint32_t m_blockFrames;
};

MidiEvent hardwareController(int controller, int value) {
    MidiEvent event = MidiEvent::controlChange(0, controller, value);
    event.sourceClient = 24;
    event.sourcePort = 0;
    return event;
}

int mapped(int velocity) {
    return AudioEngine::mapTouchVelocity(velocity, 1);
}

} // namespace

class EventDispatchTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void queueHoldsTwoThousandFortySevenEventsAndDropsTheNext() {
        Rig rig;
        AudioEngine& engine = rig.engine();
        for (int i = 0; i < 2047; ++i)
            engine.submitMidiEvent(MidiEvent::noteOn(0, 60, 100));
        QCOMPARE(engine.droppedMidiEvents(), std::uint64_t{0});
        engine.submitMidiEvent(MidiEvent::noteOff(0, 60));
        QCOMPARE(engine.droppedMidiEvents(), std::uint64_t{1});
        // One block drains everything that waited; the queue takes events again.
        rig.block();
        for (int i = 0; i < 2047; ++i)
            engine.submitMidiEvent(MidiEvent::noteOff(0, 60));
        QCOMPARE(engine.droppedMidiEvents(), std::uint64_t{1});
    }

    // A producer that never stops pushing must not hold a block in the queue: the
    // block handles what was queued before it began, at most a full queue, and the
    // rest waits for the next block.
    void aBlockHandlesOnlyWhatWasQueuedBeforeIt() {
        Rig rig;
        AudioEngine& engine = rig.engine();
        std::atomic<bool> queueFull{false};
        std::atomic<bool> blockDone{false};
        long pushed = 0;
        std::thread producer([&] {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            for (long n = 0; !blockDone.load(std::memory_order_relaxed); ++n, ++pushed) {
                engine.submitMidiEvent(MidiEvent::noteOn(0, static_cast<int>(21 + n % 88), 100));
                if (n == 4096) queueFull = true;
                if (n % 1024 == 0 && std::chrono::steady_clock::now() > deadline) break;
            }
        });
        while (!queueFull.load())
            std::this_thread::yield();
        constexpr int blocks = 20;
        rig.block(blocks);
        blockDone = true;
        producer.join();
        // Taken in: a full queue for each block, and the queue filled again behind the last.
        const auto accepted = static_cast<std::uint64_t>(pushed) - engine.droppedMidiEvents();
        QVERIFY2(accepted <= (blocks + 1) * 2047, qPrintable(QString::number(accepted)));
    }

    void touchCurvesMapVelocities() {
        // {velocity, curve, mapped}: never below 1, capped at 127, only the low byte counts.
        const int rows[][3] = {{10, 0, 31}, {10, 1, 17},   {10, 2, 3}, {10, 3, 100}, {127, 2, 127},
                               {1, 2, 1},   {300, 1, 127}, {0, 3, 0},  {256, 1, 0}};
        for (const auto& row : rows)
            QCOMPARE(AudioEngine::mapTouchVelocity(row[0], row[1]), row[2]);
    }

    void zonesAndSlotTypesChooseTheVoices() {
        const int v = mapped(100);
        Rig rig;
        rig.push(WorkstationState{
            .layer2Enabled = true, .splitEnabled = true, .layer2OctaveOffset = 1, .splitOctaveOffset = -1});
        QCOMPARE(rig.play(60), QStringLiteral("Main:60@%1 Layer:72@%1").arg(v));
        QCOMPARE(rig.play(40), QStringLiteral("Split:28@%1").arg(v));

        // An SFZ main slot without a piano falls back to the SoundFont piano.
        rig.engine().setSlotEngineType(0, SoundEngineType::Sfz);
        rig.engine().setSlotEngineType(1, SoundEngineType::SoundFont);
        rig.engine().setSlotEngineType(2, SoundEngineType::SoundFont);
        QCOMPARE(rig.play(62), QStringLiteral("SfMain:62@%1 SfLayer:74@%1").arg(v));
        QCOMPARE(rig.play(41), QStringLiteral("SfSplit:29@%1").arg(v));
    }

    void transposeMovesTheSplitPointAndStaysOnTheKeyboard() {
        const int v = mapped(100);
        Rig rig; // the split point compares the transposed note
        rig.push(PianoParameters{.transposeSemitones = 2});
        rig.push(WorkstationState{.splitEnabled = true, .splitKey = 54});
        QCOMPARE(rig.play(52), QStringLiteral("Main:54@%1").arg(v));
        QCOMPARE(rig.play(51), QStringLiteral("Split:53@%1").arg(v));

        rig.push(WorkstationState{});
        rig.push(PianoParameters{.transposeSemitones = 12, .octaveShift = 3});
        QCOMPARE(rig.play(100), QStringLiteral("Main:127@%1").arg(v));
        rig.push(PianoParameters{.transposeSemitones = -12, .octaveShift = -3});
        QCOMPARE(rig.play(30), QStringLiteral("Main:0@%1").arg(v));
    }

    void velocitySwitchBringsInTheLayerFromTheThreshold() {
        Rig rig;
        WorkstationState state{.velocitySwitchEnabled = true, .velocityThreshold = 96};
        rig.push(state);
        int strong = 1;
        while (mapped(strong) < 96)
            ++strong;
        const int soft = strong - 1; // mapped to 95
        QCOMPARE(rig.play(60, soft), QStringLiteral("Main:60@95"));
        QCOMPARE(rig.play(62, strong), QStringLiteral("Main:62@96 Layer:62@96"));

        // With velocity switching on, the layer switch itself no longer counts.
        state.layer2Enabled = true;
        rig.push(state);
        QCOMPARE(rig.play(64, soft), QStringLiteral("Main:64@95"));
    }

    void chordMemoryAddsThirdAndFifthQuieter() {
        Rig rig;
        rig.push(PianoParameters{.touchCurve = 3}); // fixed: whatever is played sounds at 100
        rig.push(WorkstationState{.chordMemoryEnabled = true});
        QCOMPARE(rig.play(60, 10), QStringLiteral("Main:60@100 Main:64@100 Main:67@100"));

        rig.push(PianoParameters{});
        // 10, then 10 - 12 and 10 - 15 floored at 1
        QCOMPARE(rig.play(62, 10),
                 QStringLiteral("Main:62@%1 Main:66@%2 Main:69@%2").arg(mapped(10)).arg(mapped(1)));
        // Companions stay on the keyboard; the fifth lands on the third's voice and re-strikes it.
        QCOMPARE(rig.play(125), QStringLiteral("Main:125@%1 Main:127@%2").arg(mapped(100)).arg(mapped(85)));
    }

    void noteOffReleasesWhatTheNoteOnStarted() {
        Rig rig;
        rig.push(WorkstationState{.layer2Enabled = true});
        rig.keyOn(60);
        rig.keyOn(43);
        QCOMPARE(rig.held(), 4);

        // Every setting that shapes a note changes while the keys are held.
        rig.push(PianoParameters{.transposeSemitones = 5, .octaveShift = -1});
        rig.push(WorkstationState{
            .splitEnabled = true, .splitKey = 70, .chordMemoryEnabled = true, .layer2OctaveOffset = 2});
        rig.engine().setSlotEngineType(0, SoundEngineType::SoundFont);

        rig.keyOff(60);
        QCOMPARE(rig.key(60), QString());
        QCOMPARE(rig.owners(VoiceTarget::SynthMain, 60), 0);
        QCOMPARE(rig.owners(VoiceTarget::SynthLayer, 60), 0);
        QCOMPARE(rig.owners(VoiceTarget::SynthMain, 43), 1);
        rig.keyOff(43);
        QCOMPARE(rig.held(), 0);
    }

    void reStrikeAndSharedVoicesKeepTheirRecords() {
        const int v = mapped(100);
        Rig rig;
        rig.keyOn(60);
        rig.push(PianoParameters{.transposeSemitones = 1});
        QCOMPARE(rig.play(60), QStringLiteral("Main:60@%1 Main:61@%1").arg(v));
        // The same voice again: one entry, new velocity.
        QCOMPARE(rig.play(60, 50), QStringLiteral("Main:60@%1 Main:61@%2").arg(v).arg(mapped(50)));
        rig.keyOff(60);
        QCOMPARE(rig.held(), 0);

        // A voice two keys started sounds until the last of them is released.
        rig.push(PianoParameters{});
        rig.push(WorkstationState{.chordMemoryEnabled = true});
        rig.keyOn(60); // 60 64 67
        rig.keyOn(64); // 64 68 71
        QCOMPARE(rig.owners(VoiceTarget::SynthMain, 64), 2);
        rig.keyOff(60);
        QCOMPARE(rig.owners(VoiceTarget::SynthMain, 64), 1);
        QCOMPARE(rig.owners(VoiceTarget::SynthMain, 67), 0);
        QCOMPARE(rig.key(64),
                 QStringLiteral("Main:64@%1 Main:68@%2 Main:71@%3").arg(v).arg(mapped(88)).arg(mapped(85)));
        rig.keyOff(64);
        QCOMPARE(rig.held(), 0);
    }

    // A key struck again under new settings while held keeps sounding every strike
    // until its record is full, then each new strike takes the oldest voices' place;
    // the key's release silences everything it still holds.
    void reStruckKeyAlwaysSounds() {
        Rig rig;
        rig.push(WorkstationState{.layer2Enabled = true, .chordMemoryEnabled = true});
        const auto voices = [&](int pitch) {
            return rig.engine().synths[0].voicesOnNote(pitch) + rig.engine().synths[1].voicesOnNote(pitch);
        };
        for (int strike = 0; strike < 6; ++strike) {
            rig.push(PianoParameters{.transposeSemitones = strike * 12 - 24});
            rig.keyOn(60);
            const int root = 36 + strike * 12;
            QCOMPARE(voices(root) + voices(root + 4) + voices(root + 7), config::voicesPerStrike);
            const auto held = rig.engine().voiceOwnership().voicesOf(60);
            QCOMPARE(static_cast<int>(held.size()), std::min(strike + 1, 2) * config::voicesPerStrike);
            // The strike before this one still sounds; the one before that was let go.
            if (strike > 0) QCOMPARE(voices(root - 12), 2);
            if (strike > 1) QCOMPARE(rig.owners(VoiceTarget::SynthMain, root - 24), 0);
        }
        rig.keyOff(60);
        QCOMPARE(rig.held(), 0);
        renderBlocks(rig.engine(), 96000, 256);
        QCOMPARE(soundingVoices(rig.engine()), 0);
    }

    // The published voice count counts every engine that plays notes, each once.
    void voiceCountCountsEveryEngine() {
        QTemporaryDir dir;
        QVERIFY(writeTestWav(dir.filePath(QStringLiteral("a.wav")), TestTone{}));
        QVERIFY(writeTestFile(dir.filePath(QStringLiteral("a.sfz")), "<region> sample=a.wav\n"));
        const QString font = QStringLiteral("/usr/share/sounds/sf2/TimGM6mb.sf2");
        // The main slot's engine, the channel played, and whose voices it starts:
        // -2 the SFZ piano, -1 the SoundFont engine, 0-2 a synth.
        const std::tuple<SoundEngineType, int, int> cases[] = {
            {SoundEngineType::Sfz, 0, -2},   {SoundEngineType::SoundFont, 0, -1},
            {SoundEngineType::Synth, 9, -1}, {SoundEngineType::Synth, 0, 0},
            {SoundEngineType::Synth, 1, 1},  {SoundEngineType::Synth, 2, 2}};
        for (const auto& [main, channel, source] : cases) {
            auto engine = synthEngine(44100, 128);
            QVERIFY(engine->sfzPiano.loadSfzFile(dir.filePath(QStringLiteral("a.sfz"))));
            QVERIFY(engine->fluidSynth.selectProgram(0, font, 0, 0));
            QVERIFY(engine->fluidSynth.selectDrumKit(font, 128, 0));
            engine->setSlotEngineType(0, main);
            engine->submitMidiEvent(MidiEvent::noteOn(channel, channel == 9 ? 38 : 60, 100));
            renderBlocks(*engine, 4410, 128);
            const int own = source == -2   ? engine->sfzPiano.activeVoiceCount()
                            : source == -1 ? engine->fluidSynth.activeVoiceCount()
                                           : engine->synths[source].publishedVoiceCount();
            QVERIFY2(own > 0 && engine->activeVoiceCount() == own,
                     qPrintable(QStringLiteral("channel %1: %2 of %3")
                                    .arg(channel)
                                    .arg(engine->activeVoiceCount())
                                    .arg(own)));
        }
    }

    void zoneChannelsUseTheirSlotAndRelease() {
        Rig rig;
        rig.push(WorkstationState{.layer2OctaveOffset = 1, .splitOctaveOffset = -2});
        rig.keyOn(60, 90, 1);
        rig.keyOn(50, 90, 2);
        // Producers addressing a zone directly bypass transpose and the touch curve.
        QCOMPARE(rig.voicesOf(VoiceOwnershipTable::layerChannelOwner(60)), QStringLiteral("Layer:72@90"));
        QCOMPARE(rig.voicesOf(VoiceOwnershipTable::splitChannelOwner(50)), QStringLiteral("Split:26@90"));
        rig.push(WorkstationState{.layer2OctaveOffset = -2, .splitOctaveOffset = 2});
        rig.send(MidiEvent::noteOn(1, 60, 0)); // a note-on with velocity 0 is a note-off
        rig.keyOff(50, 2);
        QCOMPARE(rig.held(), 0);
        // Arranger channels and drums never enter the keyboard record.
        rig.keyOn(60, 90, 3);
        rig.keyOn(36, 90, 9);
        QCOMPARE(rig.held(), 0);
    }

    void sustainThresholdAndPolarity() {
        Rig rig;
        const PianoParameters& live = rig.engine().renderingParameters();
        auto sustain = [&](const MidiEvent& event) {
            rig.send(event);
            return live.sustainPedal;
        };
        QVERIFY(sustain(hardwareController(64, 40)));
        // The SoundFont's main and layer channels hear the pedal as played.
        QCOMPARE(rig.engine().fluidSynth.controllerValue(0, 64), 40);
        QVERIFY(!sustain(hardwareController(64, 39)));
        QCOMPARE(live.continuousPedal, 39.0f / 127.0f);

        rig.push(PianoParameters{.invertPedalPolarity = true});
        // Inverted, the value read is 127 - v: 87 reads 40 (down), 88 reads 39 (up).
        QVERIFY(sustain(hardwareController(64, 87)));
        QVERIFY(!sustain(hardwareController(64, 88)));
        QVERIFY(!sustain(hardwareController(64, 127)));
        // The program's own pedal events carry the meant value: never inverted.
        QVERIFY(sustain(MidiEvent::controlChange(0, 64, 127)));
        QVERIFY(!sustain(MidiEvent::controlChange(0, 64, 0)));
        // Played-back events were stored as heard: never inverted either.
        rig.engine().handlePlaybackEvent(hardwareController(64, 127));
        QVERIFY(live.sustainPedal);
        rig.engine().handlePlaybackEvent(hardwareController(64, 0));
        QVERIFY(!live.sustainPedal);
    }

    void arpeggiatorPlaysTheHeldChordInTime_data() {
        QTest::addColumn<int>("blockFrames");
        QTest::addColumn<int>("octaves");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QList<int>>("pattern");
        QTest::newRow("up, 256") << 256 << 1 << 0 << QList<int>{60, 64, 67};
        QTest::newRow("up two octaves, 333") << 333 << 2 << 0 << QList<int>{60, 64, 67, 72, 76, 79};
        QTest::newRow("down, 4096") << 4096 << 1 << 1 << QList<int>{67, 64, 60};
    }
    void arpeggiatorPlaysTheHeldChordInTime() {
        QFETCH(int, blockFrames);
        QFETCH(int, octaves);
        QFETCH(int, mode);
        QFETCH(QList<int>, pattern);
        Rig rig(static_cast<std::uint32_t>(blockFrames));
        rig.push(WorkstationState{.arpeggiatorEnabled = true, .arpMode = mode, .arpOctaves = octaves});

        for (int note : {60, 64, 67})
            rig.engine().submitMidiEvent(MidiEvent::noteOn(0, note, 100));
        // The keys are drained in block 0; steps of 12000 frames (eighths at 120 BPM)
        // follow, the first one full step after the keys. Over a minute, each step
        // must start in the block that holds its ideal time: no drift.
        const auto frames = static_cast<std::uint64_t>(blockFrames);
        int steps = 0;
        QString last;
        for (std::uint64_t start = 0; start < 48000 * 60; start += frames) {
            rig.block();
            const QString now = rig.arp();
            if (now == last) continue;
            last = now;
            ++steps;
            const std::uint64_t ideal = 12000ULL * static_cast<std::uint64_t>(steps);
            QVERIFY2(start < ideal && ideal <= start + frames,
                     qPrintable(QStringLiteral("step %1 at %2, ideal %3").arg(steps).arg(start).arg(ideal)));
            const int expected = pattern[(steps - 1) % pattern.size()];
            QCOMPARE(now, QStringLiteral("Main:%1@%2").arg(expected).arg(mapped(96)));
        }
        QCOMPARE(steps, 240); // the 240th step is due at the last frame of the minute

        // Releasing the keys stops the sounding step within one block.
        for (int note : {60, 64, 67})
            rig.engine().submitMidiEvent(MidiEvent::noteOff(0, note));
        rig.block();
        QCOMPARE(rig.arp(), QString());
        QCOMPARE(rig.held(), 0);
    }

    void arpeggiatorContinuesThePatternWithANewChord() {
        const QString step = QStringLiteral("Main:%1@") + QString::number(mapped(96));
        Rig rig;
        WorkstationState state{.arpeggiatorEnabled = true};
        rig.push(state);
        rig.keyOn(60);
        rig.keyOn(64);
        QCOMPARE(rig.key(60), QString()); // the keys feed the arpeggiator instead of sounding
        rig.block(60);                    // 15360 frames: one step
        QCOMPARE(rig.arp(), step.arg(60));
        rig.keyOff(60);
        rig.keyOff(64);
        QCOMPARE(rig.arp(), QString());
        // A new chord steps one full step after its first key. The step counter was
        // not reset: the chord starts at its second note.
        rig.keyOn(62);
        rig.keyOn(65);
        rig.block(44); // 46 blocks since the first key: 11776 frames
        QCOMPARE(rig.arp(), QString());
        rig.block(2);
        QCOMPARE(rig.arp(), step.arg(65));

        // Switching the arpeggiator off releases its note at the next block.
        state.arpeggiatorEnabled = false;
        rig.push(state);
        QCOMPARE(rig.arp(), QString());

        // An arpeggiated note releases as started after a transpose.
        Rig fresh;
        fresh.push(WorkstationState{.arpeggiatorEnabled = true});
        fresh.keyOn(60);
        fresh.block(47);
        QCOMPARE(fresh.arp(), step.arg(60));
        fresh.push(PianoParameters{.transposeSemitones = 7});
        fresh.block(47);
        QCOMPARE(fresh.arp(), step.arg(67));
        QCOMPARE(fresh.owners(VoiceTarget::SynthMain, 60), 0);
    }

    void resetForgetsEveryKey() {
        Rig rig;
        rig.push(WorkstationState{.layer2Enabled = true});
        rig.keyOn(60);
        rig.keyOn(61, 90, 1);
        QVERIFY(rig.held() > 0);
        rig.send(MidiEvent::reset());
        QCOMPARE(rig.held(), 0);

        // The arpeggiator forgets its held keys too.
        rig.push(WorkstationState{.layer2Enabled = true, .arpeggiatorEnabled = true});
        rig.keyOn(60);
        rig.send(MidiEvent::reset());
        rig.block(100);
        QCOMPARE(rig.arp(), QString());
    }
    void aNoteSoundsInTheBlockItWasQueuedBefore_data() {
        QTest::addColumn<int>("blockFrames");
        QTest::newRow("64") << 64;
        QTest::newRow("256") << 256;
        QTest::newRow("1024") << 1024;
    }
    void aNoteSoundsInTheBlockItWasQueuedBefore() {
        QFETCH(int, blockFrames);
        const auto frames = static_cast<std::uint32_t>(blockFrames);
        auto engine = synthEngine(48000, frames, 2); // the organ: 4 ms attack
        const std::uint64_t queuedBefore = 10 * frames;
        const StereoSignal out = renderBlocks(*engine, 12 * frames, frames, [&](std::uint64_t first) {
            if (first == queuedBefore) engine->submitMidiEvent(MidiEvent::noteOn(0, 60, 110));
        });
        const long long onset = firstAbove(out.left, 1e-4f);
        QVERIFY2(
            onset >= static_cast<long long>(queuedBefore) &&
                onset < static_cast<long long>(queuedBefore + frames),
            qPrintable(QStringLiteral("first sound at frame %1, block at %2").arg(onset).arg(queuedBefore)));
        QVERIFY(peak(out.left, queuedBefore, queuedBefore + frames) > 1e-3f);
    }

    void pitchAtEveryRateWithBendTransposeAndZoneOffsets() {
        struct Case {
            const char* name;
            int rate;
            float tuning;
            int bend, transpose, octave, layerOctave; // the layer alone, the main channel muted
            bool split;                               // below 100: the split synth plays
            double semitones, tolerance;
        };
        const double hz03 = 12.0 * std::log2(440.3 / 440.0); // 0.3 Hz at A4
        const Case cases[] = {
            {"44100", 44100, 440.0f, 0, 0, 0, 0, false, 0.0, hz03},
            {"48000", 48000, 440.0f, 0, 0, 0, 0, false, 0.0, hz03},
            {"96000", 96000, 440.0f, 0, 0, 0, 0, false, 0.0, hz03},
            {"A = 415", 48000, 415.0f, 0, 0, 0, 0, false, 0.0, 12.0 * std::log2(415.3 / 415.0)},
            {"bend full up", 48000, 440.0f, 8191, 0, 0, 0, false, 2.0 * 8191.0 / 8192.0, 0.01},
            {"bend full down", 48000, 440.0f, -8192, 0, 0, 0, false, -2.0, 0.01},
            {"bend full down, split", 48000, 440.0f, -8192, 0, 0, 0, true, -2.0, 0.01},
            {"bend half up", 48000, 440.0f, 4096, 0, 0, 0, false, 1.0, 0.01},
            {"transpose 3", 48000, 440.0f, 0, 3, 0, 0, false, 3.0, 0.01},
            {"octave down, transpose -2", 48000, 440.0f, 0, -2, -1, 0, false, -14.0, 0.01},
            {"layer an octave up", 48000, 440.0f, 0, 0, 0, 1, false, 12.0, 0.01}};
        for (const Case& c : cases) {
            auto engine = synthEngine(static_cast<std::uint32_t>(c.rate), 256);
            engine->updatePianoParameters(
                {.tuningHz = c.tuning, .transposeSemitones = c.transpose, .octaveShift = c.octave});
            engine->updateWorkstationState({.layer2Enabled = c.layerOctave != 0,
                                            .splitEnabled = c.split,
                                            .splitKey = 100,
                                            .layer2OctaveOffset = c.layerOctave});
            engine->setChannelMuted(MixerChannelId::Piano, c.layerOctave != 0);
            engine->submitMidiEvent(MidiEvent::pitchBendEvent(0, c.bend));
            const double hz = soundingFrequency(*engine, 69);
            QVERIFY2(std::fabs(semitones(hz, c.tuning) - c.semitones) < c.tolerance,
                     qPrintable(QStringLiteral("%1: A4 sounds at %2 Hz").arg(QLatin1String(c.name)).arg(hz)));
        }
    }

    // Concert pitch reaches the SoundFont channels (the main zone and an arranger
    // part) as it reaches the synth layer, so a layer stays in tune with itself; a
    // kit on a melodic channel keeps the font's own tuning.
    void concertPitchMovesSoundFontAndSynthAlike() {
        const QString font = QStringLiteral("/usr/share/sounds/sf2/TimGM6mb.sf2");
        auto play = [&](std::uint32_t rate, float tuning, int source) {
            auto engine = synthEngine(rate, 256);
            engine->setSlotEngineType(0, SoundEngineType::SoundFont);
            // An accordion: its A4 sample sits within a cent of 440 Hz.
            engine->fluidSynth.selectProgram(0, font, 0, 21);
            engine->fluidSynth.selectProgram(5, font, 0, 21);
            engine->fluidSynth.selectProgram(6, font, 128, 0); // standard kit
            engine->updatePianoParameters({.tuningHz = tuning});
            // A SoundFont main zone with a synth layer, each heard with the other's strip
            // muted (source 0, 1); 5 and 6 are SoundFont channels an arranger plays.
            engine->updateWorkstationState({.layer2Enabled = source <= 1});
            engine->setChannelMuted(MixerChannelId::Piano, source == 1);
            engine->setChannelMuted(MixerChannelId::Layer2, source != 1);
            engine->submitMidiEvent(MidiEvent::noteOn(source == 1 ? 0 : source, source == 6 ? 38 : 69, 100));
            return renderBlocks(*engine, rate * 3 / 2, 256);
        };
        for (const auto& [rate, tuning] : {std::pair{44100u, 415.0f}, {48000u, 440.0f}, {96000u, 445.0f}}) {
            for (const int source : {0, 1, 5}) {
                const StereoSignal out = play(rate, tuning, source);
                const double hz =
                    dominantFrequency(out.left, out.sampleRate, tuning * 0.8, tuning * 1.25, rate / 4);
                QVERIFY2(std::fabs(1200.0 * std::log2(hz / tuning)) < 3.0,
                         qPrintable(QStringLiteral("%1 at %2 Hz: %3 Hz").arg(source).arg(tuning).arg(hz)));
            }
        }
        const StereoSignal kit = play(48000, 440.0f, 6), retuned = play(48000, 445.0f, 6);
        QVERIFY(peak(kit.left) > 0.01f);
        float difference = 0.0f;
        for (std::size_t i = 0; i < kit.left.size(); ++i)
            difference = std::max(difference, std::fabs(kit.left[i] - retuned.left[i]));
        QCOMPARE(difference, 0.0f);
    }

    // The SoundFont's keyboard channels follow the bend; the arranger's parts do not.
    // Measured against the same note unbent, as the font's samples carry their own tuning.
    void pitchBendMovesTheSoundFontKeyboardChannelsOnly() {
        const QString font = QStringLiteral("/usr/share/sounds/sf2/TimGM6mb.sf2");
        auto sounding = [&](int channel, int bend) {
            auto engine = synthEngine(48000, 256);
            engine->setSlotEngineType(0, SoundEngineType::SoundFont);
            if (!engine->fluidSynth.selectProgram(channel, font, 0, 73)) return 0.0; // flute: nearly a sine
            engine->submitMidiEvent(MidiEvent::pitchBendEvent(0, bend));
            engine->submitMidiEvent(MidiEvent::noteOn(channel, 69, 100));
            const StereoSignal out = renderBlocks(*engine, 72000, 256);
            return dominantFrequency(out.left, out.sampleRate, 200.0, 700.0, 12000);
        };
        for (int channel : {0, 3}) {
            const double straight = sounding(channel, 0);
            QVERIFY2(std::fabs(semitones(straight, 440.0)) < 0.5, qPrintable(QString::number(straight)));
            const double moved = semitones(sounding(channel, 4096), straight);
            QVERIFY2(std::fabs(moved - (channel == 0 ? 1.0 : 0.0)) < 0.02,
                     qPrintable(QStringLiteral("channel %1 moved %2 semitones").arg(channel).arg(moved)));
        }
    }

    // The automatic damper holds until switched off; the foot's damper holds until
    // lifted, and a pushed record with the pedal up (another sound, say) does not lift it.
    void dampersHoldUntilReleased() {
        for (bool foot : {false, true}) {
            auto engine = synthEngine(48000, 256, 4); // short release
            MidiEvent pedal = MidiEvent::controlChange(0, 64, 127);
            pedal.sourceClient = 20;
            if (foot)
                engine->submitMidiEvent(pedal);
            else
                engine->updatePianoParameters({.autoPedalEnabled = true});
            engine->submitMidiEvent(MidiEvent::noteOn(0, 60, 100));
            renderBlocks(*engine, 4800, 256);
            engine->submitMidiEvent(MidiEvent::noteOff(0, 60));
            if (foot) engine->updatePianoParameters({.brightness = 0.3f});
            renderBlocks(*engine, 48000, 256);
            QCOMPARE(engine->synths[0].voicesOnNote(60), 1);
            pedal.data2 = 0;
            if (foot)
                engine->submitMidiEvent(pedal);
            else
                engine->updatePianoParameters({});
            renderBlocks(*engine, 48000, 256);
            QCOMPARE(soundingVoices(*engine), 0);
        }
    }
    void rendererQueuesEachEventBeforeTheBlockAtItsFrame_data() {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("block");
        QTest::newRow("44100 / 256") << 44100 << 256;
        QTest::newRow("48000 / 17") << 48000 << 17;
        QTest::newRow("96000 / 4096") << 96000 << 4096;
    }
    void rendererQueuesEachEventBeforeTheBlockAtItsFrame() {
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

    void rendererSpillsWhatTheQueueCannotHoldAndStopsOnAFailingSink() {
        // 5000 events at one tick: the engine takes 2047 a block.
        QByteArray notes = midiMessage(48, 0x90, 0, 1);
        for (int i = 1; i < 5000; ++i)
            notes += varLen(0) + bytes({i % 128, 1});
        StandardMidiFile file;
        QVERIFY(file.parse(header(0, 1, 96) + track(notes + endOfTrack(96))));
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

        // A sink that fails stops the render there.
        int blocks = 0;
        QVERIFY(!renderer.render([](const MidiEvent&) {}, [](float*, std::uint32_t) {},
                                 [&blocks](const float*, std::uint32_t) { return ++blocks < 3; }));
        QCOMPARE(blocks, 3);
    }
};

QTEST_GUILESS_MAIN(EventDispatchTest)
#include "tst_event_dispatch.moc"
