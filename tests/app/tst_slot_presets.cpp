// Presets in the three keyboard slots through the real controller: the sampled
// piano's first load on the GUI thread and later ones on the loader thread, the
// latest choice winning over loads still running, start-up selection with and
// without the General MIDI font, drum kits, the catalogue's scene operations and
// the display texts. Instruments are written by the tests into a private catalogue.

#include "PresetWorld.h"
#include "app/WorkstationController.h"
#include "support/AudioAnalysis.h"
#include "support/OfflineRender.h"
#include "support/TestEnvironment.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include <atomic>
#include <memory>
#include <thread>

using namespace tmb;
using namespace tmb::test;

namespace {

// Renders blocks on a thread of its own, as a backend would, so loads hand their
// instruments over while the piano plays.
class RenderThread {
public:
    explicit RenderThread(AudioEngine& engine)
        : m_thread([this, &engine] {
            std::vector<float> out(512);
            int block = 0;
            while (m_running.load()) {
                // Keep a key sounding, so voices hold the instrument being replaced.
                if (block++ % 40 == 0) engine.submitMidiEvent(MidiEvent::noteOn(0, 60, 100));
                engine.processAudioCallback(out.data(), 256);
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
        }) {}
    ~RenderThread() { stop(); }
    void stop() {
        m_running = false;
        if (m_thread.joinable()) m_thread.join();
    }

private:
    std::atomic<bool> m_running{true};
    std::thread m_thread;
};

// The pitch the main slot sounds for key 60 at velocity 100.
double mainSlotPitch(AudioEngine& engine) {
    engine.submitMidiEvent(MidiEvent::reset());
    engine.submitMidiEvent(MidiEvent::noteOn(0, 60, 100));
    const StereoSignal signal = renderBlocks(engine, 24000, 256);
    return dominantFrequency(signal.left, signal.sampleRate, 100.0, 1000.0, 4800, 24000);
}

} // namespace

class SlotPresetsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { usePrivateHome(); }

    void theFirstSampledPianoLoadsAtOnceAndLaterOnesOnTheLoaderThread() {
        PresetWorld world(false);
        const QString a = world.writeInstrument(QStringLiteral("alpha"), 220.0);
        const QString b = world.writeInstrument(QStringLiteral("bravo"), 330.0);
        WorkstationController controller;
        controller.audioEngine().prepareOffline(48000, 256);
        QSignalSpy loading(&controller, &WorkstationController::loadingInstrumentChanged);
        QSignalSpy presets(&controller, &WorkstationController::activePresetsChanged);

        controller.selectPresetForSlot(0, QStringLiteral("auto_alpha"));
        // Nothing was loaded: the load ran before the call returned.
        QCOMPARE(controller.audioEngine().sfzPiano.currentSfzPath(), a);
        QCOMPARE(loading.count(), 0);
        QVERIFY(!controller.loadingInstrument());
        QCOMPARE(controller.statusBanner(), QStringLiteral("Loaded alpha (Auto-Discovered SFZ) (1 regions)"));
        QCOMPARE(controller.mainPresetId(), QStringLiteral("auto_alpha"));
        QCOMPARE(controller.audioEngine().slotEngineType(0), SoundEngineType::Sfz);
        QCOMPARE(presets.count(), 1);

        controller.selectPresetForSlot(0, QStringLiteral("auto_bravo"));
        // Now the old piano keeps playing while the new one loads.
        QVERIFY(controller.loadingInstrument());
        QCOMPARE(loading.count(), 1);
        QTRY_VERIFY(!controller.loadingInstrument());
        QCOMPARE(loading.count(), 2);
        QCOMPARE(controller.audioEngine().sfzPiano.currentSfzPath(), b);
        QCOMPARE(controller.statusBanner(), QStringLiteral("Loaded bravo (Auto-Discovered SFZ) (1 regions)"));
        QVERIFY(std::abs(mainSlotPitch(controller.audioEngine()) - 330.0) < 3.0);
    }

