// Realtime event dispatch: zone routing, touch curves, chord memory, the pedals,
// the arpeggiator's timing and the release of exactly what each key started. Routing
// is observed through the engine's own record of the voices each key holds.

#include "audio/AudioEngine.h"

#include <QTest>

#include <memory>

using namespace tmb;

namespace {

const char* targetName(VoiceTarget target) {
    switch (target) {
    case VoiceTarget::Sfz:
        return "Sfz";
    case VoiceTarget::SoundFontMain:
        return "SfMain";
    case VoiceTarget::SoundFontLayer:
        return "SfLayer";
    case VoiceTarget::SoundFontSplit:
        return "SfSplit";
    case VoiceTarget::SynthMain:
        return "Main";
    case VoiceTarget::SynthLayer:
        return "Layer";
    case VoiceTarget::SynthSplit:
        return "Split";
    }
    return "?";
}

// An offline engine driven block by block on the test thread, with every slot on the
// built-in synth unless a test says otherwise.
class Rig {
public:
    explicit Rig(std::uint32_t rate = 48000, std::uint32_t blockFrames = 256)
        : m_engine(std::make_unique<AudioEngine>())
        , m_out(2 * 4096)
        , m_blockFrames(blockFrames) {
        m_engine->prepareOffline(rate, blockFrames);
        for (int slot = 0; slot < 3; ++slot)
            m_engine->setSlotEngineType(slot, SoundEngineType::Synth);
        block();
    }

    AudioEngine& engine() { return *m_engine; }
    void block() { m_engine->processAudioCallback(m_out.data(), m_blockFrames); }
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
        QStringList parts;
        for (const StartedVoice& voice : m_engine->voiceOwnership().voicesOf(owner))
            parts << QStringLiteral("%1:%2@%3")
                         .arg(QLatin1String(targetName(voice.target)))
                         .arg(voice.pitch)
                         .arg(voice.velocity);
        return parts.join(QLatin1Char(' '));
    }
    QString key(int note) const { return voicesOf(VoiceOwnershipTable::keyboardOwner(note)); }
    int held() const { return m_engine->voiceOwnership().heldVoiceCount(); }

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
    void touchCurvesMapVelocities() {
        QCOMPARE(AudioEngine::mapTouchVelocity(10, 0), 31);
        QCOMPARE(AudioEngine::mapTouchVelocity(10, 1), 17);
        QCOMPARE(AudioEngine::mapTouchVelocity(10, 2), 3);
        QCOMPARE(AudioEngine::mapTouchVelocity(10, 3), 100);
        QCOMPARE(AudioEngine::mapTouchVelocity(127, 2), 127);
        QCOMPARE(AudioEngine::mapTouchVelocity(1, 2), 1); // never below 1
        QCOMPARE(AudioEngine::mapTouchVelocity(300, 1), 127);
        QCOMPARE(AudioEngine::mapTouchVelocity(0, 3), 0);
        QCOMPARE(AudioEngine::mapTouchVelocity(256, 1), 0); // low byte 0
    }

    void mainLayerAndSplitFollowTheZones() {
        Rig rig;
        WorkstationState state;
        state.layer2Enabled = true;
        state.layer2OctaveOffset = 1;
        state.splitEnabled = true;
        state.splitOctaveOffset = -1;
        rig.push(state);
        rig.keyOn(60);
        rig.keyOn(40);
        QCOMPARE(rig.key(60), QStringLiteral("Main:60@%1 Layer:72@%1").arg(mapped(100)));
        QCOMPARE(rig.key(40), QStringLiteral("Split:28@%1").arg(mapped(100)));

        // Slot types choose the engine; an SFZ main slot without a piano falls back
        // to the SoundFont piano.
        rig.engine().setSlotEngineType(0, SoundEngineType::Sfz);
        rig.engine().setSlotEngineType(1, SoundEngineType::SoundFont);
        rig.engine().setSlotEngineType(2, SoundEngineType::SoundFont);
        rig.keyOn(62);
        rig.keyOn(41);
        QCOMPARE(rig.key(62), QStringLiteral("SfMain:62@%1 SfLayer:74@%1").arg(mapped(100)));
        QCOMPARE(rig.key(41), QStringLiteral("SfSplit:29@%1").arg(mapped(100)));
    }

    void splitPointComparesTheTransposedNote() {
        Rig rig;
        PianoParameters params;
        params.transposeSemitones = 2;
        rig.push(params);
        WorkstationState state;
        state.splitEnabled = true;
        state.splitKey = 54;
        rig.push(state);
        rig.keyOn(52);
        rig.keyOn(51);
        QCOMPARE(rig.key(52), QStringLiteral("Main:54@%1").arg(mapped(100)));
        QCOMPARE(rig.key(51), QStringLiteral("Split:53@%1").arg(mapped(100)));
    }

