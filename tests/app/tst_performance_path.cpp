// The keyboard performance path through the real controller: on-screen keys and
// pads, hardware input on the MIDI thread and the closures it posts, pedals and
// wheels, the sound and zone setters, A/B comparison, panic and the harmonizer's
// switches. The engine is prepared offline and driven block by block, so what
// reaches it is read from its own records.

#include "app/WorkstationController.h"
#include "support/TestEnvironment.h"

#include <QSignalSpy>
#include <QTest>

#include <thread>

using namespace tmb;
using namespace Qt::StringLiterals;

namespace {

// A controller whose engine renders offline on the test thread.
class Rig {
public:
    Rig()
        : controller(std::make_unique<WorkstationController>())
        , c(*controller) {
        engine().prepareOffline(48000, 256);
        for (int slot = 0; slot < 3; ++slot)
            engine().setSlotEngineType(slot, SoundEngineType::Synth);
        block();
    }
    AudioEngine& engine() { return controller->audioEngine(); }
    const PianoParameters& params() { return engine().renderingParameters(); }
    void block() { engine().processAudioCallback(m_out.data(), 256); }

    // Delivers an event from a hardware port as the MIDI input thread does, then
    // runs the closures it posted.
    // Returns the status line's text afterwards.
    QString fromHardware(MidiEvent event, bool fromPort = true) {
        if (fromPort) {
            event.sourceClient = 28;
            event.sourcePort = 0;
        }
        std::thread midi([&] { controller->handleRealtimeMidiEvent(event); });
        midi.join();
        QCoreApplication::processEvents();
        block();
        return c.lastMidiControlText();
    }
    // Voices the engine holds for a played key: "Main:60@99".
    QString engineKey(int note) {
        QStringList parts;
        for (const StartedVoice& voice : engine().voiceOwnership().voicesOf(note))
            parts << u"%1:%2@%3"_s.arg(voice.target == VoiceTarget::SynthMain ? "Main" : "Other")
                         .arg(voice.pitch)
                         .arg(voice.velocity);
        return parts.join(QLatin1Char(' '));
    }

    std::unique_ptr<WorkstationController> controller;
    WorkstationController& c;

private:
    std::vector<float> m_out = std::vector<float>(2 * 256);
};

int mapped(int velocity) {
    return AudioEngine::mapTouchVelocity(velocity, 1);
}

MidiEvent cc(int controller, int value) {
    return MidiEvent::controlChange(0, controller, value);
}

} // namespace

class PerformancePathTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { test::usePrivateHome(); }

    // Every sound setter clamps, announces even an unchanged value, and its record
    // reaches the engine at the next block.
    void soundAndZoneSettersClampPushAndAnnounce() {
        Rig rig;
        WorkstationController& c = rig.c;
#define TMB_SOUND(name, low, high)                                                                           \
    { #name, low, high, &PianoParameters::name }
        const std::tuple<const char*, float, float, float PianoParameters::*> sound[] = {
            TMB_SOUND(brightness, 0.0f, 1.0f),       TMB_SOUND(damperResonance, 0.0f, 1.0f),
            TMB_SOUND(stringResonance, 0.0f, 1.0f),  TMB_SOUND(keyOffVolume, 0.0f, 1.0f),
            TMB_SOUND(pedalNoiseVolume, 0.0f, 1.0f), TMB_SOUND(lidPosition, 0.1f, 1.0f),
            TMB_SOUND(reverbAmount, 0.0f, 1.0f),     TMB_SOUND(reverbRoomSize, 0.1f, 0.98f),
            TMB_SOUND(chorusAmount, 0.0f, 1.0f),     TMB_SOUND(delayAmount, 0.0f, 1.0f),
            TMB_SOUND(driveAmount, 0.0f, 1.0f),      TMB_SOUND(compressorAmount, 0.0f, 1.0f),
            TMB_SOUND(stereoWidth, 0.0f, 1.6f),      TMB_SOUND(tuningHz, 415.0f, 466.0f)};
#undef TMB_SOUND
        QSignalSpy changed(&c, &WorkstationController::pianoParamsChanged);
        for (const auto& [name, low, high, field] : sound) {
            changed.clear();
            QVERIFY(c.setProperty(name, high + 100.0f));
            QCOMPARE(c.property(name).toFloat(), high);
            QVERIFY(c.setProperty(name, low - 100.0f));
            QCOMPARE(c.property(name).toFloat(), low);
            const float middle = (low + high) / 2.0f;
            QVERIFY(c.setProperty(name, middle));
            QVERIFY(c.setProperty(name, middle));
            QVERIFY2(changed.count() == 4, name);
            rig.block();
            QVERIFY2(rig.params().*field == middle, name);
        }

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
        QCOMPARE(QList<int>({state.splitKey, state.velocityThreshold, state.arpMode, state.arpOctaves,
                             state.layer2OctaveOffset, state.splitOctaveOffset}),
                 QList<int>({21, 126, 3, 1, -2, 2}));
        QVERIFY(state.chordMemoryEnabled);
        QCOMPARE(
            QList<int>({rig.params().transposeSemitones, rig.params().octaveShift, rig.params().touchCurve}),
            QList<int>({12, -3, 3}));
    }

    void onScreenKeysAndPads() {
        Rig rig;
        WorkstationController& c = rig.c;
        QSignalSpy keys(&c, &WorkstationController::keyStateUpdated);
        c.noteOn(128, 100);
        c.noteOff(-1);
        QCOMPARE(keys.count(), 0);

        c.noteOn(60, 0);
        QCOMPARE(c.lastVelocityPlayed(), 1);
        QCOMPARE(keys.count(), 1); // harmonizer off: the key alone
        QCOMPARE(keys.at(0), (QVariantList{60, true, 1}));
        QVERIFY(c.isKeyPressed(60) && !c.isKeyPressed(128));
        rig.block();
        QCOMPARE(rig.engineKey(60), u"Main:60@%1"_s.arg(mapped(1)));
        c.noteOn(62, 300);
        QCOMPARE(c.lastVelocityPlayed(), 127);
        c.noteOn(64); // velocity 100 when omitted
        QCOMPARE(c.lastVelocityPlayed(), 100);
        QCOMPARE(c.lastNotePlayed(), 64);
        rig.block();
        QCOMPARE(rig.engineKey(62), u"Main:62@127"_s);
        c.noteOff(60);
        QVERIFY(!c.isKeyPressed(60));
        rig.block();
        QCOMPARE(rig.engineKey(60), QString());
        c.noteOff(62);
        c.noteOff(64);

        // Pads light their pad for a moment and never enter the keyboard's voices.
        QSignalSpy pedals(&c, &WorkstationController::pedalStateChanged);
        c.triggerDrumPad(36);
        QCOMPARE(c.activePadIndex(), 0);
        c.triggerDrumPad(42, 500);
        QCOMPARE(c.activePadIndex(), 2);
        c.triggerDrumPad(50);
        QCOMPARE(c.activePadIndex(), 3);
        QTRY_COMPARE_WITH_TIMEOUT(c.activePadIndex(), -1, 1000);
        QCOMPARE(pedals.count(), 4);
        rig.block();
        QCOMPARE(rig.engine().voiceOwnership().heldVoiceCount(), 0);
    }

    void harmonizedKeyLightsTheKeyAndItsCorrection() {
        Rig rig;
        WorkstationController& c = rig.c;
        c.setAutoTuneEnabled(true);
        QSignalSpy keys(&c, &WorkstationController::keyStateUpdated);
        QSignalSpy status(&c, &WorkstationController::autoTuneStateChanged);
        c.noteOn(61, 100); // mode 0, degree I: 61 snaps to 60 with the duet voice 57
        QCOMPARE(keys.count(), 2);
        QCOMPARE(keys.at(1), (QVariantList{60, true, 100}));
        QCOMPARE(c.lastNotePlayed(), 60);
        QVERIFY(c.isKeyPressed(61) && c.isKeyPressed(60));
        QTRY_COMPARE(status.count(), 1);
        QCOMPARE(c.autoTuneStatusText(), u"SNAP C#4 → C4 (2v)"_s);
        QCOMPARE(c.autoTuneCorrectedCount(), 1);
        rig.block(); // the voices start before the transpose below arrives

        c.setTransposeSemitones(2); // names as heard
        c.noteOn(64, 100);
        QTRY_COMPARE(status.count(), 2);
        QCOMPARE(c.autoTuneStatusText(), u"Yamaha P.A.T. + Duet • F#4 (2v)"_s);
        QCOMPARE(c.autoTuneCorrectedCount(), 1);

        // Releasing E4 must not cut C4, which E4's duet voice shares.
        c.noteOff(64);
        QCoreApplication::processEvents();
        rig.block();
        // Engine key 60 was struck by C#4's lead (untransposed) and by E4's duet voice
        // (transposed by 2): it keeps both.
        QCOMPARE(rig.engineKey(60), u"Main:60@%1 Main:62@%2"_s.arg(mapped(99)).arg(mapped(83)));
        QVERIFY(c.isKeyPressed(60) && !c.isKeyPressed(64));
        c.noteOff(61);
        QCoreApplication::processEvents();
        rig.block();
        QCOMPARE(rig.engine().voiceOwnership().heldVoiceCount(), 0);
        QVERIFY(!c.isKeyPressed(60)); // cleared by the released voice
    }

    void autoTuneSwitchesAndTexts() {
        Rig rig;
        WorkstationController& c = rig.c;
        QSignalSpy banner(&c, &WorkstationController::statusBannerChanged);
        QSignalSpy state(&c, &WorkstationController::autoTuneStateChanged);
        c.setAutoTuneMode(2); // off: quiet apart from the state
        QCOMPARE(banner.count(), 0);
        QCOMPARE(state.count(), 1);
        QCOMPARE(c.autoTuneStatusText(), u"OFF • Manual Performance"_s);
        c.cycleAutoTuneMode(); // to mode 3 and on
        QVERIFY(c.autoTuneMode() == 3 && c.autoTuneEnabled());
        QCOMPARE(c.statusBanner(),
                 u"AUTO-TUNE ON: Neo-Soul 9th Sweetener (Scale-Snap + Yamaha Smart Harmony + "
                 u"Velocity Sweetener)"_s);
        QCOMPARE(c.autoTuneStatusText(), u"ACTIVE • Neo-Soul 9th Sweetener"_s);
        c.setAutoTuneMode(-4);
        QCOMPARE(c.autoTuneMode(), 0);
        QCOMPARE(c.statusBanner(), u"AUTO-TUNE MODE: Yamaha P.A.T. + Duet"_s);
        const int before = banner.count();
        c.setAutoTuneEnabled(true); // unchanged: nothing
        QCOMPARE(banner.count(), before);
        c.setAutoTuneEnabled(false);
        QCOMPARE(c.statusBanner(), u"AUTO-TUNE OFF • Full Manual Chromatic Control"_s);
        QCOMPARE(c.autoTuneModeName(), u"Yamaha P.A.T. + Duet"_s);
    }

    void hardwareNotesAndZoneChannels() {
        Rig rig;
        WorkstationController& c = rig.c;
        QSignalSpy keys(&c, &WorkstationController::keyStateUpdated);
        QSignalSpy zones(&c, &WorkstationController::workstationChanged);
        QCOMPARE(rig.fromHardware(MidiEvent::noteOn(0, 60, 90)), u"Key C4 (60) • Vel 90"_s);
        QVERIFY(c.isKeyPressed(60));
        QCOMPARE(rig.engineKey(60), u"Main:60@%1"_s.arg(mapped(90)));
        // A note-on with velocity 0 is a note-off.
        MidiEvent off = MidiEvent::noteOn(0, 60, 90);
        off.data2 = 0;
        rig.fromHardware(off);
        QVERIFY(!c.isKeyPressed(60));
        QCOMPARE(rig.engineKey(60), QString());
        // On, off, and the released voice's own release.
        QCOMPARE(keys.count(), 3);
        QCOMPARE(keys.at(1), (QVariantList{60, false, 0}));

        QCOMPARE(rig.fromHardware(MidiEvent::noteOn(1, 61, 80)), u"Key C#4 (61) • Vel 80 • Zone Ch 2"_s);
        QVERIFY(c.layer2Enabled());
        rig.fromHardware(MidiEvent::noteOn(1, 62, 80)); // already on: no second signal
        QCOMPARE(zones.count(), 1);
    }

    void hardwarePedalsWheelsAndProgramChanges() {
        Rig rig;
        WorkstationController& c = rig.c;
        QSignalSpy pedals(&c, &WorkstationController::pedalStateChanged);
        QSignalSpy wheels(&c, &WorkstationController::wheelsChanged);
        QCOMPARE(rig.fromHardware(cc(64, 39)), u"Damper Pedal (CC 64) → UP (31%)"_s);
        QVERIFY(!c.sustainPedal());
        QCOMPARE(rig.fromHardware(cc(64, 40)), u"Damper Pedal (CC 64) → DOWN (31%)"_s);
        QVERIFY(c.sustainPedal() && rig.params().sustainPedal);
        c.setInvertPedalPolarity(true);
        QCOMPARE(c.lastMidiControlText(), u"External Sustain Polarity → INVERTED (NC)"_s);
        QCOMPARE(rig.fromHardware(cc(64, 127)), u"Damper Pedal (CC 64) → UP (0%)"_s);
        QVERIFY(!rig.params().sustainPedal);
        QVERIFY(pedals.count() >= 4);

        MidiEvent program;
        program.status = MidiEvent::ProgramChange;
        program.data1 = 9;
        const QStringList texts{rig.fromHardware(cc(66, 64)),
                                rig.fromHardware(cc(67, 63)),
                                rig.fromHardware(cc(11, 127)),
                                rig.fromHardware(cc(1, 64)),
                                rig.fromHardware(MidiEvent::pitchBendEvent(0, -8192)),
                                rig.fromHardware(program)};
        QCOMPARE(texts, QStringList({"Sostenuto Pedal (CC 66) → ON", "Soft Pedal (CC 67) → OFF",
                                     "Expression Pedal (CC 11) → 100%", "Mod Wheel (CC 1) → 50%",
                                     "Pitch Bend → -100%", "Program Change 9 → Registration 2"}));
        QCOMPARE(c.expressionPedal(), 1.0f);
        QCOMPARE(c.chorusAmount(), 64.0f / 127.0f);
        QCOMPARE(rig.params().chorusAmount, 64.0f / 127.0f);
        QCOMPARE(c.pitchBendValue(), -1.0f);
        QCOMPARE(wheels.count(), 2);

        // The on-screen wheels clamp and drive the same.
        QSignalSpy params(&c, &WorkstationController::pianoParamsChanged);
        c.setModWheelValue(2.0f);
        QVERIFY(c.modWheelValue() == 1.0f && c.chorusAmount() == 1.0f);
        QCOMPARE(params.count(), 1);
        c.setPitchBendValue(-3.0f);
        QCOMPARE(c.pitchBendValue(), -1.0f);
        rig.block();
        QCOMPARE(rig.params().chorusAmount, 1.0f);
    }

    void onScreenPedalsAreNeverInvertedAndTheFootBeatsTheAutoDamper() {
        Rig rig;
        WorkstationController& c = rig.c;
        // The damper as the controller and the engine have it, after a block.
        auto damper = [&] {
            rig.block();
            return u"%1/%2"_s.arg(c.sustainPedal()).arg(rig.params().sustainPedal);
        };
        c.setInvertPedalPolarity(true);
        c.setSustainPedal(true);
        QCOMPARE(damper(), u"1/1"_s);
        c.setSustainPedal(false);
        QCOMPARE(damper(), u"0/0"_s);
        c.setContinuousPedal(0.5f); // 64: down
        QCOMPARE(damper(), u"1/1"_s);
        c.setContinuousPedal(0.3f); // 38: up
        QCOMPARE(damper(), u"0/0"_s);
        // The latch holds the pedal down against a release.
        c.setSustainLatched(true);
        QCOMPARE(c.lastMidiControlText(), u"Virtual Sustain Latch → LOCKED ON"_s);
        c.setSustainPedal(false);
        QCOMPARE(damper(), u"1/1"_s);
        c.setSustainLatched(false);
        QCOMPARE(damper(), u"0/0"_s);

        c.setSostenutoPedal(true);
        c.setSoftPedal(true);
        c.setExpressionPedal(0.05f);
        rig.block();
        QVERIFY(rig.params().sostenutoPedal && rig.params().softPedal);
        QCOMPARE(rig.params().expressionPedal, 6.0f / 127.0f);
        QCOMPARE(rig.engine().channelVolume(MixerChannelId::Piano), 0.15f);

        // A hardware damper switches the auto damper and the latch off, in the engine too.
        c.setInvertPedalPolarity(false);
        c.setAutoPedalEnabled(true);
        QCOMPARE(c.lastMidiControlText(), u"Smart Auto-Damper → ENABLED (Hands-Free Legato)"_s);
        c.setSustainLatched(true);
        rig.block();
        QVERIFY(rig.params().autoPedalEnabled);
        rig.fromHardware(cc(64, 0));
        QVERIFY(!c.autoPedalEnabled() && !c.sustainLatched());
        rig.block();
        QVERIFY(!rig.params().autoPedalEnabled);
    }

    void abComparisonSwapsSoundsButNotTheFoot() {
        Rig rig;
        WorkstationController& c = rig.c;
        c.setBrightness(0.7f);
        c.setTransposeSemitones(-3);
        c.setTouchCurve(2);
        // Brightness, lid, reverb, transpose and touch of the active record.
        auto sound = [&] {
            return QList<float>{c.brightness(), c.lidPosition(), c.reverbAmount(),
                                float(c.transposeSemitones()), float(c.touchCurve())};
        };
        const QList<float> a = sound();
        c.toggleAbCompare();
        QVERIFY(c.abSlotBActive());
        QCOMPARE(sound().mid(0, 4), QList<float>({0.38f, 0.65f, 0.48f, 0.0f}));
        c.toggleAbCompare();
        QCOMPARE(sound(), a);
        QCOMPARE(a, QList<float>({0.7f, 1.0f, 0.28f, -3.0f, 2.0f}));

        // The foot holds the damper while the player compares sounds.
        rig.fromHardware(cc(64, 127));
        for (float brightness : {0.38f, 0.7f}) {
            c.toggleAbCompare();
            rig.block();
            QVERIFY(c.sustainPedal() && rig.params().sustainPedal);
            QCOMPARE(c.brightness(), brightness);
        }
    }

    // Panic, and a hardware reset (the keyboard went away with E4 held), release
    // every key, voice and harmonizer voice.
    void panicAndResetReleaseEverything() {
        Rig rig;
        WorkstationController& c = rig.c;
        c.setAutoTuneEnabled(true);
        c.setLayer2Enabled(true);
        c.noteOn(60);
        c.noteOn(64);
        rig.fromHardware(MidiEvent::noteOn(0, 67, 90));
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

        // E4's note-off never comes after the reset.
        rig.fromHardware(MidiEvent::noteOn(0, 64, 90));
        rig.fromHardware(MidiEvent::reset(), false);
        QCOMPARE(c.harmonizer().heldVoiceCount(), 0);
        QVERIFY(!c.isKeyPressed(64));
        // C4 (E4's duet voice) played and released later must stop.
        c.noteOn(60);
        c.noteOff(60);
        rig.block();
        QCOMPARE(rig.engine().voiceOwnership().heldVoiceCount(), 0);
    }
};

QTEST_MAIN(PerformancePathTest)
#include "tst_performance_path.moc"