    // Three choices within 50 ms: whatever order the loads would finish in, the last
    // choice is what plays, and the loading flag stays up until it does.
    void rapidChoicesLeaveTheLastOneLoaded() {
        PresetWorld world(false);
        world.writeInstrument(QStringLiteral("start"), 262.0);
        // The first choice is the slowest to load and the last the quickest.
        world.writeInstrument(QStringLiteral("slow"), 220.0, 12, 3.0);
        world.writeInstrument(QStringLiteral("medium"), 330.0, 6, 2.0);
        const QString fast = world.writeInstrument(QStringLiteral("fast"), 440.0);
        for (int repetition = 0; repetition < 20; ++repetition) {
            WorkstationController controller;
            AudioEngine& engine = controller.audioEngine();
            engine.prepareOffline(48000, 256);
            controller.selectPresetForSlot(0, QStringLiteral("auto_start"));
            QSignalSpy loading(&controller, &WorkstationController::loadingInstrumentChanged);
            QSignalSpy banner(&controller, &WorkstationController::statusBannerChanged);
            {
                RenderThread audio(engine);
                QElapsedTimer clock;
                clock.start();
                controller.selectPresetForSlot(0, QStringLiteral("auto_slow"));
                controller.selectPresetForSlot(0, QStringLiteral("auto_medium"));
                controller.selectPresetForSlot(0, QStringLiteral("auto_fast"));
                QVERIFY(clock.elapsed() < 50);
                QVERIFY(controller.loadingInstrument());
                QTRY_VERIFY_WITH_TIMEOUT(!controller.loadingInstrument(), 30000);
                // Stale loads report nothing: one change up, one down, one banner.
                QCOMPARE(loading.count(), 2);
                QCOMPARE(engine.sfzPiano.currentSfzPath(), fast);
                QCOMPARE(controller.statusBanner(),
                         QStringLiteral("Loaded fast (Auto-Discovered SFZ) (1 regions)"));
                // Nothing late replaces it.
                QTest::qWait(20);
                QCOMPARE(engine.sfzPiano.currentSfzPath(), fast);
                QCOMPARE(loading.count(), 2);
                audio.stop();
            }
            QCOMPARE(banner.count(), 1);
            QCOMPARE(controller.mainPresetId(), QStringLiteral("auto_fast"));
            if (repetition == 0) QVERIFY(std::abs(mainSlotPitch(engine) - 440.0) < 4.0);
        }
    }

    void choosingThePlayingPianoAgainTakesBackTheLoadInBetween() {
        PresetWorld world(false);
        const QString a = world.writeInstrument(QStringLiteral("alpha"), 220.0);
        world.writeInstrument(QStringLiteral("slow"), 330.0, 12, 3.0);
        WorkstationController controller;
        AudioEngine& engine = controller.audioEngine();
        engine.prepareOffline(48000, 256);
        controller.selectPresetForSlot(0, QStringLiteral("auto_alpha"));
        controller.selectPresetForSlot(0, QStringLiteral("auto_slow"));
        QVERIFY(controller.loadingInstrument());
        // Compared with the latest choice (the slow one), alpha is a new choice.
        controller.selectPresetForSlot(0, QStringLiteral("auto_alpha"));
        QVERIFY(controller.loadingInstrument());
        QTRY_VERIFY_WITH_TIMEOUT(!controller.loadingInstrument(), 30000);
        QCOMPARE(engine.sfzPiano.currentSfzPath(), a);
        QCOMPARE(controller.mainPresetId(), QStringLiteral("auto_alpha"));
        QCOMPARE(controller.statusBanner(), QStringLiteral("Loaded alpha (Auto-Discovered SFZ) (1 regions)"));
        QTest::qWait(20);
        QCOMPARE(engine.sfzPiano.currentSfzPath(), a);
    }