    void transposeAndOctaveStayOnTheKeyboard() {
        Rig rig;
        PianoParameters params;
        params.transposeSemitones = 12;
        params.octaveShift = 3;
        rig.push(params);
        rig.keyOn(100);
        QCOMPARE(rig.key(100), QStringLiteral("Main:127@%1").arg(mapped(100)));
        params.transposeSemitones = -12;
        params.octaveShift = -3;
        rig.push(params);
        rig.keyOn(30);
        QCOMPARE(rig.key(30), QStringLiteral("Main:0@%1").arg(mapped(100)));
    }

    void velocitySwitchBringsInTheLayerFromTheThreshold() {
        Rig rig;
        WorkstationState state;
        state.velocitySwitchEnabled = true;
        state.velocityThreshold = 96;
        state.layer2Enabled = false;
        rig.push(state);
        int soft = -1;
        int strong = -1;
        for (int v = 1; v <= 127; ++v) {
            if (mapped(v) == 95 && soft < 0) soft = v;
            if (mapped(v) == 96 && strong < 0) strong = v;
        }
        QVERIFY(soft > 0 && strong > 0);
        rig.keyOn(60, soft);
        rig.keyOn(62, strong);
        QCOMPARE(rig.key(60), QStringLiteral("Main:60@95"));
        QCOMPARE(rig.key(62), QStringLiteral("Main:62@96 Layer:62@96"));

        // With velocity switching on, the layer switch itself no longer counts.
        state.layer2Enabled = true;
        rig.push(state);
        rig.keyOn(64, soft);
        QCOMPARE(rig.key(64), QStringLiteral("Main:64@95"));
    }

    void chordMemoryAddsThirdAndFifthQuieter() {
        Rig rig;
        PianoParameters params;
        params.touchCurve = 3; // fixed: whatever is played sounds at 100
        rig.push(params);
        WorkstationState state;
        state.chordMemoryEnabled = true;
        rig.push(state);
        rig.keyOn(60, 10);
        QCOMPARE(rig.key(60), QStringLiteral("Main:60@100 Main:64@100 Main:67@100"));

        params.touchCurve = 1;
        rig.push(params);
        rig.keyOn(62, 10); // 10, then 10 - 12 and 10 - 15 floored at 1
        QCOMPARE(rig.key(62),
                 QStringLiteral("Main:62@%1 Main:66@%2 Main:69@%2").arg(mapped(10)).arg(mapped(1)));
        // Companions stay on the keyboard; the fifth lands on the third's voice and
        // re-strikes it.
        rig.keyOn(125, 100);
        QCOMPARE(rig.key(125), QStringLiteral("Main:125@%1 Main:127@%2").arg(mapped(100)).arg(mapped(85)));
    }

    void noteOffReleasesWhatTheNoteOnStarted() {
        Rig rig;
        WorkstationState state;
        state.layer2Enabled = true;
        rig.push(state);
        rig.keyOn(60);
        rig.keyOn(43);
        QCOMPARE(rig.held(), 4);

        // Every setting that shapes a note changes while the keys are held.
        PianoParameters params;
        params.transposeSemitones = 5;
        params.octaveShift = -1;
        rig.push(params);
        state.layer2Enabled = false;
        state.splitEnabled = true;
        state.splitKey = 70;
        state.chordMemoryEnabled = true;
        state.layer2OctaveOffset = 2;
        rig.push(state);
        rig.engine().setSlotEngineType(0, SoundEngineType::SoundFont);

        rig.keyOff(60);
        QCOMPARE(rig.key(60), QString());
        QCOMPARE(rig.engine().voiceOwnership().ownersOf(VoiceTarget::SynthMain, 60), 0);
        QCOMPARE(rig.engine().voiceOwnership().ownersOf(VoiceTarget::SynthLayer, 60), 0);
        QCOMPARE(rig.engine().voiceOwnership().ownersOf(VoiceTarget::SynthMain, 43), 1);
        rig.keyOff(43);
        QCOMPARE(rig.held(), 0);
    }

    void reStrikeAddsToTheKeysRecord() {
        Rig rig;
        rig.keyOn(60);
        PianoParameters params;
        params.transposeSemitones = 1;
        rig.push(params);
        rig.keyOn(60);
        QCOMPARE(rig.key(60), QStringLiteral("Main:60@%1 Main:61@%1").arg(mapped(100)));
        rig.keyOn(60, 50); // the same voice again: one entry, new velocity
        QCOMPARE(rig.key(60), QStringLiteral("Main:60@%1 Main:61@%2").arg(mapped(100)).arg(mapped(50)));
        rig.keyOff(60);
        QCOMPARE(rig.held(), 0);
    }

