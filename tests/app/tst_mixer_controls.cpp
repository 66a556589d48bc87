// The mixer through the real controller: strips, style band volumes, balance presets, resets.

#include "AppTestWorld.h"
#include "app/WorkstationController.h"
#include "support/OfflineRender.h"
#include "support/TestEnvironment.h"

#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <ranges>

using namespace tmb;
using namespace tmb::test;
using namespace Qt::StringLiterals;

namespace {

// A controller rendering offline on the test thread, every keyboard slot on the synth.
class Rig {
public:
    explicit Rig(bool withGeneralMidiFont = false)
        : world(withGeneralMidiFont)
        , controller(std::make_unique<WorkstationController>()) {
        engine().prepareOffline(48000, 256);
        for (int slot = 0; slot < 3; ++slot)
            engine().setSlotEngineType(slot, SoundEngineType::Synth);
    }
    WorkstationController& c() { return *controller; }
    AudioEngine& engine() { return controller->audioEngine(); }
    void render(double seconds) { renderBlocks(engine(), static_cast<std::uint64_t>(seconds * 48000), 256); }
    // Controller 7 of a SoundFont channel once a block has applied what was queued.
    int sentVolume(int channel) {
        render(0.001);
        return engine().fluidSynth.controllerValue(channel, 7);
    }

    PresetWorld world;
    std::unique_ptr<WorkstationController> controller;
};

} // namespace

class MixerControlsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { usePrivateHome(); }

    void channelOperationsClampForwardAndAnnounce() {
        Rig rig;
        WorkstationController& c = rig.c();
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
        rig.render(0.1);
        QVERIFY(c.channelPeakL(0) > 0.01f && c.channelPeakR(0) > 0.01f && c.channelPeakR(7) == 0.0f);
        c.noteOff(60);
        c.setChannelVolume(0, std::numeric_limits<float>::quiet_NaN()); // never reaches the engine's strips
        c.setChannelPan(0, std::numeric_limits<float>::quiet_NaN());
        QVERIFY(c.channelVolume(0) == 0.0f && c.channelPan(0) == 0.0f);
    }

    // ------------------------------------------------------------ style band

    void styleVolumesReachTheSoundFontChannels() {
        Rig rig(true);
        WorkstationController& c = rig.c();
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
    }

    // ------------------------------------------------------------ balance presets

    void balancePresetsSetTheirValuesUnmuteAndAnnounce() {
        // Preset, then percentages of piano, layer2, split, beats, style, lead, chord, bass, mic,
        // master ("-": untouched) and the banner.
        const std::tuple<int, const char*, const char*> presets[] = {
            {1, "100 55 70 52 55 0 58 68 85 92",
             "Piano Solo Forward (Keys 100% • Soft Beats 52% • Backing 55%)"},
            {4, "90 78 96 95 96 96 86 100 88 95",
             "Dance & Praise Punch (Beats 95% • Style Band 96% • Bass 100%)"},
            {5, "- - - 88 - - - - - -", "Drum Beats Only (Style Accompaniment Muted • Beats 88%)"},
            {6, "- - - 30 92 - - - - -", "Style Instruments Focus (Style Band 92% • Soft Drum Beats 30%)"}};
        const QStringList volumes =
            u"pianoVolume layer2Volume splitBassVolume beatsVolume styleVolume styleLeadVolume "
            "styleChordVolume styleBassVolume micVolume masterVolume"_s.split(u' ');
        const char* mutes = "pianoMuted layer2Muted splitBassMuted beatsMuted micMuted styleMuted";
        Rig rig(true);
        WorkstationController& c = rig.c();
        for (const auto& [index, expected, bannerText] : presets) {
            // From values no preset uses, with every strip and the band muted.
            for (const QString& name : volumes)
                c.setProperty(name.toLatin1(), 0.123f);
            for (const QString& name : QString::fromLatin1(mutes).split(u' '))
                c.setProperty(name.toLatin1(), true);
            QSignalSpy arranger(&c, &WorkstationController::arrangerStateChanged);
            QSignalSpy meters(&c, &WorkstationController::metersUpdated);
            c.applyMixBalancePreset(index);
            QStringList percent;
            for (const QString& name : volumes) {
                const float value = c.property(name.toLatin1()).toFloat();
                percent << (value == 0.123f ? u"-"_s : QString::number(std::lround(value * 100)));
            }
            QCOMPARE(percent.join(u' '), QString::fromLatin1(expected));
            QCOMPARE(props(c, mutes), u"false false false false false "_s + (index == 5 ? "true" : "false"));
            QCOMPARE(c.statusBanner(), u"MIX PRESET: "_s + QString::fromUtf8(bannerText));
            QVERIFY(arranger.count() >= 1 && meters.count() >= 1);
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
            WorkstationController& c = rig.c();
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
            rig.render(0.02);
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
            rig.render(0.02); // the engine got the records and the pedals' release
            const PianoParameters& p = rig.engine().renderingParameters();
            const WorkstationState& z = rig.engine().renderingWorkstationState();
            QVERIFY(!p.sustainPedal && !p.sostenutoPedal && !p.softPedal && !p.autoPedalEnabled &&
                    p.octaveShift == 0 && !z.layer2Enabled && !z.splitEnabled && !z.arpeggiatorEnabled &&
                    !z.chordMemoryEnabled);
        }
    }
};

QTEST_GUILESS_MAIN(MixerControlsTest)
#include "tst_mixer_controls.moc"