    void aSoundFontChoiceForTheMainSlotTakesBackALoadingPiano() {
        PresetWorld world(true);
        const QString a = world.writeInstrument(QStringLiteral("alpha"), 220.0);
        world.writeInstrument(QStringLiteral("slow"), 330.0, 12, 3.0);
        WorkstationController controller;
        AudioEngine& engine = controller.audioEngine();
        engine.prepareOffline(48000, 256);
        controller.selectPresetForSlot(0, QStringLiteral("auto_alpha"));
        controller.selectPresetForSlot(0, QStringLiteral("auto_slow"));
        QSignalSpy loading(&controller, &WorkstationController::loadingInstrumentChanged);
        controller.selectPresetForSlot(0, QStringLiteral("gm_bright_piano"));
        QVERIFY(!controller.loadingInstrument());
        QCOMPARE(loading.count(), 1);
        QCOMPARE(engine.slotEngineType(0), SoundEngineType::SoundFont);
        QTest::qWait(1500); // longer than the slow load
        QCOMPARE(engine.sfzPiano.currentSfzPath(), a);
        QCOMPARE(loading.count(), 1);
        // Back to the sampled piano that still sits in the engine: nothing to load.
        controller.selectPresetForSlot(0, QStringLiteral("auto_alpha"));
        QVERIFY(!controller.loadingInstrument());
        QCOMPARE(engine.slotEngineType(0), SoundEngineType::Sfz);
    }

    void aFailedLoadWarnsAndKeepsThePlayingPiano() {
        PresetWorld world(false);
        const QString a = world.writeInstrument(QStringLiteral("alpha"), 220.0);
        const QString broken = world.music() + QStringLiteral("/broken.sfz");
        QVERIFY(writeTestFile(broken, "<region> sample=missing.wav\n"));
        WorkstationController controller;
        controller.audioEngine().prepareOffline(48000, 256);
        controller.selectPresetForSlot(0, QStringLiteral("auto_broken"));
        QCOMPARE(controller.statusBanner(),
                 QStringLiteral("SFZ Warning: No valid playable regions found in %1").arg(broken));
        controller.selectPresetForSlot(0, QStringLiteral("auto_alpha"));
        controller.selectPresetForSlot(0, QStringLiteral("auto_broken"));
        QTRY_VERIFY(!controller.loadingInstrument());
        QCOMPARE(controller.statusBanner(),
                 QStringLiteral("SFZ Warning: No valid playable regions found in %1").arg(broken));
        QCOMPARE(controller.audioEngine().sfzPiano.currentSfzPath(), a);
        // The failed file is not taken for the playing one: choosing it again retries.
        QSignalSpy loading(&controller, &WorkstationController::loadingInstrumentChanged);
        controller.selectPresetForSlot(0, QStringLiteral("auto_broken"));
        QCOMPARE(loading.count(), 1);
        QTRY_VERIFY(!controller.loadingInstrument());
    }

    void theLoadedPianoChosenAgainReloadsNothingButTakesItsSound() {
        PresetWorld world(false);
        world.writeInstrument(QStringLiteral("alpha"), 220.0);
        WorkstationController controller;
        controller.audioEngine().prepareOffline(48000, 256);
        controller.selectPresetForSlot(0, QStringLiteral("auto_alpha"));
        controller.setBrightness(0.9f);
        controller.setReverbAmount(0.9f);
        controller.setChorusAmount(0.9f);
        QSignalSpy banner(&controller, &WorkstationController::statusBannerChanged);
        QSignalSpy loading(&controller, &WorkstationController::loadingInstrumentChanged);
        controller.selectPresetForSlot(0, QStringLiteral("auto_alpha"));
        QCOMPARE(banner.count(), 0);
        QCOMPARE(loading.count(), 0);
        QCOMPARE(controller.brightness(), 0.55f);
        QCOMPARE(controller.reverbAmount(), 0.28f);
        QCOMPARE(controller.chorusAmount(), 0.0f);
    }