    void sharedVoicesSoundUntilTheirLastKeyIsReleased() {
        Rig rig;
        WorkstationState state;
        state.chordMemoryEnabled = true;
        rig.push(state);
        rig.keyOn(60); // 60 64 67
        rig.keyOn(64); // 64 68 71
        const VoiceOwnershipTable& owners = rig.engine().voiceOwnership();
        QCOMPARE(owners.ownersOf(VoiceTarget::SynthMain, 64), 2);
        rig.keyOff(60);
        QCOMPARE(owners.ownersOf(VoiceTarget::SynthMain, 64), 1);
        QCOMPARE(owners.ownersOf(VoiceTarget::SynthMain, 67), 0);
        QCOMPARE(rig.key(64), QStringLiteral("Main:64@%1 Main:68@%2 Main:71@%3")
                                  .arg(mapped(100))
                                  .arg(mapped(88))
                                  .arg(mapped(85)));
        rig.keyOff(64);
        QCOMPARE(rig.held(), 0);
    }

    void zoneChannelsUseTheirSlotAndRelease() {
        Rig rig;
        WorkstationState state;
        state.layer2OctaveOffset = 1;
        state.splitOctaveOffset = -2;
        rig.push(state);
        rig.keyOn(60, 90, 1);
        rig.keyOn(50, 90, 2);
        // Producers addressing a zone directly bypass transpose and the touch curve.
        QCOMPARE(rig.voicesOf(VoiceOwnershipTable::layerChannelOwner(60)), QStringLiteral("Layer:72@90"));
        QCOMPARE(rig.voicesOf(VoiceOwnershipTable::splitChannelOwner(50)), QStringLiteral("Split:26@90"));
        state.layer2OctaveOffset = -2;
        state.splitOctaveOffset = 2;
        rig.push(state);
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
        auto sustain = [&](const MidiEvent& event) {
            rig.send(event);
            return rig.engine().renderingParameters().sustainPedal;
        };
        QVERIFY(sustain(hardwareController(64, 40)));
        QVERIFY(!sustain(hardwareController(64, 39)));
        QCOMPARE(rig.engine().renderingParameters().continuousPedal, 39.0f / 127.0f);

        PianoParameters params;
        params.invertPedalPolarity = true;
        rig.push(params);
        // Inverted, the value read is 127 - v: 87 reads 40 (down), 88 reads 39 (up).
        QVERIFY(sustain(hardwareController(64, 87)));
        QVERIFY(!sustain(hardwareController(64, 88)));
        QVERIFY(!sustain(hardwareController(64, 127)));
        // The program's own pedal events carry the meant value: never inverted.
        QVERIFY(sustain(MidiEvent::controlChange(0, 64, 127)));
        QVERIFY(!sustain(MidiEvent::controlChange(0, 64, 0)));
        // Played-back events were stored as heard: never inverted either.
        rig.engine().handlePlaybackEvent(hardwareController(64, 127));
        QVERIFY(rig.engine().renderingParameters().sustainPedal);
        rig.engine().handlePlaybackEvent(hardwareController(64, 0));
        QVERIFY(!rig.engine().renderingParameters().sustainPedal);
    }

    void parameterPushNeverMovesThePedals() {
        Rig rig;
        rig.send(hardwareController(64, 127));
        rig.send(hardwareController(66, 127));
        rig.send(hardwareController(67, 127));
        rig.send(hardwareController(11, 64));

        // A pushed record (for example sound B after an A/B switch) with every pedal up.
        PianoParameters pushed;
        pushed.brightness = 0.2f;
        pushed.transposeSemitones = 3;
        pushed.expressionPedal = 1.0f;
        rig.push(pushed);
        const PianoParameters& live = rig.engine().renderingParameters();
        QVERIFY(live.sustainPedal);
        QVERIFY(live.sostenutoPedal);
        QVERIFY(live.softPedal);
        QCOMPARE(live.continuousPedal, 1.0f);
        QCOMPARE(live.expressionPedal, 64.0f / 127.0f);
        // The settings themselves arrive.
        QCOMPARE(live.brightness, 0.2f);
        QCOMPARE(live.transposeSemitones, 3);

        rig.send(hardwareController(64, 0));
        rig.push(pushed);
        QVERIFY(!rig.engine().renderingParameters().sustainPedal);
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
        Rig rig(48000, static_cast<std::uint32_t>(blockFrames));
        WorkstationState state;
        state.arpeggiatorEnabled = true;
        state.arpOctaves = octaves;
        state.arpMode = mode;
        rig.push(state);

        for (int note : {60, 64, 67})
            rig.engine().submitMidiEvent(MidiEvent::noteOn(0, note, 100));
        // The keys are drained in block 0; steps of 12000 frames (eighths at 120 BPM)
        // follow, the first one full step after the keys. Over a minute, each step
        // must start in the block that holds its ideal time: no drift.
        const int arp = VoiceOwnershipTable::arpeggiatorOwner;
        const std::uint64_t minute = 48000 * 60;
        int steps = 0;
        QString last;
        for (std::uint64_t start = 0; start < minute; start += static_cast<std::uint64_t>(blockFrames)) {
            rig.block();
            const QString now = rig.voicesOf(arp);
            if (now == last) continue;
            last = now;
            ++steps;
            const std::uint64_t ideal = 12000ULL * static_cast<std::uint64_t>(steps);
            QVERIFY2(start < ideal && ideal <= start + static_cast<std::uint64_t>(blockFrames),
                     qPrintable(QStringLiteral("step %1 at %2, ideal %3").arg(steps).arg(start).arg(ideal)));
            const int expected = pattern[(steps - 1) % pattern.size()];
            QCOMPARE(now, QStringLiteral("Main:%1@%2").arg(expected).arg(mapped(96)));
        }
        QCOMPARE(steps, 240); // the 240th step is due at the last frame of the minute

        // Releasing the keys stops the sounding step within one block.
        for (int note : {60, 64, 67})
            rig.engine().submitMidiEvent(MidiEvent::noteOff(0, note));
        rig.block();
        QCOMPARE(rig.voicesOf(arp), QString());
        QCOMPARE(rig.held(), 0);
    }

