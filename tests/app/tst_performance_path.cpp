// The keyboard path through the real controller rendered offline: keys, pads, hardware,
// pedals, setters, A/B, panic; the mixer (strips, style band volumes, balance presets,
// resets); the harmonizer alone and from several threads (TSan).

#include "AppTestWorld.h"
#include "app/Harmonizer.h"
#include "app/WorkstationController.h"
#include "support/OfflineRender.h"
#include "support/TestEnvironment.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <numeric>
#include <random>
#include <ranges>
#include <thread>

using namespace tmb;
using namespace tmb::test;
using namespace Qt::StringLiterals;

namespace {

// A controller rendering offline on the test thread, every keyboard slot on the synth.
class Rig {
public:
    explicit Rig(bool withGeneralMidiFont = false)
        : world(withGeneralMidiFont)
        , controller(std::make_unique<WorkstationController>())
        , c(*controller) {
        engine().prepareOffline(48000, 256);
        for (int slot = 0; slot < 3; ++slot)
            engine().setSlotEngineType(slot, SoundEngineType::Synth);
        block();
    }
    AudioEngine& engine() { return controller->audioEngine(); }
    const PianoParameters& params() { return engine().renderingParameters(); }
    void render(std::uint64_t frames) { renderBlocks(engine(), frames, 256); }
    void block() { render(256); }
    // Controller 7 of a SoundFont channel once a block has applied what was queued.
    int sentVolume(int channel) {
        block();
        return engine().fluidSynth.controllerValue(channel, 7);
    }

    // An event as the MIDI thread delivers it, then a block; returns the status line.
    QString fromHardware(MidiEvent event, bool fromPort = true) {
        if (fromPort) event.sourceClient = 28, event.sourcePort = 0;
        std::thread([&] { controller->handleRealtimeMidiEvent(event); }).join();
        QCoreApplication::processEvents();
        block();
        return c.lastMidiControlText();
    }
    // The voices the engine holds for a played key: "Main:60@99".
    QString engineKey(int note) {
        QStringList parts;
        for (const StartedVoice& voice : engine().voiceOwnership().voicesOf(note))
            parts << u"%1:%2@%3"_s.arg(voice.target == VoiceTarget::SynthMain ? "Main" : "Other")
                         .arg(voice.pitch)
                         .arg(voice.velocity);
        return parts.join(QLatin1Char(' '));
    }

    PresetWorld world;
    std::unique_ptr<WorkstationController> controller;
    WorkstationController& c;
};

int mapped(int velocity) {
    return AudioEngine::mapTouchVelocity(velocity, 1);
}

MidiEvent cc(int controller, int value) {
    return MidiEvent::controlChange(0, controller, value);
}

// A harmonizer and what it sends: "on 0:60@99", "off 0:57", "*" marking recorded events.
class VoiceLog {
public:
    explicit VoiceLog(bool enabled) { harmonizer.setEnabled(enabled); }
    QStringList take() { return std::exchange(events, {}); }
    int soundingCount() const {
        int count = 0;
        for (const auto& channel : sounding)
            count += static_cast<int>(std::count(channel.begin(), channel.end(), true));
        return count;
    }

    QStringList events;
    std::array<std::array<bool, 128>, 16> sounding{};
    Harmonizer harmonizer{[this](const MidiEvent& event, bool record) {
        const bool on = event.status == MidiEvent::NoteOn;
        const QString text = on ? u"on %1:%2@%3"_s.arg(event.channel).arg(event.data1).arg(event.data2)
                                : u"off %1:%2"_s.arg(event.channel).arg(event.data1);
        events << (record ? text + QLatin1Char('*') : text);
        sounding[event.channel][event.data1] = on;
    }};
};

} // namespace

class PerformancePathTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { test::usePrivateHome(); }

    // Every sound, zone, keyboard and mixer setter clamps, announces and reaches the next block.
    void settersClampPushAndAnnounce() {
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
            const float middle = (low + high) / 2.0f;
            QList<float> read;
            for (float value : {high + 100.0f, low - 100.0f, middle}) {
                QVERIFY(c.setProperty(name, value));
                read << c.property(name).toFloat();
            }
            rig.block();
            QCOMPARE(read << rig.params().*field, QList<float>({high, low, middle, middle}));
        }
        QCOMPARE(changed.count(), 3 * 14);
        QSignalSpy zones(&c, &WorkstationController::workstationChanged);
        c.setSplitKey(10);
        c.setVelocityThreshold(127);
        c.setArpMode(9);
        c.setArpOctaves(0);
        c.setLayer2OctaveOffset(-5);
        c.setSplitOctaveOffset(5);
        c.setChordMemoryEnabled(true);
        c.setTransposeSemitones(20);
        c.setOctaveShift(-9);
        c.setTouchCurve(7);
        QCOMPARE(zones.count(), 7);
        rig.block();
        const WorkstationState& state = rig.engine().renderingWorkstationState();
        const PianoParameters& p = rig.params();
        QCOMPARE(QList<int>({state.splitKey, state.velocityThreshold, state.arpMode, state.arpOctaves,
                             state.layer2OctaveOffset, state.splitOctaveOffset, state.chordMemoryEnabled,
                             p.transposeSemitones, p.octaveShift, p.touchCurve}),
                 QList<int>({21, 126, 3, 1, -2, 2, 1, 12, -3, 3}));

        // The mixer's channel operations.
        QSignalSpy meters(&c, &WorkstationController::metersUpdated);
        QSignalSpy arranger(&c, &WorkstationController::arrangerStateChanged);
        const char* volumes = "pianoVolume layer2Volume splitBassVolume beatsVolume micVolume masterVolume";
        const char* mutes = "pianoMuted layer2Muted splitBassMuted beatsMuted micMuted";
        auto setEach = [&](const char* names, const QVariant& value) {
            for (const QString& name : QString::fromLatin1(names).split(QLatin1Char(' ')))
                QVERIFY(c.setProperty(name.toLatin1(), value));
        };
        // Volume and mute of strips 0-3, 5, 6; the named properties stop at 1.
        auto strips = [&] {
            QStringList values;
            for (int channel : {0, 1, 2, 3, 5, 6})
                values << u"%1%2"_s.arg(c.channelVolume(channel)).arg(c.isChannelMuted(channel) ? "m" : "");
            return values.join(QLatin1Char(' '));
        };
        QStringList read;
        for (float volume : {1.5f, -0.5f, 0.3f}) {
            setEach(volumes, volume);
            read << strips();
        }
        read << props(c, volumes);
        QCOMPARE(read, QStringList({"1 1 1 1 1 1", "0 0 0 0 0 0", "0.3 0.3 0.3 0.3 0.3 0.3",
                                    "0.3 0.3 0.3 0.3 0.3 0.3"}));
        QCOMPARE(QList<qsizetype>({meters.count(), arranger.count()}),
                 QList<qsizetype>({18, 18})); // each change
        setEach(mutes, true);
        QCOMPARE(strips() + u' ' + props(c, mutes),
                 u"0.3m 0.3m 0.3m 0.3m 0.3m 0.3 true true true true true"_s);
        QCOMPARE(arranger.count(), 23);
        setEach(mutes, false);

        c.setChannelVolume(4, 0.4f);
        QCOMPARE(rig.engine().channelVolume(MixerChannelId::Lv2Bus), 0.4f);
        c.setChannelMuted(3, true);
        QVERIFY(rig.engine().isChannelMuted(MixerChannelId::Beats));
        // The clip indicator's reset reaches the meters.
        meters.clear();
        c.resetMasterClipIndicator();
        QCOMPARE(meters.count(), 1);

        // Indices outside the seven channels read as nothing and change nothing.
        c.setChannelVolume(7, 0.1f);
        QVERIFY(c.channelPan(7) == 0.0f && c.channelVolume(-1) == 0.0f && !c.isChannelMuted(9));
        QVERIFY(std::ranges::none_of(std::views::iota(0, 7),
                                     [&](int ch) { return c.channelVolume(ch) == 0.1f; }));
        // Pan and solo reach the engine's strips, and the strip meters read back.
        c.setChannelPan(2, -0.5f);
        c.setChannelSoloed(2, true);
        QCOMPARE(rig.engine().channelPan(MixerChannelId::SplitBass), -0.5f);
        QVERIFY(rig.engine().isChannelSoloed(MixerChannelId::SplitBass) && c.isChannelSoloed(2));
        QVERIFY(!c.isChannelSoloed(1) && !c.isChannelSoloed(7));
        c.setChannelSoloed(2, false);
        c.noteOn(60, 100);
        rig.render(4800);
        QVERIFY(c.channelPeakL(0) > 0.01f && c.channelPeakR(0) > 0.01f && c.channelPeakR(7) == 0.0f);
        c.noteOff(60);
        c.setChannelVolume(0, std::numeric_limits<float>::quiet_NaN()); // never reaches the engine's strips
        c.setChannelPan(0, std::numeric_limits<float>::quiet_NaN());
        QVERIFY(c.channelVolume(0) == 0.0f && c.channelPan(0) == 0.0f);
    }

    void onScreenKeysPadsPedalsAndAbComparison() {
        Rig rig;
        WorkstationController& c = rig.c;
        QSignalSpy keys(&c, &WorkstationController::keyStateUpdated);
        c.noteOn(128, 100);
        c.noteOff(-1);
        QCOMPARE(keys.count(), 0);
        c.noteOn(0, 90); // the lowest key lights too
        QVERIFY(c.isKeyPressed(0));
        c.noteOff(0);
        keys.clear();
        c.noteOn(60, 0);
        QCOMPARE(keys.count(), 1); // harmonizer off: the key alone
        QCOMPARE(keys.at(0), (QVariantList{60, true, 1}));
        QVERIFY(c.isKeyPressed(60) && !c.isKeyPressed(128));
        c.noteOn(62, 300);
        QCOMPARE(c.lastVelocityPlayed(), 127);
        c.noteOn(64); // velocity 100 when omitted
        QCOMPARE(QList<int>({c.lastVelocityPlayed(), c.lastNotePlayed()}), QList<int>({100, 64}));
        rig.block();
        QCOMPARE(rig.engineKey(60) + u' ' + rig.engineKey(62), u"Main:60@%1 Main:62@127"_s.arg(mapped(1)));
        c.noteOff(60);
        QVERIFY(!c.isKeyPressed(60));
        rig.block();
        QCOMPARE(rig.engineKey(60), QString());
        c.noteOff(62);
        c.noteOff(64);

        // Pads light their pad for a moment and never enter the keyboard's voices.
        QSignalSpy pedals(&c, &WorkstationController::pedalStateChanged);
        QList<int> lit;
        for (int pad : {36, 42, 50}) {
            c.triggerDrumPad(pad, pad == 42 ? 500 : 110);
            lit << c.activePadIndex();
        }
        QCOMPARE(lit, QList<int>({0, 2, 3}));
        QTRY_COMPARE_WITH_TIMEOUT(c.activePadIndex(), -1, 1000);
        QCOMPARE(pedals.count(), 4);
        rig.block();
        QCOMPARE(rig.engine().voiceOwnership().heldVoiceCount(), 0);

        // The on-screen pedals and the foot.
        c.setInvertPedalPolarity(true);
        // D/U damper down/up, h/l continuous pedal at 0.5/0.3 (down from 64, up at 38), L/O latch.
        QStringList damper; // as the controller and the engine have it after each step
        for (const char step : QByteArray("DUhlLUO")) {
            if (step == 'D' || step == 'U') c.setSustainPedal(step == 'D');
            if (step == 'h' || step == 'l') c.setContinuousPedal(step == 'h' ? 0.5f : 0.3f);
            if (step == 'L' || step == 'O') c.setSustainLatched(step == 'L');
            rig.block();
            damper << u"%1/%2"_s.arg(c.sustainPedal()).arg(rig.params().sustainPedal);
        }
        QCOMPARE(damper, QStringList({"1/1", "0/0", "1/1", "0/0", "1/1", "1/1", "0/0"}));
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
        c.setSustainLatched(true);
        rig.block();
        QVERIFY(rig.params().autoPedalEnabled);
        rig.fromHardware(cc(64, 0));
        QVERIFY(!c.autoPedalEnabled() && !c.sustainLatched() && !rig.params().autoPedalEnabled);

        // A/B comparison swaps the sounds but not what the foot holds.
        c.setBrightness(0.7f);
        c.setTransposeSemitones(-3);
        auto sound = [&] {
            return QList<float>{c.brightness(), c.lidPosition(), c.reverbAmount(),
                                float(c.transposeSemitones())};
        };
        const QList<float> a = sound();
        c.toggleAbCompare();
        QCOMPARE(sound(), QList<float>({0.38f, 0.65f, 0.48f, 0.0f}));
        rig.fromHardware(cc(64, 127)); // the foot holds the damper while the player compares
        c.toggleAbCompare();
        rig.block();
        QCOMPARE(sound(), a);
        QVERIFY(c.sustainPedal() && rig.params().sustainPedal);
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

        // Releasing E4 keeps engine key 60, struck by C#4's lead and E4's duet voice.
        c.noteOff(64);
        QCoreApplication::processEvents();
        rig.block();
        QCOMPARE(rig.engineKey(60), u"Main:60@%1 Main:62@%2"_s.arg(mapped(99)).arg(mapped(83)));
        QVERIFY(c.isKeyPressed(60) && !c.isKeyPressed(64));
        c.noteOff(61);
        QCoreApplication::processEvents();
        rig.block();
        QCOMPARE(rig.engine().voiceOwnership().heldVoiceCount(), 0);
        QVERIFY(!c.isKeyPressed(60)); // cleared by the released voice
    }

    // Whatever releases every harmonizer voice puts out their lights (panic and a hardware
    // reset every light) and forgets its voices: a key struck later sounds and stops.
    void releasingEveryVoicePutsOutItsLights() {
        const std::pair<std::function<void(Rig&)>, bool> releases[] = {
            {[](Rig& rig) { rig.c.setAutoTuneMode(3); }, false},
            {[](Rig& rig) { rig.c.cycleAutoTuneMode(); }, false},
            {[](Rig& rig) { rig.c.setAutoTuneEnabled(false); }, false},
            {[](Rig& rig) { rig.c.setCurrentMode(3); }, false}, // the drums view
            {[](Rig& rig) { rig.c.panicAllNotesOff(); }, true},
            {[](Rig& rig) { rig.fromHardware(MidiEvent::reset(), false); }, true}};
        QList<int> everyKey(128);
        std::iota(everyKey.begin(), everyKey.end(), 0);
        for (const auto& [release, panic] : releases) {
            Rig rig;
            WorkstationController& c = rig.c;
            c.setAutoTuneEnabled(true);
            c.setLayer2Enabled(true);
            c.noteOn(61, 100);
            rig.fromHardware(MidiEvent::noteOn(1, 66, 100)); // voices 67 and 64
            QVERIFY(c.isKeyPressed(60) && c.isKeyPressed(67));
            QVERIFY(rig.engine().voiceOwnership().heldVoiceCount() > 0);
            QSignalSpy keys(&c, &WorkstationController::keyStateUpdated);
            QSignalSpy keyboard(&c, &WorkstationController::keyboardStateChanged);
            release(rig);
            QList<int> dark;
            for (const QList<QVariant>& key : keys)
                if (!key.at(1).toBool()) dark << key.at(0).toInt();
            std::sort(dark.begin(), dark.end());
            QCOMPARE(dark, panic ? everyKey : QList<int>({57, 60, 64, 67}));
            QVERIFY(keyboard.count() >= 1 && c.harmonizer().heldVoiceCount() == 0);
            QCOMPARE(c.isKeyPressed(61) && c.isKeyPressed(66), !panic); // still held
            // The keys' note-offs after the release, then C4 (C#4's lead) again.
            c.noteOff(61);
            rig.fromHardware(MidiEvent::noteOff(1, 66));
            c.noteOn(60);
            c.noteOff(60);
            rig.block();
            QVERIFY(std::ranges::none_of(std::views::iota(0, 128), [&](int n) { return c.isKeyPressed(n); }));
            QCOMPARE(rig.engine().voiceOwnership().heldVoiceCount(), 0);
        }
    }

    void hardwareNotesPedalsWheelsAndProgramChanges() {
        Rig rig;
        WorkstationController& c = rig.c;
        QSignalSpy keys(&c, &WorkstationController::keyStateUpdated);
        QCOMPARE(rig.fromHardware(MidiEvent::noteOn(0, 60, 90)), u"Key C4 (60) • Vel 90"_s);
        QVERIFY(c.isKeyPressed(60));
        QCOMPARE(rig.engineKey(60), u"Main:60@%1"_s.arg(mapped(90)));
        MidiEvent off = MidiEvent::noteOn(0, 60, 90);
        off.data2 = 0; // a note-on at velocity 0: a note-off
        rig.fromHardware(off);
        QVERIFY(!c.isKeyPressed(60));
        QCOMPARE(rig.engineKey(60), QString());
        QCOMPARE(keys.count(), 3); // on, off, and the released voice's own release
        QCOMPARE(keys.at(1), (QVariantList{60, false, 0}));
        QSignalSpy zones(&c, &WorkstationController::workstationChanged);
        QCOMPARE(rig.fromHardware(MidiEvent::noteOn(1, 61, 80)), u"Key C#4 (61) • Vel 80 • Zone Ch 2"_s);
        rig.fromHardware(MidiEvent::noteOn(1, 62, 80)); // already on: no second signal
        QVERIFY(c.layer2Enabled() && zones.count() == 1);

        QSignalSpy wheels(&c, &WorkstationController::wheelsChanged);
        QCOMPARE(rig.fromHardware(cc(64, 39)), u"Damper Pedal (CC 64) → UP (31%)"_s);
        QCOMPARE(rig.fromHardware(cc(64, 40)), u"Damper Pedal (CC 64) → DOWN (31%)"_s);
        QVERIFY(c.sustainPedal() && rig.params().sustainPedal);
        c.setInvertPedalPolarity(true);
        QCOMPARE(rig.fromHardware(cc(64, 127)), u"Damper Pedal (CC 64) → UP (0%)"_s);
        QVERIFY(!rig.params().sustainPedal);
        for (const MidiEvent& event : {cc(66, 64), cc(67, 63), cc(11, 127), cc(1, 64)})
            rig.fromHardware(event);
        QCOMPARE(rig.fromHardware(MidiEvent::pitchBendEvent(0, -8192)), u"Pitch Bend → -100%"_s);
        QVERIFY(rig.params().sostenutoPedal && !rig.params().softPedal);
        QCOMPARE(QList<float>(
                     {c.expressionPedal(), c.chorusAmount(), rig.params().chorusAmount, c.pitchBendValue()}),
                 QList<float>({1.0f, 64.0f / 127.0f, 64.0f / 127.0f, -1.0f}));
        QCOMPARE(wheels.count(), 2);
        // A program change recalls a registration memory (program mod 8), sound included.
        QCOMPARE(rig.fromHardware(MidiEvent{.status = MidiEvent::ProgramChange, .data1 = 9}),
                 u"Program Change 9 → Registration 2"_s);
        QCOMPARE(c.activeRegistrationSlot(), 1);
        // The on-screen wheels clamp and drive the same.
        c.setModWheelValue(2.0f);
        c.setPitchBendValue(-3.0f);
        rig.block();
        QCOMPARE(QList<float>(
                     {c.modWheelValue(), c.chorusAmount(), rig.params().chorusAmount, c.pitchBendValue()}),
                 QList<float>({1.0f, 1.0f, 1.0f, -1.0f}));
    }

    // ------------------------------------------------------------ the style band, balance presets

    void styleVolumesAndBalancePresetsReachTheBand() {
        Rig rig(true);
        WorkstationController& c = rig.c;
        FluidSynthEngine& fluid = rig.engine().fluidSynth;
        auto volumes = [&] {
            return QList<int>{rig.sentVolume(3), rig.sentVolume(4), rig.sentVolume(5), rig.sentVolume(6)};
        };
        QSignalSpy arranger(&c, &WorkstationController::arrangerStateChanged);

        c.setStyleVolume(0.5f);
        // chords 0.5 x 0.85, bass 0.5 x 0.90, lead 0.5 x 0.85, pad as chords
        QCOMPARE(volumes(), QList<int>({54, 57, 54, 54}));
        QCOMPARE(arranger.count(), 1);
        // Within 0.001 of the stored value: nothing is sent and nothing announced.
        fluid.controlChange(3, 7, 99);
        c.setStyleVolume(0.5009f);
        QCOMPARE(rig.sentVolume(3), 99);
        QCOMPARE(arranger.count(), 1);
        QCOMPARE(c.styleVolume(), 0.5f);
        c.setStyleVolume(2.0f);
        QCOMPARE(volumes(), QList<int>({108, 114, 108, 108}));

        c.setStyleBassVolume(0.5f);
        c.setStyleChordVolume(0.25f);
        c.setStyleLeadVolume(0.75f);
        QCOMPARE(volumes(), QList<int>({32, 64, 95, 32}));
        QCOMPARE(arranger.count(), 5);

        c.setStyleMuted(true);
        QCOMPARE(volumes(), QList<int>({0, 0, 0, 0}));
        c.setStyleMuted(true);
        QCOMPARE(arranger.count(), 6);
        // Levels change while muted, but the band stays silent.
        c.setStyleBassVolume(0.8f);
        QCOMPARE(rig.sentVolume(4), 0);
        c.setStyleMuted(false);
        QCOMPARE(volumes(), QList<int>({32, 102, 95, 32}));
        // (The lead's 0 while playing with the keyboard: tst_arranger_controls.)

        // Balance presets: the preset, then percentages of piano, layer2, split, beats, style,
        // lead, chord, bass, mic, master ("-": untouched) and the banner.
        const std::tuple<int, const char*, const char*> presets[] = {
            {1, "100 55 70 52 55 0 58 68 85 92",
             "Piano Solo Forward (Keys 100% • Soft Beats 52% • Backing 55%)"},
            {4, "90 78 96 95 96 96 86 100 88 95",
             "Dance & Praise Punch (Beats 95% • Style Band 96% • Bass 100%)"},
            {5, "- - - 88 - - - - - -", "Drum Beats Only (Style Accompaniment Muted • Beats 88%)"},
            {6, "- - - 30 92 - - - - -", "Style Instruments Focus (Style Band 92% • Soft Drum Beats 30%)"}};
        const QStringList levels =
            u"pianoVolume layer2Volume splitBassVolume beatsVolume styleVolume styleLeadVolume "
            "styleChordVolume styleBassVolume micVolume masterVolume"_s.split(u' ');
        const char* mutes = "pianoMuted layer2Muted splitBassMuted beatsMuted micMuted styleMuted";
        for (const auto& [index, expected, bannerText] : presets) {
            // From values no preset uses, with every strip and the band muted.
            for (const QString& name : levels)
                c.setProperty(name.toLatin1(), 0.123f);
            for (const QString& name : QString::fromLatin1(mutes).split(u' '))
                c.setProperty(name.toLatin1(), true);
            QSignalSpy band(&c, &WorkstationController::arrangerStateChanged);
            QSignalSpy meters(&c, &WorkstationController::metersUpdated);
            c.applyMixBalancePreset(index);
            QStringList percent;
            for (const QString& name : levels) {
                const float value = c.property(name.toLatin1()).toFloat();
                percent << (value == 0.123f ? u"-"_s : QString::number(std::lround(value * 100)));
            }
            QCOMPARE(percent.join(u' '), QString::fromLatin1(expected));
            QCOMPARE(props(c, mutes), u"false false false false false "_s + (index == 5 ? "true" : "false"));
            QCOMPARE(c.statusBanner(), u"MIX PRESET: "_s + QString::fromUtf8(bannerText));
            QVERIFY(band.count() >= 1 && meters.count() >= 1);
            // The band's channels carry the result.
            QCOMPARE(rig.sentVolume(4),
                     index == 5 ? 0 : styleBandChannelVolume(c.styleVolume(), c.styleBassVolume(), false));
        }
        // An unknown preset only unmutes (not the master) and announces the same banner.
        for (const char* name : {"pianoMuted", "micMuted", "styleMuted"})
            c.setProperty(name, true);
        c.setChannelMuted(6, true);
        c.setPianoVolume(0.4f);
        QSignalSpy banner(&c, &WorkstationController::statusBannerChanged);
        const QString before = c.statusBanner();
        c.applyMixBalancePreset(9);
        QCOMPARE(props(c, "pianoMuted micMuted styleMuted pianoVolume"), u"false false false 0.4"_s);
        QVERIFY(c.isChannelMuted(6));
        QCOMPARE(c.statusBanner() + QString::number(banner.count()), before + u'1');
    }

    // ------------------------------------------------------------ performance modifiers

    void resettingModifiersKeepsTheArrangerUnlessAsked() {
        // Switched on before the reset, off after it.
        const char* reset[] = {"autoPedalEnabled",   "sustainLatched",     "sostenutoPedal",
                               "softPedal",          "layer2Enabled",      "splitEnabled",
                               "arpeggiatorEnabled", "chordMemoryEnabled", "autoTuneEnabled"};
        // Untouched: transpose, expression, touch, sound, split point, velocity switch.
        const std::pair<const char*, QVariant> kept[] = {
            {"transposeSemitones", -3}, {"expressionPedal", 0.7f}, {"touchCurve", 2},
            {"brightness", 0.8f},       {"splitKey", 60},          {"velocitySwitchEnabled", true}};
        for (bool stopArranger : {false, true}) {
            Rig rig;
            WorkstationController& c = rig.c;
            for (const char* name : reset)
                QVERIFY(c.setProperty(name, true));
            for (const auto& [name, value] : kept)
                QVERIFY(c.setProperty(name, value));
            c.setOctaveShift(2);
            ArrangerState& arranger = c.arrangerState();
            arranger.smartChordEnabled = arranger.proArrangerEnabled = arranger.bandActive = true;
            arranger.parts[ArrangerState::Bass].soundingNotes = {40};
            c.hymnPlayback().hymnPlaying = true;
            c.hymnPlayback().guideNote = 64;
            c.noteOn(64, 90);
            rig.render(960);
            QSignalSpy keys(&c, &WorkstationController::keyStateUpdated);
            std::vector<std::unique_ptr<QSignalSpy>> once;
            for (auto signal :
                 {&WorkstationController::pedalStateChanged, &WorkstationController::pianoParamsChanged,
                  &WorkstationController::workstationChanged, &WorkstationController::arrangerStateChanged,
                  &WorkstationController::midiActivityChanged, &WorkstationController::autoTuneStateChanged,
                  &WorkstationController::hymnStateChanged, &WorkstationController::hymnStepChanged})
                once.push_back(std::make_unique<QSignalSpy>(&c, signal));

            c.resetPerformanceModifiersToDefaults(stopArranger);
            for (const char* name : reset)
                QVERIFY2(!c.property(name).toBool(), name);
            for (const auto& [name, value] : kept)
                QVERIFY2(c.property(name) == value, name);
            QVERIFY(!c.sustainPedal() && !arranger.smartChordEnabled && !c.hymnPlayback().hymnPlaying);
            QCOMPARE(props(c, "continuousPedal octaveShift autoTuneStatusText lastMidiControlText"),
                     u"0 0 OFF • Manual Performance Ready • Manual Performance"_s);
            // The hymn's guide key went out with it, and the band's notes.
            QVERIFY(c.hymnPlayback().guideNote == -1 && !c.isKeyPressed(64) &&
                    keys.contains(QVariantList{64, false, 0}));
            QVERIFY(arranger.parts[ArrangerState::Bass].soundingNotes.isEmpty());
            // The arranger keeps running unless told to stop.
            QCOMPARE(QList<bool>({arranger.proArrangerEnabled, arranger.bandActive}),
                     QList<bool>({!stopArranger, !stopArranger}));
            for (const auto& spy : once)
                QCOMPARE(spy->count(), 1);
            rig.render(960); // the engine got the records and the pedals' release
            const PianoParameters& p = rig.engine().renderingParameters();
            const WorkstationState& z = rig.engine().renderingWorkstationState();
            QVERIFY(!p.sustainPedal && !p.sostenutoPedal && !p.softPedal && !p.autoPedalEnabled &&
                    p.octaveShift == 0 && !z.layer2Enabled && !z.splitEnabled && !z.arpeggiatorEnabled &&
                    !z.chordMemoryEnabled);
        }
    }

    // ------------------------------------------------------------ the harmonizer on its own

    // "mode degree minor guide note velocity" and the voices planned: lead velocity
    // 70 + s and harmonies per mode, s = velocity x 38 / 127.
    void rulesOfEveryMode() {
        const char* rules[][3] = {{"duet, degree I", "0 1 0 -1 61 100", "60@99 57@83"},
                                  {"duet, degree ii", "0 2 1 -1 61 100", "62@99 59@83"},
                                  {"duet below middle C", "0 1 0 -1 59 100", "59@99"},
                                  {"minor degree flattens", "0 6 1 -1 63 1", "62@70 59@54"},
                                  {"major degree sharpens", "0 5 0 -1 63 127", "64@108 60@92"},
                                  {"IV snaps F# down", "0 4 0 -1 66 100", "65@99 62@83"},
                                  {"vi snaps Ab up", "2 6 1 -1 68 100", "69@99 60@89"},
                                  {"sixth from 57", "2 1 0 -1 57 100", "57@99 48@89"},
                                  {"gospel, high", "1 1 0 -1 64 100", "64@99 60@84 57@80"},
                                  {"gospel, octave below", "1 1 0 -1 50 100", "50@99 38@91"},
                                  {"gospel, 58 alone", "1 1 0 -1 58 100", "58@99"},
                                  {"gospel, 59 alone", "1 1 0 -1 59 100", "59@99"},
                                  {"gospel, 30 alone", "1 1 0 -1 30 100", "30@99"},
                                  {"neo-soul, 86 alone", "3 1 0 -1 86 100", "86@99"},
                                  {"neo-soul, fifth and ninth", "3 1 0 -1 60 100", "60@99 67@79 74@75"},
                                  {"pentatonic, B4 to C5", "4 1 0 -1 71 100", "72@99 60@77"},
                                  {"snap stays on the piano", "4 1 0 -1 119 100", "108@99 96@77"},
                                  {"hymn guide takes 66 to 64", "0 1 0 64 66 100", "64@99 60@83"},
                                  {"hymn guide ignores 67", "0 1 0 64 67 100", "67@99 64@83"},
                                  {"out-of-range mode reads 0", "9 1 0 -1 61 100", "60@99 57@83"}};
        for (const auto& [name, input, voices] : rules) {
            const QStringList in = QString::fromLatin1(input).split(QLatin1Char(' '));
            const Harmonizer::VoicePlan plan = Harmonizer::plan(
                in[4].toInt(), in[5].toInt(), in[0].toInt(), in[1].toInt(), in[2] == u"1"_s, in[3].toInt());
            QStringList planned;
            for (int i = 0; i < plan.count; ++i)
                planned << u"%1@%2"_s.arg(plan.voices[i].pitch).arg(plan.voices[i].velocity);
            QCOMPARE(QLatin1String(name) + u": "_s + planned.join(QLatin1Char(' ')),
                     QLatin1String(name) + u": "_s + QLatin1String(voices));
        }
        // Diatonic steps down (note, steps, result) stay on the scale and on the piano.
        const int down[][3] = {{64, 2, 60}, {60, 2, 57}, {61, 2, 57}, {72, 5, 64}, {21, 5, 21}};
        for (const auto& [note, steps, result] : down)
            QCOMPARE(Harmonizer::diatonicStepDown(note, steps), result);
    }
    // Scripts on a harmonizer (off until "on"): "61" strikes key 61 at 100 on channel 0
    // ("61:2" channel 2, "61@90" at 90), "-61" lets go, "all" releases all, "mode3",
    // "guide64", "deg2m" (ii minor) set the rule, "held0" counts held voices, and "|"
    // checks what was sent since: the events, "none", "*" (anything) or "silent".
    void voicesBelongToTheirKeys_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("sent");
        QTest::addColumn<int>("mode");
        QTest::newRow("off: keys pass through, a retrigger lets go first")
            << u"61 | 200@0 | 61@90 | -61 -70:2 held1 |"_s
            << u"on 0:61@100* | on 0:127@1* | off 0:61, on 0:61@90* | off 0:61*, off 2:70*"_s << 0;
        QTest::newRow("a pitch two keys share sounds until both let go")
            << u"on 60 64 | -64 | -57 | -60 held0 | 60 60:1 | -60:1 | -60 held0 |"_s
            << u"* | off 0:64* | none | off 0:60*, off 0:57* | * | off 1:60*, off 1:57* | off 0:60*, off 0:57*"_s
            << 0;
        QTest::newRow("release-all uses each voice's channel, unrecorded")
            << u"on 60:3 64 | all held0 |"_s << u"* | off 0:64, off 0:60, off 3:60, off 3:57"_s << 0;
        QTest::newRow("a new rule or switching off silences the held chord")
            << u"on 60 64 67 | mode0 | mode3 held0 | mode7 60 | off held0 | -60 |"_s
            << u"* | none | silent | * | silent | off 0:60*"_s << 4;
        QTest::newRow("a guide moves the lead; one off the piano clears it")
            << u"on guide64 66 | -66 guide500 deg2m 61 |"_s
            << u"on 0:64@99*, on 0:60@83* | off 0:64*, off 0:60*, on 0:62@99*, on 0:59@83*"_s << 0;
    }
    void voicesBelongToTheirKeys() {
        QFETCH(QString, script);
        QFETCH(QString, sent);
        QFETCH(int, mode);
        VoiceLog rig(false);
        Harmonizer& h = rig.harmonizer;
        const QStringList checks = sent.split(u" | "_s);
        qsizetype check = 0;
        static const QRegularExpression key(uR"(^(-?)(\d+)(?::(\d+))?(?:@(\d+))?$)"_s);
        for (const QString& step : script.split(u' ')) {
            const QRegularExpressionMatch m = key.match(step);
            if (step == u"|"_s) {
                const QString expected = checks.value(check++);
                const QString got = rig.take().join(u", "_s);
                if (expected == u"silent"_s)
                    QCOMPARE(rig.soundingCount(), 0);
                else if (expected != u"*"_s)
                    QCOMPARE(got, expected == u"none"_s ? QString() : expected);
            } else if (m.hasMatch() && m.captured(1).isEmpty()) {
                const int velocity = m.captured(4).isEmpty() ? 100 : m.captured(4).toInt();
                h.noteOn(m.captured(2).toInt(), velocity, m.captured(3).toInt());
            } else if (m.hasMatch()) {
                h.noteOff(m.captured(2).toInt(), m.captured(3).toInt());
            } else if (step == u"all"_s) {
                h.releaseAll();
            } else if (step == u"on"_s || step == u"off"_s) {
                h.setEnabled(step == u"on"_s);
            } else if (step.startsWith(u"mode"_s)) {
                h.setMode(step.mid(4).toInt());
            } else if (step.startsWith(u"guide"_s)) {
                h.setGuideTarget(step.mid(5).toInt());
            } else if (step.startsWith(u"deg"_s)) {
                h.setChordDegree(step.mid(3, 1).toInt(), step.endsWith(u'm'));
            } else {
                QCOMPARE(step, u"held%1"_s.arg(h.heldVoiceCount()));
            }
        }
        QCOMPARE(check, checks.size());
        QCOMPARE(h.mode(), mode);
    }

    // Threads play keys while another switches modes; after release nothing sounds.
    void concurrentKeysLeaveNothingSounding() {
        VoiceLog rig(true);
        Harmonizer& h = rig.harmonizer;
        std::atomic<bool> stop{false};
        auto player = [&](unsigned seed, int channel) {
            std::mt19937 random(seed);
            std::array<bool, 128> down{};
            for (int i = 0; i < 20000; ++i) {
                const int note = 55 + static_cast<int>(random() % 20);
                if (down[note])
                    h.noteOff(note, channel);
                else
                    h.noteOn(note, 1 + static_cast<int>(random() % 127), channel);
                down[note] = !down[note];
            }
            for (int note = 0; note < 128; ++note)
                if (down[note]) h.noteOff(note, channel);
        };
        std::thread midi(player, 1u, 0);
        std::thread midi2(player, 2u, 5);
        std::thread gui([&] {
            for (int i = 0; !stop.load(); ++i) {
                h.setGuideTarget(i % 3 == 0 ? 60 + i % 12 : -1);
                h.setChordDegree(1 + i % 6, i % 2 == 0);
                if (i % 50 == 0) h.setMode(i / 50 % 5);
                std::this_thread::yield();
            }
        });
        player(3u, 0);
        midi.join();
        midi2.join();
        stop = true;
        gui.join();
        QVERIFY(h.heldVoiceCount() == 0 && rig.soundingCount() == 0);
    }
};

QTEST_MAIN(PerformancePathTest)
#include "tst_performance_path.moc"