    void layerAndSplitTakeTheirEngineButNoSampledPiano() {
        PresetWorld world(true);
        world.writeInstrument(QStringLiteral("alpha"), 220.0);
        WorkstationController controller;
        AudioEngine& engine = controller.audioEngine();
        engine.prepareOffline(48000, 256);
        controller.setBrightness(0.9f);
        QSignalSpy params(&controller, &WorkstationController::pianoParamsChanged);

        controller.selectPresetForSlot(1, QStringLiteral("auto_alpha"));
        QCOMPARE(engine.slotEngineType(1), SoundEngineType::Sfz);
        QVERIFY(engine.sfzPiano.currentSfzPath().isEmpty());
        QCOMPARE(controller.layer2PresetId(), QStringLiteral("auto_alpha"));

        controller.selectPresetForSlot(2, QStringLiteral("synth_gospel_organ"));
        QCOMPARE(engine.slotEngineType(2), SoundEngineType::Synth);
        QCOMPARE(engine.synths[2].voiceModel(), 2u);
        controller.selectPresetForSlot(1, QStringLiteral("gm_string_ensemble"));
        QCOMPARE(engine.slotEngineType(1), SoundEngineType::SoundFont);
        // Layer and split presets leave the piano's sound alone.
        QCOMPARE(controller.brightness(), 0.9f);
        QCOMPARE(params.count(), 0);

        // The layer plays the strings through the SoundFont engine.
        controller.setLayer2Enabled(true);
        controller.noteOn(60, 100);
        const StereoSignal signal = renderBlocks(engine, 24000, 256);
        QVERIFY(peak(signal.left, 4800) > 0.01f);
    }

    void anUnknownIdChangesNothingButTheMainSlotStillResetsModifiers() {
        PresetWorld world(true);
        WorkstationController controller;
        controller.audioEngine().prepareOffline(48000, 256);
        controller.selectPresetForSlot(0, QStringLiteral("gm_church_organ"));
        controller.setSplitEnabled(true);
        QSignalSpy presets(&controller, &WorkstationController::activePresetsChanged);
        controller.selectPresetForSlot(0, QStringLiteral("no_such_preset"));
        QCOMPARE(presets.count(), 0);
        QCOMPARE(controller.mainPresetId(), QStringLiteral("gm_church_organ"));
        QVERIFY(!controller.splitEnabled());
        controller.selectPresetForSlot(1, QStringLiteral("no_such_preset"));
        QCOMPARE(controller.layer2PresetId(), QStringLiteral("synth_worship_pad"));
        QCOMPARE(presets.count(), 0);
        // Ids of earlier versions are still understood.
        controller.selectPresetForSlot(1, QStringLiteral("kwaya_organ"));
        QCOMPARE(controller.layer2PresetId(), QStringLiteral("gm_church_organ"));
        QCOMPARE(presets.count(), 1);
        controller.selectPresetForSlot(3, QStringLiteral("gm_church_organ"));
        QCOMPARE(presets.count(), 1);
        // Registrations and projects choose without resetting anything.
        controller.setSplitEnabled(true);
        controller.selectPresetForSlotInternal(0, QStringLiteral("gm_rhodes_ep"));
        QCOMPARE(controller.mainPresetId(), QStringLiteral("gm_rhodes_ep"));
        QVERIFY(controller.splitEnabled());
    }

    void theControllerGoesWhileAPianoLoads() {
        PresetWorld world(false);
        world.writeInstrument(QStringLiteral("alpha"), 220.0);
        world.writeInstrument(QStringLiteral("slow"), 330.0, 12, 3.0);
        for (int repetition = 0; repetition < 5; ++repetition) {
            auto controller = std::make_unique<WorkstationController>();
            controller->audioEngine().prepareOffline(48000, 256);
            controller->selectPresetForSlot(0, QStringLiteral("auto_alpha"));
            controller->selectPresetForSlot(0, QStringLiteral("auto_slow"));
            QTest::qWait(repetition * 5);
            // The loader ends with the controller; its report never reaches the
            // destroyed object (the sanitizers would see it).
            controller.reset();
            QCoreApplication::processEvents();
            QTest::qWait(10);
        }
    }