    void arpeggiatorContinuesThePatternWithANewChord() {
        Rig rig;
        WorkstationState state;
        state.arpeggiatorEnabled = true;
        rig.push(state);
        rig.keyOn(60);
        rig.keyOn(64);
        // The keys feed the arpeggiator instead of sounding.
        QCOMPARE(rig.key(60), QString());
        const int arp = VoiceOwnershipTable::arpeggiatorOwner;
        for (int i = 0; i < 60; ++i) // 15360 frames: one step
            rig.block();
        QCOMPARE(rig.voicesOf(arp), QStringLiteral("Main:60@%1").arg(mapped(96)));
        rig.keyOff(60);
        rig.keyOff(64);
        QCOMPARE(rig.voicesOf(arp), QString());
        // A new chord steps one full step after its first key. The step counter was
        // not reset: the chord starts at its second note.
        rig.keyOn(62);
        rig.keyOn(65);
        for (int i = 0; i < 44; ++i) // 46 blocks since the first key: 11776 frames
            rig.block();
        QCOMPARE(rig.voicesOf(arp), QString());
        rig.block();
        rig.block();
        QCOMPARE(rig.voicesOf(arp), QStringLiteral("Main:65@%1").arg(mapped(96)));

        // Switching the arpeggiator off releases its note at the next block.
        state.arpeggiatorEnabled = false;
        rig.push(state);
        QCOMPARE(rig.voicesOf(arp), QString());
    }

    void arpeggiatedNoteReleasesAsStartedAfterTranspose() {
        Rig rig;
        WorkstationState state;
        state.arpeggiatorEnabled = true;
        rig.push(state);
        rig.keyOn(60);
        for (int i = 0; i < 47; ++i)
            rig.block();
        QCOMPARE(rig.voicesOf(VoiceOwnershipTable::arpeggiatorOwner),
                 QStringLiteral("Main:60@%1").arg(mapped(96)));
        PianoParameters params;
        params.transposeSemitones = 7;
        rig.push(params);
        for (int i = 0; i < 47; ++i)
            rig.block();
        QCOMPARE(rig.voicesOf(VoiceOwnershipTable::arpeggiatorOwner),
                 QStringLiteral("Main:67@%1").arg(mapped(96)));
        QCOMPARE(rig.engine().voiceOwnership().ownersOf(VoiceTarget::SynthMain, 60), 0);
    }

    void resetForgetsEveryKey() {
        Rig rig;
        WorkstationState state;
        state.layer2Enabled = true;
        rig.push(state);
        rig.keyOn(60);
        rig.keyOn(61, 90, 1);
        QVERIFY(rig.held() > 0);
        rig.send(MidiEvent::reset());
        QCOMPARE(rig.held(), 0);

        // The arpeggiator forgets its held keys too.
        state.arpeggiatorEnabled = true;
        rig.push(state);
        rig.keyOn(60);
        rig.send(MidiEvent::reset());
        for (int i = 0; i < 100; ++i)
            rig.block();
        QCOMPARE(rig.voicesOf(VoiceOwnershipTable::arpeggiatorOwner), QString());
    }
};

QTEST_GUILESS_MAIN(EventDispatchTest)
#include "tst_event_dispatch.moc"
