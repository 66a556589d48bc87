// Realtime event dispatch, read from the engine's voice record and heard through the block
// callback, and the offline MIDI file renderer.

#include "../midi/SmfBytes.h"
#include "audio/AudioEngine.h"
#include "audio/MidiFileRenderer.h"
#include "support/AudioAnalysis.h"
#include "support/EngineVoiceProbe.h"
#include "support/OfflineRender.h"

#include <QTest>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <thread>

using namespace tmb;
using namespace tmb::test;

namespace {

const QString font = QStringLiteral("/usr/share/sounds/sf2/TimGM6mb.sf2");

// Engines built on non-zero memory, as a reused heap gives: reads of unowned bytes show.
struct EngineDelete {
    void operator()(AudioEngine* engine) const {
        engine->~AudioEngine();
        ::operator delete (engine, std::align_val_t{alignof(AudioEngine)});
    }
};
using EnginePtr = std::unique_ptr<AudioEngine, EngineDelete>;

// Dry; every slot a synth of model 3 (a sine with two soft partials).
EnginePtr synthEngine(std::uint32_t rate, std::uint32_t blockFrames) {
    void* memory = ::operator new (sizeof(AudioEngine), std::align_val_t{alignof(AudioEngine)});
    std::memset(memory, 0xA5, sizeof(AudioEngine));
    EnginePtr engine(new (memory) AudioEngine);
    engine->prepareOffline(rate, blockFrames);
    engine->effects.setEnabled(false);
    for (int slot = 0; slot < 3; ++slot) {
        engine->setSlotEngineType(slot, SoundEngineType::Synth);
        engine->synths[slot].setVoiceModel(3);
    }
    return engine;
}

// The dominant frequency of `note` on `channel` after the attack.
double soundingFrequency(AudioEngine& engine, int note, int channel = 0, double low = 50,
                         double high = 5000) {
    engine.submitMidiEvent(MidiEvent::noteOn(channel, note, 100));
    const StereoSignal out = renderBlocks(engine, engine.sampleRate * 3 / 2, engine.blockFrames);
    return dominantFrequency(out.left, out.sampleRate, low, high, engine.sampleRate / 4);
}

// An offline synth engine driven block by block; the arpeggiator steps in eighths.
class Rig {
public:
    explicit Rig(std::uint32_t blockFrames = 256, std::uint32_t rate = 48000, float bpm = 120.0f)
        : m_engine(synthEngine(rate, blockFrames))
        , m_out(2 * 4096)
        , m_blockFrames(blockFrames) {
        m_engine->beatSequencer.setBpm(bpm);
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
    EnginePtr m_engine;
    std::vector<float> m_out;
    std::uint32_t m_blockFrames;
};

int mapped(int velocity) {
    return AudioEngine::mapTouchVelocity(velocity, 1);
}

} // namespace

class EventDispatchTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The queue holds 2047 events and counts the next as dropped. A producer that never
    // stops must not hold a block: each takes at most what was queued before it began.
    void queueHoldsWhatWasQueuedBeforeTheBlock() {
        Rig rig;
        AudioEngine& engine = rig.engine();
        for (int i = 0; i < 2048 + 2047; ++i) { // a block drains the queue between the two
            if (i == 2048) rig.block();
            engine.submitMidiEvent(i < 2048 ? MidiEvent::noteOn(0, 60, 100) : MidiEvent::noteOff(0, 60));
        }
        QCOMPARE(engine.droppedMidiEvents(), std::uint64_t{1});
        rig.block();

        std::atomic<bool> queueFull{false}, blocksDone{false};
        long pushed = 0;
        std::thread producer([&] {
            for (long n = 0; !blocksDone.load(std::memory_order_relaxed); ++n, ++pushed) {
                engine.submitMidiEvent(MidiEvent::noteOn(0, static_cast<int>(21 + n % 88), 100));
                if (n == 4096) queueFull = true;
            }
        });
        while (!queueFull.load())
            std::this_thread::yield();
        rig.block(20);
        blocksDone = true;
        producer.join();
        // A full queue for each block, and the queue filled again behind the last.
        const auto accepted = static_cast<std::uint64_t>(pushed) - engine.droppedMidiEvents() + 1;
        QVERIFY2(accepted <= 21 * 2047, qPrintable(QString::number(accepted)));
    }

    void touchCurvesMapVelocities() {
        // {velocity, curve, mapped}: never below 1, capped at 127, only the low byte counts.
        const int rows[][3] = {{10, 0, 31}, {10, 1, 17},   {10, 2, 3}, {10, 3, 100}, {127, 2, 127},
                               {1, 2, 1},   {300, 1, 127}, {0, 3, 0},  {256, 1, 0}};
        for (const auto& row : rows)
            QCOMPARE(AudioEngine::mapTouchVelocity(row[0], row[1]), row[2]);
    }