    void theLoaderReportsOnlyTheLatestRequestAndNothingAfterShutdown() {
        PresetWorld world(false);
        const QString slow = world.writeInstrument(QStringLiteral("slow"), 330.0, 12, 3.0);
        const QString fast = world.writeInstrument(QStringLiteral("fast"), 440.0);
        SfzPianoEngine engine;
        engine.prepare(48000.0f);
        std::atomic<int> reports{0};
        std::atomic<std::uint64_t> reported{0};
        SfzInstrumentLoader loader(engine, [&](const SfzInstrumentLoader::Result& result) {
            reported = result.requestId;
            ++reports;
        });
        loader.request(slow);
        const std::uint64_t last = loader.request(fast);
        QTRY_COMPARE(reports.load(), 1);
        QCOMPARE(reported.load(), last);
        QCOMPARE(engine.currentSfzPath(), fast);

        loader.request(slow);
        loader.shutdown();
        const int after = reports.load();
        QTest::qWait(50);
        QCOMPARE(reports.load(), after);
        QCOMPARE(loader.request(fast), std::uint64_t{0});
        // The load that shutdown waited for was dropped, not installed.
        QCOMPARE(engine.currentSfzPath(), fast);
    }

    // ------------------------------------------------------------ start-up

    void startUpPutsTheFirstPresetThePadAndTheBassInTheSlots() {
        PresetWorld world(true);
        WorkstationController controller;
        QSignalSpy presets(&controller, &WorkstationController::activePresetsChanged);
        controller.initialize();
        AudioEngine& engine = controller.audioEngine();
        QCOMPARE(controller.mainPresetId(), QStringLiteral("gm_acoustic_grand"));
        QCOMPARE(controller.mainPresetName(), QStringLiteral("Yamaha-Style Concert Grand (SF2)"));
        QCOMPARE(controller.mainPresetCategory(),
                 QStringLiteral("Pianos & Keyboards • Yamaha CFX / S6 Style"));
        QCOMPARE(controller.mainPresetEngineLabel(), QStringLiteral("FluidSynth SF2 Engine"));
        QCOMPARE(engine.slotEngineType(0), SoundEngineType::SoundFont);
        QCOMPARE(controller.layer2PresetId(), QStringLiteral("synth_worship_pad"));
        QCOMPARE(controller.layer2PresetName(), QStringLiteral("Montage Warm Worship Pad (Synth Engine)"));
        QCOMPARE(engine.slotEngineType(1), SoundEngineType::Synth);
        QCOMPARE(engine.synths[1].voiceModel(), 0u);
        QCOMPARE(controller.splitPresetId(), QStringLiteral("gm_finger_bass"));
        QCOMPARE(controller.splitPresetName(), QStringLiteral("Electric Fingered Bass (Split Ready)"));
        QCOMPARE(engine.slotEngineType(2), SoundEngineType::SoundFont);
        QCOMPARE(presets.count(), 3);
        QVERIFY(!controller.autoPedalEnabled());
        // The first preset's sound reached the piano parameters.
        QCOMPARE(controller.brightness(), 0.55f);

        // Drum kits 0-3 come from the General MIDI font; 0 is selected.
        QCOMPARE(controller.availableDrumKits().size(), 4);
        QCOMPARE(controller.currentDrumKitName(), QStringLiteral("FluidR3 Standard Acoustic Kit"));

        // Every slot sounds: main, split and layer.
        engine.prepareOffline(48000, 256);
        controller.setSplitEnabled(true);
        controller.setLayer2Enabled(true);
        for (int note : {40, 72}) {
            controller.noteOn(note, 100);
            const StereoSignal signal = renderBlocks(engine, 24000, 256);
            QVERIFY2(peak(signal.left, 4800) > 0.01f, qPrintable(QString::number(note)));
            controller.noteOff(note);
        }
    }

