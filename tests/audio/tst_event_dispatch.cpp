// Realtime event dispatch: the event queue, zone routing, touch curves, chord memory,
// the pedals, the arpeggiator's timing and the release of exactly what each key
// started. Routing is observed through the engine's own record of the voices each key holds.

#include "audio/AudioEngine.h"

#include <QTest>

#include <memory>

using namespace tmb;

namespace {

// An offline engine driven block by block on the test thread, with every slot on the
// built-in synth unless a test says otherwise.
class Rig {
public:
    explicit Rig(std::uint32_t blockFrames = 256)
        : m_engine(std::make_unique<AudioEngine>())
        , m_out(2 * 4096)
        , m_blockFrames(blockFrames) {
        m_engine->prepareOffline(48000, blockFrames);
        for (int slot = 0; slot < 3; ++slot)
            m_engine->setSlotEngineType(slot, SoundEngineType::Synth);
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

    // "Main:60@81 Layer:72@81" for the voices an owner holds, in the order started.
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
};

QTEST_GUILESS_MAIN(EventDispatchTest)
#include "tst_event_dispatch.moc"