    // Zones, the velocity switch and slot types choose the voices.
    void zonesVelocitySwitchAndSlotTypesChooseTheVoices() {
        Rig rig;
        WorkstationState state{.velocitySwitchEnabled = true, .velocityThreshold = 96};
        rig.push(state);
        int strong = 1;
        while (mapped(strong) < 96)
            ++strong;
        QCOMPARE(rig.play(70, strong - 1), QStringLiteral("Main:70@95"));
        QCOMPARE(rig.play(72, strong), QStringLiteral("Main:72@96 Layer:72@96"));
        // With velocity switching on, the layer switch itself no longer counts.
        state.layer2Enabled = true;
        rig.push(state);
        QCOMPARE(rig.play(74, strong - 1), QStringLiteral("Main:74@95"));

        const int v = mapped(100);
        rig.push(WorkstationState{
            .layer2Enabled = true, .splitEnabled = true, .layer2OctaveOffset = 1, .splitOctaveOffset = -1});
        QCOMPARE(rig.play(60) + " | " + rig.play(40),
                 QStringLiteral("Main:60@%1 Layer:72@%1 | Split:28@%1").arg(v));
        // An SFZ main slot without a piano falls back to the SoundFont piano.
        for (int slot = 0; slot < 3; ++slot)
            rig.engine().setSlotEngineType(slot,
                                           slot == 0 ? SoundEngineType::Sfz : SoundEngineType::SoundFont);
        QCOMPARE(rig.play(62) + " | " + rig.play(41),
                 QStringLiteral("SfMain:62@%1 SfLayer:74@%1 | SfSplit:29@%1").arg(v));
    }

    // A release stops exactly what its key started; a shared voice waits for the last. (Releases
    // after transposing and changing zones or slot types: tst_no_stuck_notes.)
    void noteOffReleasesWhatTheNoteOnStarted() {
        const int v = mapped(100);
        Rig shared;
        shared.keyOn(60);
        shared.push(PianoParameters{.transposeSemitones = 1});
        QCOMPARE(shared.play(60), QStringLiteral("Main:60@%1 Main:61@%1").arg(v));
        // The same voice again: one entry, new velocity.
        QCOMPARE(shared.play(60, 50), QStringLiteral("Main:60@%1 Main:61@%2").arg(v).arg(mapped(50)));
        shared.keyOff(60);
        QCOMPARE(shared.held(), 0);
        shared.push(PianoParameters{});
        shared.push(WorkstationState{.chordMemoryEnabled = true});
        shared.keyOn(60); // 60 64 67
        shared.keyOn(64); // 64 68 71
        QCOMPARE(shared.owners(VoiceTarget::SynthMain, 64), 2);
        shared.keyOff(60);
        QCOMPARE(shared.owners(VoiceTarget::SynthMain, 64), 1);
        QCOMPARE(shared.owners(VoiceTarget::SynthMain, 67), 0);
        QCOMPARE(shared.key(64),
                 QStringLiteral("Main:64@%1 Main:68@%2 Main:71@%3").arg(v).arg(mapped(88)).arg(mapped(85)));
        shared.keyOff(64);
        QCOMPARE(shared.held(), 0);
    }