    void withoutTheGeneralMidiFontTheSplitStaysEmpty() {
        PresetWorld world(false);
        WorkstationController controller;
        const SoundEngineType splitBefore = controller.audioEngine().slotEngineType(2);
        QSignalSpy presets(&controller, &WorkstationController::activePresetsChanged);
        controller.initialize();
        // The first catalogue entry is now the first synth patch, the worship pad.
        QCOMPARE(controller.mainPresetId(), QStringLiteral("synth_worship_pad"));
        QCOMPARE(controller.mainPresetEngineLabel(), QStringLiteral("Native Physical / Hybrid Synth"));
        QCOMPARE(controller.audioEngine().slotEngineType(0), SoundEngineType::Synth);
        QCOMPARE(controller.layer2PresetId(), QStringLiteral("synth_worship_pad"));
        QCOMPARE(presets.count(), 2);
        QCOMPARE(controller.audioEngine().slotEngineType(2), splitBefore);
        QCOMPARE(controller.splitPresetId(), QStringLiteral("gm_finger_bass"));
        QCOMPARE(controller.splitPresetName(), QStringLiteral("Electric Fingered Bass"));
        QVERIFY(controller.availableDrumKits().isEmpty());
        QCOMPARE(controller.currentDrumKitName(), QStringLiteral("AVL Red Zeppelin Studio Kit"));
    }

    void aSampledPianoFirstInTheCatalogueLoadsAtStartUp() {
        PresetWorld world(false);
        // The local concert grand heads the catalogue when its file exists.
        const QString grand = world.fixture.locations().concertGrandSfz;
        QDir().mkpath(QFileInfo(grand).absolutePath());
        TestTone tone;
        tone.frequency = 261.63;
        QVERIFY(writeTestWav(QFileInfo(grand).absolutePath() + QStringLiteral("/c4.wav"), tone));
        QVERIFY(writeTestFile(grand, "<region> sample=c4.wav pitch_keycenter=60\n"));
        WorkstationController controller;
        QSignalSpy loading(&controller, &WorkstationController::loadingInstrumentChanged);
        controller.initialize();
        QCOMPARE(controller.mainPresetId(), QStringLiteral("sfz_salamander_c5"));
        QCOMPARE(controller.mainPresetEngineLabel(), QStringLiteral("16-Layer SFZ + Resonance"));
        QCOMPARE(controller.audioEngine().sfzPiano.currentSfzPath(), QFileInfo(grand).absoluteFilePath());
        QCOMPARE(loading.count(), 0);
        // The brightness of the grand's catalogue entry.
        QCOMPARE(controller.brightness(), 0.58f);
    }

    // ------------------------------------------------------------ drum kits

