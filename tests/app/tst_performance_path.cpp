// The keyboard performance path through the real controller: on-screen keys and
// pads, hardware input on the MIDI thread and the closures it posts, pedals and
// wheels, the sound and zone setters, A/B comparison, panic and the harmonizer's
// switches. The engine is prepared offline and driven block by block, so what
// reaches it is read from its own records.

#include "app/WorkstationController.h"
#include "support/TestEnvironment.h"

#include <QMetaProperty>
#include <QSignalSpy>
#include <QTest>

#include <thread>

using namespace tmb;

namespace {

// A controller whose engine renders offline on the test thread.
class Rig {
public:
    Rig()
        : controller(std::make_unique<WorkstationController>()) {
        engine().prepareOffline(48000, 256);
        for (int slot = 0; slot < 3; ++slot)
            engine().setSlotEngineType(slot, SoundEngineType::Synth);
        block();
    }
    AudioEngine& engine() { return controller->audioEngine(); }
    void block() { engine().processAudioCallback(m_out.data(), 256); }

    // Delivers an event as the MIDI input thread does, then runs the closures it posted.
    void fromHardware(const MidiEvent& event) {
        std::thread midi([&] { controller->handleRealtimeMidiEvent(event); });
        midi.join();
        QCoreApplication::processEvents();
        block();
    }
    // Voices the engine holds for a played key: "Main:60@99".
    QString engineKey(int note) {
        QStringList parts;
        for (const StartedVoice& voice : engine().voiceOwnership().voicesOf(note))
            parts << QStringLiteral("%1:%2@%3")
                         .arg(voice.target == VoiceTarget::SynthMain ? "Main" : "Other")
                         .arg(voice.pitch)
                         .arg(voice.velocity);
        return parts.join(QLatin1Char(' '));
    }

    std::unique_ptr<WorkstationController> controller;

private:
    std::vector<float> m_out = std::vector<float>(2 * 256);
};

MidiEvent hardware(MidiEvent event) {
    event.sourceClient = 28;
    event.sourcePort = 0;
    return event;
}

int mapped(int velocity) {
    return AudioEngine::mapTouchVelocity(velocity, 1);
}

} // namespace

class PerformancePathTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { test::usePrivateHome(); }

    void soundSettersClampPushAndAlwaysAnnounce_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<float>("low");
        QTest::addColumn<float>("high");
        QTest::newRow("brightness") << "brightness" << 0.0f << 1.0f;
        QTest::newRow("damperResonance") << "damperResonance" << 0.0f << 1.0f;
        QTest::newRow("stringResonance") << "stringResonance" << 0.0f << 1.0f;
        QTest::newRow("keyOffVolume") << "keyOffVolume" << 0.0f << 1.0f;
        QTest::newRow("pedalNoiseVolume") << "pedalNoiseVolume" << 0.0f << 1.0f;
        QTest::newRow("lidPosition") << "lidPosition" << 0.1f << 1.0f;
        QTest::newRow("reverbAmount") << "reverbAmount" << 0.0f << 1.0f;
        QTest::newRow("reverbRoomSize") << "reverbRoomSize" << 0.1f << 0.98f;
        QTest::newRow("chorusAmount") << "chorusAmount" << 0.0f << 1.0f;
        QTest::newRow("delayAmount") << "delayAmount" << 0.0f << 1.0f;
        QTest::newRow("driveAmount") << "driveAmount" << 0.0f << 1.0f;
        QTest::newRow("compressorAmount") << "compressorAmount" << 0.0f << 1.0f;
        QTest::newRow("stereoWidth") << "stereoWidth" << 0.0f << 1.6f;
        QTest::newRow("tuningHz") << "tuningHz" << 415.0f << 466.0f;
    }
    void soundSettersClampPushAndAlwaysAnnounce() {
        QFETCH(QString, name);
        QFETCH(float, low);
        QFETCH(float, high);
        Rig rig;
        WorkstationController& c = *rig.controller;
        QSignalSpy changed(&c, &WorkstationController::pianoParamsChanged);
        const QByteArray property = name.toLatin1();

        QVERIFY(c.setProperty(property, high + 100.0f));
        QCOMPARE(c.property(property).toFloat(), high);
        QVERIFY(c.setProperty(property, low - 100.0f));
        QCOMPARE(c.property(property).toFloat(), low);
        const float middle = (low + high) / 2.0f;
        QVERIFY(c.setProperty(property, middle));
        QVERIFY(c.setProperty(property, middle)); // the same value still announces
        QCOMPARE(changed.count(), 4);

        // The record reaches the engine at the next block.
        rig.block();
        const PianoParameters& engine = rig.engine().renderingParameters();
        const std::map<QString, float> seen{{"brightness", engine.brightness},
                                            {"damperResonance", engine.damperResonance},
                                            {"stringResonance", engine.stringResonance},
                                            {"keyOffVolume", engine.keyOffVolume},
                                            {"pedalNoiseVolume", engine.pedalNoiseVolume},
                                            {"lidPosition", engine.lidPosition},
                                            {"reverbAmount", engine.reverbAmount},
                                            {"reverbRoomSize", engine.reverbRoomSize},
                                            {"chorusAmount", engine.chorusAmount},
                                            {"delayAmount", engine.delayAmount},
                                            {"driveAmount", engine.driveAmount},
                                            {"compressorAmount", engine.compressorAmount},
                                            {"stereoWidth", engine.stereoWidth},
                                            {"tuningHz", engine.tuningHz}};
        QCOMPARE(seen.at(name), middle);
    }

    void zoneAndKeySettersClampAndPush() {
        Rig rig;
        WorkstationController& c = *rig.controller;
        QSignalSpy zones(&c, &WorkstationController::workstationChanged);
        QSignalSpy hymn(&c, &WorkstationController::hymnStateChanged);
        QSignalSpy arranger(&c, &WorkstationController::arrangerStateChanged);
        c.setSplitKey(10);
        c.setVelocityThreshold(127);
        c.setArpMode(9);
        c.setArpOctaves(0);
        c.setLayer2OctaveOffset(-5);
        c.setSplitOctaveOffset(5);
        c.setChordMemoryEnabled(true);
        QCOMPARE(zones.count(), 7);
        c.setTransposeSemitones(20);
        c.setOctaveShift(-9);
        c.setTouchCurve(7);
        QCOMPARE(hymn.count(), 1);
        QCOMPARE(arranger.count(), 1);
        rig.block();
        const WorkstationState& state = rig.engine().renderingWorkstationState();
        QCOMPARE(state.splitKey, 21);
        QCOMPARE(state.velocityThreshold, 126);
        QCOMPARE(state.arpMode, 3);
        QCOMPARE(state.arpOctaves, 1);
        QCOMPARE(state.layer2OctaveOffset, -2);
        QCOMPARE(state.splitOctaveOffset, 2);
        QVERIFY(state.chordMemoryEnabled);
        const PianoParameters& params = rig.engine().renderingParameters();
        QCOMPARE(params.transposeSemitones, 12);
        QCOMPARE(params.octaveShift, -3);
        QCOMPARE(params.touchCurve, 3);
    }

    void onScreenKeys() {
        Rig rig;
        WorkstationController& c = *rig.controller;
        QSignalSpy keys(&c, &WorkstationController::keyStateUpdated);
        c.noteOn(128, 100);
        c.noteOff(-1);
        QCOMPARE(keys.count(), 0);

        c.noteOn(60, 0);
        QCOMPARE(c.lastVelocityPlayed(), 1);
        QCOMPARE(keys.count(), 1); // harmonizer off: the key alone
        QCOMPARE(keys.at(0), (QVariantList{60, true, 1}));
        QVERIFY(c.isKeyPressed(60));
        QVERIFY(!c.isKeyPressed(128));
        rig.block();
        QCOMPARE(rig.engineKey(60), QStringLiteral("Main:60@%1").arg(mapped(1)));

        c.noteOn(62, 300);
        QCOMPARE(c.lastVelocityPlayed(), 127);
        c.noteOn(64); // velocity 100 when omitted
        QCOMPARE(c.lastVelocityPlayed(), 100);
        QCOMPARE(c.lastNotePlayed(), 64);
        rig.block();
        QCOMPARE(rig.engineKey(62), QStringLiteral("Main:62@127"));

        c.noteOff(60);
        QVERIFY(!c.isKeyPressed(60));
        rig.block();
        QCOMPARE(rig.engineKey(60), QString());
    }

    void harmonizedKeyLightsTheKeyAndItsCorrection() {
        Rig rig;
        WorkstationController& c = *rig.controller;
        c.setAutoTuneEnabled(true);
        QSignalSpy keys(&c, &WorkstationController::keyStateUpdated);
        QSignalSpy status(&c, &WorkstationController::autoTuneStateChanged);
        c.noteOn(61, 100); // mode 0, degree I: 61 snaps to 60 with the duet voice 57
        QCOMPARE(keys.count(), 2);
        QCOMPARE(keys.at(1), (QVariantList{60, true, 100}));
        QCOMPARE(c.lastNotePlayed(), 60);
        QVERIFY(c.isKeyPressed(61) && c.isKeyPressed(60));
        QTRY_COMPARE(status.count(), 1);
        QCOMPARE(c.autoTuneStatusText(), QStringLiteral("SNAP C#4 → C4 (2v)"));
        QCOMPARE(c.autoTuneCorrectedCount(), 1);
        rig.block(); // the voices start before the transpose below arrives

        c.setTransposeSemitones(2); // names as heard
        c.noteOn(64, 100);
        QTRY_COMPARE(status.count(), 2);
        QCOMPARE(c.autoTuneStatusText(), QStringLiteral("Yamaha P.A.T. + Duet • F#4 (2v)"));
        QCOMPARE(c.autoTuneCorrectedCount(), 1);

        // Releasing E4 must not cut C4, which E4's duet voice shares.
        c.noteOff(64);
        QCoreApplication::processEvents();
        rig.block();
        // Engine key 60 was struck by C#4's lead (untransposed) and by E4's duet voice
        // (transposed by 2): it keeps both.
        QCOMPARE(rig.engineKey(60), QStringLiteral("Main:60@%1 Main:62@%2").arg(mapped(99)).arg(mapped(83)));
        QVERIFY(c.isKeyPressed(60));
        QVERIFY(!c.isKeyPressed(64));
        c.noteOff(61);
        QCoreApplication::processEvents();
        rig.block();
        QCOMPARE(rig.engine().voiceOwnership().heldVoiceCount(), 0);
        QVERIFY(!c.isKeyPressed(60)); // cleared by the released voice
    }

    void autoTuneSwitchesAndTexts() {
        Rig rig;
        WorkstationController& c = *rig.controller;
        QSignalSpy banner(&c, &WorkstationController::statusBannerChanged);
        QSignalSpy state(&c, &WorkstationController::autoTuneStateChanged);
        c.setAutoTuneMode(2); // off: quiet apart from the state
        QCOMPARE(banner.count(), 0);
        QCOMPARE(state.count(), 1);
        QCOMPARE(c.autoTuneStatusText(), QStringLiteral("OFF • Manual Performance"));
        c.cycleAutoTuneMode(); // to mode 3 and on
        QCOMPARE(c.autoTuneMode(), 3);
        QVERIFY(c.autoTuneEnabled());
        QCOMPARE(c.statusBanner(), QStringLiteral("AUTO-TUNE ON: Neo-Soul 9th Sweetener (Scale-Snap + Yamaha "
                                                  "Smart Harmony + Velocity Sweetener)"));
        QCOMPARE(c.autoTuneStatusText(), QStringLiteral("ACTIVE • Neo-Soul 9th Sweetener"));
        c.setAutoTuneMode(-4);
        QCOMPARE(c.autoTuneMode(), 0);
        QCOMPARE(c.statusBanner(), QStringLiteral("AUTO-TUNE MODE: Yamaha P.A.T. + Duet"));
        const int before = banner.count();
        c.setAutoTuneEnabled(true); // unchanged: nothing
        QCOMPARE(banner.count(), before);
        c.setAutoTuneEnabled(false);
        QCOMPARE(c.statusBanner(), QStringLiteral("AUTO-TUNE OFF • Full Manual Chromatic Control"));
        QCOMPARE(c.autoTuneModeName(), QStringLiteral("Yamaha P.A.T. + Duet"));
    }

    void hardwareNotesAndZoneChannels() {
        Rig rig;
        WorkstationController& c = *rig.controller;
        QSignalSpy keys(&c, &WorkstationController::keyStateUpdated);
        QSignalSpy zones(&c, &WorkstationController::workstationChanged);
        rig.fromHardware(hardware(MidiEvent::noteOn(0, 60, 90)));
        QCOMPARE(c.lastMidiControlText(), QStringLiteral("Key C4 (60) • Vel 90"));
        QVERIFY(c.isKeyPressed(60));
        QCOMPARE(rig.engineKey(60), QStringLiteral("Main:60@%1").arg(mapped(90)));
        // A note-on with velocity 0 is a note-off.
        MidiEvent off = hardware(MidiEvent::noteOn(0, 60, 90));
        off.data2 = 0;
        rig.fromHardware(off);
        QVERIFY(!c.isKeyPressed(60));
        QCOMPARE(rig.engineKey(60), QString());
        // On, off, and the released voice's own release.
        QCOMPARE(keys.count(), 3);
        QCOMPARE(keys.at(1), (QVariantList{60, false, 0}));

        rig.fromHardware(hardware(MidiEvent::noteOn(1, 61, 80)));
        QVERIFY(c.layer2Enabled());
        QCOMPARE(zones.count(), 1);
        QCOMPARE(c.lastMidiControlText(), QStringLiteral("Key C#4 (61) • Vel 80 • Zone Ch 2"));
        rig.fromHardware(hardware(MidiEvent::noteOn(1, 62, 80))); // already on: no second signal
        QCOMPARE(zones.count(), 1);
    }

    void hardwarePedalsWheelsAndProgramChanges() {
        Rig rig;
        WorkstationController& c = *rig.controller;
        QSignalSpy pedals(&c, &WorkstationController::pedalStateChanged);
        rig.fromHardware(hardware(MidiEvent::controlChange(0, 64, 39)));
        QCOMPARE(c.lastMidiControlText(), QStringLiteral("Damper Pedal (CC 64) → UP (31%)"));
        QVERIFY(!c.sustainPedal());
        rig.fromHardware(hardware(MidiEvent::controlChange(0, 64, 40)));
        QCOMPARE(c.lastMidiControlText(), QStringLiteral("Damper Pedal (CC 64) → DOWN (31%)"));
        QVERIFY(c.sustainPedal());
        QVERIFY(rig.engine().renderingParameters().sustainPedal);
        c.setInvertPedalPolarity(true);
        rig.fromHardware(hardware(MidiEvent::controlChange(0, 64, 127)));
        QCOMPARE(c.lastMidiControlText(), QStringLiteral("Damper Pedal (CC 64) → UP (0%)"));
        QVERIFY(!rig.engine().renderingParameters().sustainPedal);
        QVERIFY(pedals.count() >= 4);

        rig.fromHardware(hardware(MidiEvent::controlChange(0, 66, 64)));
        QCOMPARE(c.lastMidiControlText(), QStringLiteral("Sostenuto Pedal (CC 66) → ON"));
        rig.fromHardware(hardware(MidiEvent::controlChange(0, 67, 63)));
        QCOMPARE(c.lastMidiControlText(), QStringLiteral("Soft Pedal (CC 67) → OFF"));
        rig.fromHardware(hardware(MidiEvent::controlChange(0, 11, 127)));
        QCOMPARE(c.lastMidiControlText(), QStringLiteral("Expression Pedal (CC 11) → 100%"));
        QCOMPARE(c.expressionPedal(), 1.0f);

        QSignalSpy wheels(&c, &WorkstationController::wheelsChanged);
        rig.fromHardware(hardware(MidiEvent::controlChange(0, 1, 64)));
        QCOMPARE(c.lastMidiControlText(), QStringLiteral("Mod Wheel (CC 1) → 50%"));
        QCOMPARE(c.chorusAmount(), 64.0f / 127.0f);
        QCOMPARE(rig.engine().renderingParameters().chorusAmount, 64.0f / 127.0f);
        rig.fromHardware(hardware(MidiEvent::pitchBendEvent(0, -8192)));
        QCOMPARE(c.pitchBendValue(), -1.0f);
        QCOMPARE(c.lastMidiControlText(), QStringLiteral("Pitch Bend → -100%"));
        QCOMPARE(wheels.count(), 2);

        MidiEvent program = hardware(MidiEvent{});
        program.status = MidiEvent::ProgramChange;
        program.data1 = 9;
        rig.fromHardware(program);
        QCOMPARE(c.lastMidiControlText(), QStringLiteral("Program Change 9 → Registration 2"));
    }

    void hardwareDamperSwitchesTheEnginesAutoDamperOff() {
        Rig rig;
        WorkstationController& c = *rig.controller;
        c.setAutoPedalEnabled(true);
        QCOMPARE(c.lastMidiControlText(), QStringLiteral("Smart Auto-Damper → ENABLED (Hands-Free Legato)"));
        c.setSustainLatched(true);
        rig.block();
        QVERIFY(rig.engine().renderingParameters().autoPedalEnabled);
        rig.fromHardware(hardware(MidiEvent::controlChange(0, 64, 0)));
        QVERIFY(!c.autoPedalEnabled());
        QVERIFY(!c.sustainLatched());
        rig.block();
        QVERIFY(!rig.engine().renderingParameters().autoPedalEnabled);
    }

    void onScreenPedalsAreNeverInverted() {
        Rig rig;
        WorkstationController& c = *rig.controller;
        c.setInvertPedalPolarity(true);
        QCOMPARE(c.lastMidiControlText(), QStringLiteral("External Sustain Polarity → INVERTED (NC)"));
        c.setSustainPedal(true);
        rig.block();
        QVERIFY(rig.engine().renderingParameters().sustainPedal);
        c.setSustainPedal(false);
        rig.block();
        QVERIFY(!rig.engine().renderingParameters().sustainPedal);
        c.setContinuousPedal(0.5f); // 64: down
        rig.block();
        QVERIFY(c.sustainPedal());
        QVERIFY(rig.engine().renderingParameters().sustainPedal);
        c.setContinuousPedal(0.3f); // 38: up
        rig.block();
        QVERIFY(!rig.engine().renderingParameters().sustainPedal);

        // The latch holds the pedal down against a release.
        c.setSustainLatched(true);
        QCOMPARE(c.lastMidiControlText(), QStringLiteral("Virtual Sustain Latch → LOCKED ON"));
        c.setSustainPedal(false);
        rig.block();
        QVERIFY(c.sustainPedal());
        QVERIFY(rig.engine().renderingParameters().sustainPedal);
        c.setSustainLatched(false);
        rig.block();
        QVERIFY(!rig.engine().renderingParameters().sustainPedal);

        c.setSostenutoPedal(true);
        c.setSoftPedal(true);
        c.setExpressionPedal(0.05f);
        rig.block();
        QVERIFY(rig.engine().renderingParameters().sostenutoPedal);
        QVERIFY(rig.engine().renderingParameters().softPedal);
        QCOMPARE(rig.engine().renderingParameters().expressionPedal, 6.0f / 127.0f);
        QCOMPARE(rig.engine().channelVolume(MixerChannelId::Piano), 0.15f);
    }

    void abComparisonSwapsSoundsButNotTheFoot() {
        Rig rig;
        WorkstationController& c = *rig.controller;
        c.setBrightness(0.7f);
        c.setTransposeSemitones(-3);
        c.setTouchCurve(2);
        QCOMPARE(c.abSlotBActive(), false);
        c.toggleAbCompare();
        QVERIFY(c.abSlotBActive());
        QCOMPARE(c.brightness(), 0.38f);
        QCOMPARE(c.lidPosition(), 0.65f);
        QCOMPARE(c.reverbAmount(), 0.48f);
        QCOMPARE(c.transposeSemitones(), 0);
        c.toggleAbCompare();
        QCOMPARE(c.brightness(), 0.7f);
        QCOMPARE(c.transposeSemitones(), -3);
        QCOMPARE(c.touchCurve(), 2);
        QCOMPARE(c.lidPosition(), 1.0f);

        // The foot holds the damper while the player compares sounds.
        rig.fromHardware(hardware(MidiEvent::controlChange(0, 64, 127)));
        c.toggleAbCompare();
        rig.block();
        QVERIFY(c.sustainPedal());
        QVERIFY(rig.engine().renderingParameters().sustainPedal);
        c.toggleAbCompare();
        rig.block();
        QVERIFY(c.sustainPedal());
        QVERIFY(rig.engine().renderingParameters().sustainPedal);
        QCOMPARE(c.brightness(), 0.7f);
    }

    void wheelsSendTheirEvents() {
        Rig rig;
        WorkstationController& c = *rig.controller;
        QSignalSpy params(&c, &WorkstationController::pianoParamsChanged);
        c.setModWheelValue(2.0f);
        QCOMPARE(c.modWheelValue(), 1.0f);
        QCOMPARE(c.chorusAmount(), 1.0f);
        QCOMPARE(params.count(), 1);
        c.setPitchBendValue(-3.0f);
        QCOMPARE(c.pitchBendValue(), -1.0f);
        rig.block();
        QCOMPARE(rig.engine().renderingParameters().chorusAmount, 1.0f);
    }

    void panicReleasesEverything() {
        Rig rig;
        WorkstationController& c = *rig.controller;
        c.setAutoTuneEnabled(true);
        c.setLayer2Enabled(true);
        c.noteOn(60);
        c.noteOn(64);
        rig.fromHardware(hardware(MidiEvent::noteOn(0, 67, 90)));
        QVERIFY(rig.engine().voiceOwnership().heldVoiceCount() > 0);
        QSignalSpy keys(&c, &WorkstationController::keyStateUpdated);
        QSignalSpy keyboard(&c, &WorkstationController::keyboardStateChanged);
        c.panicAllNotesOff();
        QCOMPARE(keys.count(), 128);
        QCOMPARE(keyboard.count(), 1);
        for (int n = 0; n < 128; ++n)
            QVERIFY(!c.isKeyPressed(n));
        rig.block();
        QCOMPARE(rig.engine().voiceOwnership().heldVoiceCount(), 0);
        QCOMPARE(c.harmonizer().heldVoiceCount(), 0);
    }

    void hardwareResetForgetsHarmonizerVoices() {
        Rig rig;
        WorkstationController& c = *rig.controller;
        c.setAutoTuneEnabled(true);
        // E4 is held when the keyboard goes away; its note-off never comes.
        rig.fromHardware(hardware(MidiEvent::noteOn(0, 64, 90)));
        rig.fromHardware(MidiEvent::reset());
        QCOMPARE(c.harmonizer().heldVoiceCount(), 0);
        QVERIFY(!c.isKeyPressed(64));
        // C4 (E4's duet voice) played and released later must stop.
        c.noteOn(60);
        c.noteOff(60);
        rig.block();
        QCOMPARE(rig.engine().voiceOwnership().heldVoiceCount(), 0);
    }

    void drumPadsLightTheirPad() {
        Rig rig;
        WorkstationController& c = *rig.controller;
        QSignalSpy pedals(&c, &WorkstationController::pedalStateChanged);
        c.triggerDrumPad(36);
        QCOMPARE(c.activePadIndex(), 0);
        c.triggerDrumPad(42, 500);
        QCOMPARE(c.activePadIndex(), 2);
        c.triggerDrumPad(50);
        QCOMPARE(c.activePadIndex(), 3);
        QTRY_COMPARE_WITH_TIMEOUT(c.activePadIndex(), -1, 1000);
        QCOMPARE(pedals.count(), 4);
        // Drum pads never enter the keyboard's voices.
        rig.block();
        QCOMPARE(rig.engine().voiceOwnership().heldVoiceCount(), 0);
    }
};

QTEST_MAIN(PerformancePathTest)
#include "tst_performance_path.moc"