    // A held key re-struck keeps every strike until its record is full, then the oldest go.
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
            QCOMPARE(static_cast<int>(rig.engine().voiceOwnership().voicesOf(60).size()),
                     std::min(strike + 1, 2) * config::voicesPerStrike);
            if (strike > 0) QCOMPARE(voices(root - 12), 2);
            if (strike > 1) QCOMPARE(rig.owners(VoiceTarget::SynthMain, root - 24), 0);
        }
        rig.keyOff(60);
        QCOMPARE(rig.held(), 0);
        renderBlocks(rig.engine(), 96000, 256);
        QCOMPARE(soundingVoices(rig.engine()), 0);
    }

    // The foot's damper is down from 40 (the SoundFont channels hear the value as played);
    // inverted, 87 reads 40 and 88 reads 39. Played-back events are never inverted.
    void sustainThresholdAndPolarity() {
        Rig rig;
        const PianoParameters& live = rig.engine().renderingParameters();
        // The damper after a hardware value ('h'), one of the program's own ('o') or a played-back one.
        const auto sustain = [&](int value, char source = 'h') {
            MidiEvent event = MidiEvent::controlChange(0, 64, value);
            event.sourceClient = source == 'o' ? event.sourceClient : 24;
            if (source == 'p')
                rig.engine().handlePlaybackEvent(event);
            else
                rig.send(event);
            return live.sustainPedal ? '1' : '0';
        };
        QCOMPARE(sustain(40), '1');
        QCOMPARE(rig.engine().fluidSynth.controllerValue(0, 64), 40);
        QCOMPARE(sustain(39), '0');
        QCOMPARE(live.continuousPedal, 39.0f / 127.0f);
        rig.push(PianoParameters{.invertPedalPolarity = true});
        QCOMPARE(
            std::string({sustain(87), sustain(88), sustain(127, 'o'), sustain(0, 'p'), sustain(127, 'p')}),
            std::string("10101"));
    }

    void arpeggiatorPlaysTheHeldChordInTime() {
        struct Case {
            std::uint32_t blockFrames, rate;
            float bpm;
            int octaves, mode;
            std::vector<int> pattern;
            int steps; // in the first minute
        };
        // The last: steps of 17115.1 frames, each carrying a fraction of a frame into the next.
        for (const Case& c : {Case{256, 48000, 120.0f, 1, 0, {60, 64, 67}, 240},
                              Case{333, 48000, 120.0f, 2, 0, {60, 64, 67, 72, 76, 79}, 240},
                              Case{4096, 48000, 120.0f, 1, 1, {67, 64, 60}, 240},
                              Case{512, 44100, 77.3f, 1, 0, {60, 64, 67}, 154}}) {
            Rig rig(c.blockFrames, c.rate, c.bpm);
            rig.push(
                WorkstationState{.arpeggiatorEnabled = true, .arpMode = c.mode, .arpOctaves = c.octaves});
            for (int note : {60, 64, 67})
                rig.engine().submitMidiEvent(MidiEvent::noteOn(0, note, 100));
            // Keys drained in block 0, then each step in the block of its ideal time: no drift.
            const double eighth = 30.0 / static_cast<double>(c.bpm) * c.rate;
            int step = 0;
            QString last;
            for (std::uint64_t start = 0; start < 60ULL * c.rate; start += c.blockFrames) {
                rig.block();
                const QString now = rig.arp();
                if (now == last) continue;
                last = now;
                const double ideal = eighth * ++step;
                QVERIFY2(
                    start < ideal && ideal <= static_cast<double>(start + c.blockFrames),
                    qPrintable(QStringLiteral("step %1 at %2, ideal %3").arg(step).arg(start).arg(ideal)));
                QCOMPARE(now, QStringLiteral("Main:%1@%2")
                                  .arg(c.pattern[(step - 1) % c.pattern.size()])
                                  .arg(mapped(96)));
            }
            QCOMPARE(step, c.steps);
            // Releasing the keys stops the sounding step within one block.
            for (int note : {60, 64, 67})
                rig.engine().submitMidiEvent(MidiEvent::noteOff(0, note));
            rig.block();
            QCOMPARE(std::pair(rig.arp(), rig.held()), std::pair(QString(), 0));
        }
    }

    void pitchAtEveryRateWithBendTransposeAndZoneOffsets() {
        // {rate, A4 tuning, bend, transpose, octave, layer octave (the layer alone, the main channel
        // muted), split (below 100: the split synth plays), semitones, tolerance}
        const double cents03 = 12.0 * std::log2(440.3 / 440.0); // 0.3 Hz at A4
        const double rows[][9] = {{44100, 440, 0, 0, 0, 0, 0, 0, cents03},
                                  {96000, 440, 0, 0, 0, 0, 0, 0, cents03},
                                  {48000, 415, 0, 0, 0, 0, 0, 0, 12.0 * std::log2(415.3 / 415.0)},
                                  {48000, 440, 8191, 0, 0, 0, 0, 2.0 * 8191.0 / 8192.0, 0.01},
                                  {48000, 440, -8192, 0, 0, 0, 1, -2.0, 0.01},
                                  {48000, 440, 4096, 0, 0, 0, 0, 1.0, 0.01},
                                  {48000, 440, 0, -2, -1, 0, 0, -14.0, 0.01},
                                  {48000, 440, 0, 0, 0, 1, 0, 12.0, 0.01}};
        for (const auto& r : rows) {
            const int layerOctave = int(r[5]);
            auto engine = synthEngine(std::uint32_t(r[0]), 256);
            engine->updatePianoParameters(
                {.tuningHz = float(r[1]), .transposeSemitones = int(r[3]), .octaveShift = int(r[4])});
            engine->updateWorkstationState({.layer2Enabled = layerOctave != 0,
                                            .splitEnabled = r[6] != 0,
                                            .splitKey = 100,
                                            .layer2OctaveOffset = layerOctave});
            engine->setChannelMuted(MixerChannelId::Piano, layerOctave != 0);
            engine->submitMidiEvent(MidiEvent::pitchBendEvent(0, int(r[2])));
            const double hz = soundingFrequency(*engine, 69);
            QVERIFY2(std::fabs(12.0 * std::log2(hz / r[1]) - r[7]) < r[8],
                     qPrintable(QStringLiteral("row %1: A4 at %2 Hz").arg(&r - rows).arg(hz)));
        }
    }

    // Concert pitch on SoundFont channels and synths; bend on keyboard channels only.
    void concertPitchAndBendOnTheSoundFontChannels() {
        // An accordion (its A4 within a cent of 440 Hz) on the SoundFont main zone (source 0) and
        // channel 3, and the synth layer (source 1), each with the other muted; a bend of a
        // semitone on channel 0 raises the two keyboard sources, not channel 3.
        for (const auto& [rate, tuning] : {std::pair{44100u, 415.0f}, {96000u, 445.0f}}) {
            for (const int source : {0, 1, 3}) {
                auto engine = synthEngine(rate, 256);
                engine->setSlotEngineType(0, SoundEngineType::SoundFont);
                engine->fluidSynth.selectProgram(0, font, 0, 21);
                engine->fluidSynth.selectProgram(3, font, 0, 21);
                engine->updatePianoParameters({.tuningHz = tuning});
                engine->updateWorkstationState({.layer2Enabled = source <= 1});
                engine->setChannelMuted(MixerChannelId::Piano, source == 1);
                engine->setChannelMuted(MixerChannelId::Layer2, source != 1);
                engine->submitMidiEvent(MidiEvent::pitchBendEvent(0, 4096));
                const double hz =
                    soundingFrequency(*engine, 69, source == 1 ? 0 : source, tuning * 0.8, tuning * 1.25);
                const double cents = 1200.0 * std::log2(hz / tuning) - (source == 3 ? 0.0 : 100.0);
                QVERIFY2(std::fabs(cents) < 2.0,
                         qPrintable(QStringLiteral("source %1: %2 Hz").arg(source).arg(hz)));
            }
        }
    }

    void rendererQueuesEachEventBeforeTheBlockAtItsFrame() {
        // 480 ticks a quarter; 120 BPM until tick 960 (1 s), then 90 BPM (1 quarter = 2/3 s).
        const QByteArray conductor = tempo(0, 500000) + tempo(960, 666667) + endOfTrack();
        const QByteArray notes = midiMessage(100, 0x90, 60, 100) + midiMessage(0, 0x91, 64, 90) +
                                 midiMessage(860, 0x80, 60, 0) + midiMessage(1, 0xE0, 0, 0x40) +
                                 midiMessage(479, 0x81, 64, 0) + endOfTrack(240);
        StandardMidiFile file;
        QVERIFY(file.parse(header(1, 2, 480) + track(conductor) + track(notes)));
        const double q90 = 0.666667;
        const double seconds[] = {100 / 960.0, 100 / 960.0, 1.0, 1.0 + q90 / 480, 1.0 + q90};
        for (const auto& [rate, block] : {std::pair{44100u, 256u}, {48000u, 17u}, {96000u, 4096u}}) {
            MidiFileRenderer renderer(file, {rate, block, 0.5});
            QCOMPARE(renderer.totalFrames(), std::uint64_t(std::llround((1.0 + 1.5 * q90) * rate)) +
                                                 std::uint64_t(std::llround(0.5 * rate)));
            // Stands in for the engine: at which frame each event was queued, how long each block was.
            std::vector<std::pair<std::uint64_t, MidiEvent>> queued;
            std::uint64_t frames = 0, badBlocks = 0;
            QVERIFY(renderer.render(
                [&](const MidiEvent& e) {
                    queued.push_back({frames, e});
                },
                [&](float* out, std::uint32_t n) {
                    std::fill_n(out, 2 * n, 0.25f);
                    badBlocks += n < 1 || n > block;
                    frames += n;
                },
                [](const float*, std::uint32_t) { return true; }));
            QCOMPARE(std::pair(frames, badBlocks), std::pair(renderer.totalFrames(), std::uint64_t{0}));
            QCOMPARE(queued.size(), std::size(seconds));
            for (std::size_t i = 0; i < std::size(seconds); ++i)
                QCOMPARE(queued[i].first, std::uint64_t(std::llround(seconds[i] * rate)));
            QVERIFY(queued[0].second.status == MidiEvent::NoteOn && queued[1].second.channel == 1 &&
                    queued[3].second.status == MidiEvent::PitchBend && queued[4].second.data1 == 64);
        }
    }
};

QTEST_GUILESS_MAIN(EventDispatchTest)
#include "tst_event_dispatch.moc"