    void drumKitsAreListedInOrderAndSelectedByIndex() {
        PresetWorld world(true);
        const QString pearl = world.drumKits() + QStringLiteral("/Black_Pearl_4_LV2.sf2");
        QVERIFY(QFile::link(QStringLiteral("/usr/share/sounds/sf2/Black_Pearl_4_LV2.sf2"), pearl) ||
                QFile::copy(smallGeneralMidiFont, pearl));
        // Not a SoundFont: listed (the file exists) but it cannot be selected.
        const QString broken = world.drumKits() + QStringLiteral("/Blonde_Bop_LV2.sf2");
        QVERIFY(writeTestFile(broken, "not a soundfont"));
        WorkstationController controller;
        controller.audioEngine().prepareOffline(48000, 256);
        controller.initDrumKits();
        const QVariantList kits = controller.availableDrumKits();
        QStringList names;
        for (const QVariant& kit : kits)
            names << kit.toMap().value(QStringLiteral("name")).toString();
        QCOMPARE(names, QStringList({"FluidR3 Standard Acoustic Kit", "FluidR3 Room Acoustic Kit",
                                     "FluidR3 Power Rock Kit", "FluidR3 Jazz Brush Kit",
                                     "AVL Black Pearl Studio Kit (SF2)", "AVL Blonde Bop Jazz Kit (SF2)"}));
        const QVariantMap room = kits.at(1).toMap();
        QCOMPARE(room.value(QStringLiteral("path")).toString(),
                 world.soundFonts() + QStringLiteral("/FluidR3_GM.sf2"));
        QCOMPARE(room.value(QStringLiteral("bank")).toInt(), 128);
        QCOMPARE(room.value(QStringLiteral("program")).toInt(), 8);
        const QVariantMap avl = kits.at(4).toMap();
        QCOMPARE(avl.value(QStringLiteral("path")).toString(), pearl);
        QCOMPARE(avl.value(QStringLiteral("bank")).toInt(), 0);
        QCOMPARE(avl.value(QStringLiteral("program")).toInt(), 0);

        QSignalSpy kit(&controller, &WorkstationController::drumKitChanged);
        controller.selectDrumKitByIndex(4);
        QCOMPARE(controller.currentDrumKitName(), QStringLiteral("AVL Black Pearl Studio Kit (SF2)"));
        QCOMPARE(kit.count(), 1);
        // A kit whose file is no SoundFont cannot be selected: nothing changes.
        controller.selectDrumKitByIndex(5);
        controller.selectDrumKitByIndex(-1);
        controller.selectDrumKitByIndex(6);
        QCOMPARE(kit.count(), 1);
        QCOMPARE(controller.currentDrumKitName(), QStringLiteral("AVL Black Pearl Studio Kit (SF2)"));
        controller.selectDrumKitByIndex(3);
        QCOMPARE(controller.currentDrumKitName(), QStringLiteral("FluidR3 Jazz Brush Kit"));
        QCOMPARE(kit.count(), 2);

        // The kit plays on channel 10.
        controller.triggerDrumPad(38);
        const StereoSignal signal = renderBlocks(controller.audioEngine(), 12000, 256);
        QVERIFY(peak(signal.left) > 0.01f);
    }

    // ------------------------------------------------------------ catalogue

    void importsFavouritesAndQueriesGoThroughTheCatalogue() {
        PresetWorld world(false);
        WorkstationController controller;
        QSignalSpy catalog(&controller, &WorkstationController::presetsCatalogChanged);
        QSignalSpy banner(&controller, &WorkstationController::statusBannerChanged);

        const QString outside = world.fixture.root() + QStringLiteral("/elsewhere/My Organ.sfz");
        QDir().mkpath(QFileInfo(outside).absolutePath());
        QVERIFY(writeTestFile(outside, "<region> sample=none.wav\n"));
        QVERIFY(controller.importInstrumentLibrary(QUrl::fromLocalFile(outside).toString()));
        QCOMPARE(controller.statusBanner(), QStringLiteral("Imported instrument: My Organ.sfz"));
        QCOMPARE(catalog.count(), 1);
        QCOMPARE(controller.queryPresets(QString(), QStringLiteral("my organ"), false).size(), 1);

        const QString plain = world.fixture.root() + QStringLiteral("/elsewhere/Strings.sf2");
        QVERIFY(writeTestFile(plain, "x"));
        QVERIFY(controller.importInstrumentLibrary(plain));
        QCOMPARE(catalog.count(), 2);

        QVERIFY(!controller.importInstrumentLibrary(world.fixture.root() + QStringLiteral("/missing.sfz")));
        QCOMPARE(controller.statusBanner(), QStringLiteral("File does not exist: %1")
                                                .arg(world.fixture.root() + QStringLiteral("/missing.sfz")));
        QVERIFY(
            !controller.importInstrumentLibrary(QUrl::fromLocalFile(world.fixture.database()).toString()));
        QCOMPARE(controller.statusBanner(),
                 QStringLiteral("Unsupported format. Please select an .sf2 or .sfz instrument file."));
        QCOMPARE(catalog.count(), 2);
        QCOMPARE(banner.count(), 4);

        QCOMPARE(controller.queryPresets(QStringLiteral("All"), QStringLiteral("worship pad"), true).size(),
                 0);
        controller.toggleFavoritePreset(QStringLiteral("synth_worship_pad"));
        QCOMPARE(catalog.count(), 3);
        const QVariantList favourites =
            controller.queryPresets(QStringLiteral("All"), QStringLiteral("worship pad"), true);
        QCOMPARE(favourites.size(), 1);
        QCOMPARE(favourites.at(0).toMap().value(QStringLiteral("id")).toString(),
                 QStringLiteral("synth_worship_pad"));
    }

    void resetToDefaultPianoRestoresTheStartingSound() {
        PresetWorld world(true);
        WorkstationController controller;
        controller.audioEngine().prepareOffline(48000, 256);
        controller.selectPresetForSlot(0, QStringLiteral("gm_church_organ"));
        controller.toggleAbCompare(); // B active; the comparison record holds the organ's sound
        controller.setTuningHz(430.0f);
        controller.setTransposeSemitones(3);
        controller.setTouchCurve(3);
        controller.setExpressionPedal(0.5f);
        controller.setInvertPedalPolarity(true);
        controller.setSustainLatched(true);
        controller.setLayer2Enabled(true);
        QSignalSpy params(&controller, &WorkstationController::pianoParamsChanged);
        QSignalSpy pedals(&controller, &WorkstationController::pedalStateChanged);
        QSignalSpy presets(&controller, &WorkstationController::activePresetsChanged);

        controller.resetToDefaultPiano();
        QCOMPARE(controller.mainPresetId(), QStringLiteral("gm_acoustic_grand"));
        QVERIFY(!controller.abSlotBActive());
        QCOMPARE(controller.tuningHz(), 440.0f);
        QCOMPARE(controller.transposeSemitones(), 0);
        QCOMPARE(controller.touchCurve(), 1);
        QCOMPARE(controller.expressionPedal(), 1.0f);
        QVERIFY(!controller.invertPedalPolarity());
        QVERIFY(!controller.sustainLatched());
        QVERIFY(!controller.sustainPedal());
        QVERIFY(!controller.layer2Enabled());
        QCOMPARE(controller.reverbRoomSize(), 0.72f);
        QCOMPARE(controller.brightness(), 0.55f);
        QVERIFY(params.count() >= 1);
        QVERIFY(pedals.count() >= 1);
        QCOMPARE(presets.count(), 1);
        // The comparison record was left as it was: switching brings the organ back.
        controller.toggleAbCompare();
        QCOMPARE(controller.brightness(), 0.65f);
        QCOMPARE(controller.reverbAmount(), 0.55f);
        // And the engine has what the controller shows.
        controller.toggleAbCompare();
        controller.audioEngine().processAudioCallback(std::vector<float>(512).data(), 256);
        QCOMPARE(controller.audioEngine().renderingParameters().tuningHz, 440.0f);
    }

    void displayTextsFallBackWhenTheSlotHoldsNothingKnown() {
        PresetWorld world(false);
        WorkstationController controller;
        // Before start-up the main slot holds no preset; the split's bass needs the
        // General MIDI font, which this catalogue lacks.
        QCOMPARE(controller.mainPresetName(), QStringLiteral("Concert Grand Piano"));
        QCOMPARE(controller.mainPresetCategory(), QStringLiteral("Pianos & Keyboards"));
        QCOMPARE(controller.mainPresetEngineLabel(), QStringLiteral("SFZ Engine"));
        QCOMPARE(controller.layer2PresetName(), QStringLiteral("Montage Warm Worship Pad (Synth Engine)"));
        QCOMPARE(controller.splitPresetName(), QStringLiteral("Electric Fingered Bass"));
        QCOMPARE(controller.currentDrumKitName(), QStringLiteral("AVL Red Zeppelin Studio Kit"));
        QVERIFY(!controller.loadingInstrument());
    }
};

QTEST_GUILESS_MAIN(SlotPresetsTest)
#include "tst_slot_presets.moc"
