// Presets in the three slots through the real controller: piano loads, start-up, kits, texts.

#include "AppTestWorld.h"
#include "app/WorkstationController.h"
#include "support/AudioAnalysis.h"
#include "support/OfflineRender.h"
#include "support/TestEnvironment.h"

#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include <array>
#include <memory>

using namespace tmb;
using namespace tmb::test;
using namespace Qt::StringLiterals;

namespace {

// The pitch the main slot sounds for key 60 at velocity 100.
double mainSlotPitch(AudioEngine& engine) {
    engine.submitMidiEvent(MidiEvent::reset());
    engine.submitMidiEvent(MidiEvent::noteOn(0, 60, 100));
    const StereoSignal signal = renderBlocks(engine, 24000, 256);
    return dominantFrequency(signal.left, signal.sampleRate, 100.0, 1000.0, 4800, 24000);
}

AudioEngine& offline(WorkstationController& c) {
    c.audioEngine().prepareOffline(48000, 256);
    return c.audioEngine();
}

bool sounds(AudioEngine& engine, std::uint64_t frames = 24000) {
    return peak(renderBlocks(engine, frames, 256).left, 4800) > 0.01f;
}

void choose(WorkstationController& c, const char* id, int slot = 0) {
    c.selectPresetForSlot(slot, QString::fromLatin1(id));
}

// The three slots, main, layer and split, as "<preset id>:<engine>".
QString slotsText(WorkstationController& c) {
    const QString ids[] = {c.mainPresetId(), c.layer2PresetId(), c.splitPresetId()};
    QStringList parts;
    for (int slot = 0; slot < 3; ++slot)
        parts << ids[slot] + u':' +
                     std::array{"Sfz", "SoundFont", "Synth"}[int(c.audioEngine().slotEngineType(slot))];
    return parts.join(u' ');
}

// Main name, category and engine label, layer and split names.
QStringList displayTexts(WorkstationController& c) {
    return {c.mainPresetName(), c.mainPresetCategory(), c.mainPresetEngineLabel(), c.layer2PresetName(),
            c.splitPresetName()};
}

QString loadedBanner(const char* name) {
    return u"Loaded %1 (Auto-Discovered SFZ) (1 regions)"_s.arg(QLatin1String(name));
}

} // namespace

class SlotPresetsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { usePrivateHome(); }

    // The first piano loads at once, later ones on the loader; a failed load keeps the last.
    void sampledPianoLoadsAtOnceFirstThenOnTheLoaderThread() {
        PresetWorld world(false);
        const QString a = world.writeInstrument(u"alpha"_s, 220.0);
        const QString broken = world.music() + u"/broken.sfz"_s;
        QVERIFY(writeTestFile(broken, "<region> sample=missing.wav\n"));
        const QString warning = u"SFZ Warning: No valid playable regions found in %1"_s.arg(broken);
        WorkstationController c;
        AudioEngine& engine = offline(c);
        choose(c, "auto_broken");
        QCOMPARE(c.statusBanner(), warning);
        QSignalSpy loading(&c, &WorkstationController::loadingInstrumentChanged);
        QSignalSpy presets(&c, &WorkstationController::activePresetsChanged);

        choose(c, "auto_alpha");
        QCOMPARE(engine.sfzPiano.currentSfzPath(), a);
        QCOMPARE(c.statusBanner(), loadedBanner("alpha"));
        QCOMPARE(slotsText(c).section(u' ', 0, 0), u"auto_alpha:Sfz"_s);
        QCOMPARE(QList<qsizetype>({loading.count(), presets.count()}), QList<qsizetype>({0, 1}));

        // Chosen again, the loaded piano reloads nothing but takes its catalogue sound.
        c.setBrightness(0.9f);
        c.setReverbAmount(0.9f);
        c.setChorusAmount(0.9f);
        QSignalSpy banner(&c, &WorkstationController::statusBannerChanged);
        choose(c, "auto_alpha");
        QCOMPARE(banner.count() + loading.count(), 0);
        QCOMPARE(props(c, "brightness reverbAmount chorusAmount"), u"0.55 0.28 0"_s);

        choose(c, "auto_broken");
        QTRY_VERIFY(!c.loadingInstrument());
        QCOMPARE(c.statusBanner(), warning);
        QCOMPARE(engine.sfzPiano.currentSfzPath(), a);
        // The failed file is not taken for the playing one: choosing it again retries.
        loading.clear();
        choose(c, "auto_broken");
        QCOMPARE(loading.count(), 1);
        QTRY_VERIFY(!c.loadingInstrument());
    }

    // Quick choices, the first the slowest: the last plays, the flag stays up until it does.
    void rapidChoicesLeaveTheLastOneLoaded() {
        PresetWorld world(false);
        world.writeInstrument(u"start"_s, 262.0);
        world.writeInstrument(u"slow"_s, 220.0, 12, 3.0);
        world.writeInstrument(u"medium"_s, 330.0, 6, 2.0);
        const QString fast = world.writeInstrument(u"fast"_s, 440.0);
        for (int repetition = 0; repetition < 5; ++repetition) {
            WorkstationController c;
            AudioEngine& engine = offline(c);
            choose(c, "auto_start");
            QSignalSpy loading(&c, &WorkstationController::loadingInstrumentChanged);
            QSignalSpy banner(&c, &WorkstationController::statusBannerChanged);
            {
                BackendThread audio(engine, std::chrono::microseconds(500), true);
                choose(c, "auto_slow");
                choose(c, "auto_medium");
                choose(c, "auto_fast");
                QVERIFY(c.loadingInstrument());
                QTRY_VERIFY_WITH_TIMEOUT(!c.loadingInstrument(), 30000);
                QCOMPARE(c.statusBanner(), loadedBanner("fast"));
                QTest::qWait(20); // nothing late replaces it
                QCOMPARE(engine.sfzPiano.currentSfzPath(), fast);
                QCOMPARE(loading.count(), 2);
                audio.stop();
            }
            QCOMPARE(banner.count(), 1);
            QCOMPARE(c.mainPresetId(), u"auto_fast"_s);
            if (repetition == 0) QVERIFY(std::abs(mainSlotPitch(engine) - 440.0) < 4.0);
        }
        { // choosing the playing piano again takes back the load in between
            WorkstationController c;
            AudioEngine& engine = offline(c);
            for (const char* id : {"auto_fast", "auto_slow", "auto_fast"})
                choose(c, id);
            QTRY_VERIFY_WITH_TIMEOUT(!c.loadingInstrument(), 30000);
            QTest::qWait(20);
            QCOMPARE(engine.sfzPiano.currentSfzPath() + c.statusBanner(), fast + loadedBanner("fast"));
        }
        // The controller may go mid-load; the loader never reports to it (sanitizers).
        for (int wait : {0, 5, 15}) {
            auto c = std::make_unique<WorkstationController>();
            offline(*c);
            choose(*c, "auto_start");
            choose(*c, "auto_slow");
            QVERIFY(c->loadingInstrument());
            QTest::qWait(wait); // goes early, mid-load or after it (a quiet machine loads fast)
            c.reset();
            QTest::qWait(10);
        }
    }

    void layerSplitAndUnknownChoices() {
        PresetWorld world(true);
        world.writeInstrument(u"alpha"_s, 220.0);
        WorkstationController c;
        AudioEngine& engine = offline(c);
        c.setBrightness(0.9f);
        QSignalSpy params(&c, &WorkstationController::pianoParamsChanged);
        QSignalSpy presets(&c, &WorkstationController::activePresetsChanged);
        // Layer and split never take the sampled piano and leave its sound alone.
        choose(c, "auto_alpha", 1);
        QCOMPARE(slotsText(c).section(u' ', 1, 1), u"auto_alpha:Sfz"_s);
        QVERIFY(engine.sfzPiano.currentSfzPath().isEmpty());
        choose(c, "synth_gospel_organ", 2);
        QCOMPARE(slotsText(c).section(u' ', 2, 2), u"synth_gospel_organ:Synth"_s);
        QCOMPARE(engine.synths[2].voiceModel(), 2u);
        choose(c, "gm_string_ensemble", 1);
        QCOMPARE(engine.slotEngineType(1), SoundEngineType::SoundFont);
        QCOMPARE(c.brightness(), 0.9f);
        QCOMPARE(params.count(), 0);
        // The layer plays the strings through the SoundFont engine (the main slot is silent).
        c.setLayer2Enabled(true);
        c.noteOn(60, 100);
        QVERIFY(sounds(engine));
        c.noteOff(60);

        // An unknown id changes nothing, but the main slot still resets the modifiers.
        choose(c, "gm_church_organ");
        c.setSplitEnabled(true);
        presets.clear();
        choose(c, "no_such_preset");
        QVERIFY(!c.splitEnabled());
        choose(c, "no_such_preset", 1);
        QCOMPARE(presets.count(), 0);
        choose(c, "kwaya_organ", 1); // an id of an earlier version
        choose(c, "gm_church_organ", 3);
        QCOMPARE(presets.count(), 1);
        QCOMPARE(c.mainPresetId() + u' ' + c.layer2PresetId(), u"gm_church_organ gm_church_organ"_s);
        // Registrations and projects choose without resetting anything.
        c.setSplitEnabled(true);
        c.selectPresetForSlotInternal(0, u"gm_rhodes_ep"_s);
        QCOMPARE(c.mainPresetId(), u"gm_rhodes_ep"_s);
        QVERIFY(c.splitEnabled());
    }

    // ------------------------------------------------------------ start-up and drum kits

    void startUpFillsTheSlotsAndListsTheDrumKits() {
        PresetWorld world(true);
        const QString pearl = world.drumKits() + u"/Black_Pearl_4_LV2.sf2"_s;
        QVERIFY(QFile::link(u"/usr/share/sounds/sf2/Black_Pearl_4_LV2.sf2"_s, pearl) ||
                QFile::copy(smallGeneralMidiFont, pearl));
        // Not a SoundFont: listed (the file exists) but it cannot be selected.
        QVERIFY(writeTestFile(world.drumKits() + u"/Blonde_Bop_LV2.sf2"_s, "not a soundfont"));
        WorkstationController c;
        QSignalSpy presets(&c, &WorkstationController::activePresetsChanged);
        c.initialize();
        AudioEngine& engine = c.audioEngine();
        QCOMPARE(slotsText(c),
                 u"gm_acoustic_grand:SoundFont synth_worship_pad:Synth gm_finger_bass:SoundFont"_s);
        QCOMPARE(
            displayTexts(c),
            QStringList({"Yamaha-Style Concert Grand (SF2)", "Pianos & Keyboards • Yamaha CFX / S6 Style",
                         "FluidSynth SF2 Engine", "Montage Warm Worship Pad (Synth Engine)",
                         "Electric Fingered Bass (Split Ready)"}));
        QCOMPARE(engine.synths[1].voiceModel(), 0u);
        QCOMPARE(presets.count(), 3);
        QCOMPARE(c.brightness(), 0.55f); // the first preset's sound reached the piano parameters

        // Kits 0-3 come from the General MIDI font, the bundle's follow; 0 is selected.
        QStringList kits;
        for (const QVariant& kit : c.availableDrumKits()) {
            const QVariantMap k = kit.toMap();
            kits << u"%1 %2:%3 %4"_s.arg(k[u"name"_s].toString())
                        .arg(k[u"bank"_s].toInt())
                        .arg(k[u"program"_s].toInt())
                        .arg(k[u"path"_s].toString().remove(world.fixture.root()));
        }
        const QString gm = u" /soundfonts/FluidR3_GM.sf2"_s, avl = u" /home/.lv2/avldrums.lv2/"_s;
        QCOMPARE(
            kits,
            QStringList({"FluidR3 Standard Acoustic Kit 128:0" + gm, "FluidR3 Room Acoustic Kit 128:8" + gm,
                         "FluidR3 Power Rock Kit 128:16" + gm, "FluidR3 Jazz Brush Kit 128:40" + gm,
                         "AVL Black Pearl Studio Kit (SF2) 0:0" + avl + "Black_Pearl_4_LV2.sf2",
                         "AVL Blonde Bop Jazz Kit (SF2) 0:0" + avl + "Blonde_Bop_LV2.sf2"}));
        // A kit whose file is no SoundFont, or no kit at all, cannot be selected.
        QSignalSpy kit(&c, &WorkstationController::drumKitChanged);
        QStringList chosen{c.currentDrumKitName()};
        for (int index : {4, 5, -1, 6, 3}) {
            c.selectDrumKitByIndex(index);
            chosen << c.currentDrumKitName();
        }
        QCOMPARE(chosen.join(u'|'),
                 u"FluidR3 Standard Acoustic Kit|AVL Black Pearl Studio Kit (SF2)|AVL Black "
                 "Pearl Studio Kit (SF2)|AVL Black Pearl Studio Kit (SF2)|AVL Black Pearl "
                 "Studio Kit (SF2)|FluidR3 Jazz Brush Kit"_s);
        QCOMPARE(kit.count(), 2);

        // The kit plays on channel 10; every slot sounds, each after the last died away.
        engine.prepareOffline(48000, 256);
        c.triggerDrumPad(38);
        QVERIFY(sounds(engine, 12000));
        c.setSplitEnabled(true);
        c.setLayer2Enabled(true);
        for (int note : {40, 72}) {
            QTRY_VERIFY(peak(renderBlocks(engine, 4800, 256).left) < 1e-3f);
            c.noteOn(note, 100);
            QVERIFY2(sounds(engine), qPrintable(QString::number(note)));
            c.noteOff(note);
        }
    }

    void withoutTheGeneralMidiFontTheSplitStaysEmpty() {
        PresetWorld world(false);
        WorkstationController c;
        // Without the GM font: no main preset before start-up, the worship pad after it.
        QCOMPARE(displayTexts(c),
                 QStringList({"Concert Grand Piano", "Pianos & Keyboards", "SFZ Engine",
                              "Montage Warm Worship Pad (Synth Engine)", "Electric Fingered Bass"}));
        QVERIFY(!c.loadingInstrument());
        const QString splitBefore = slotsText(c).section(u' ', 2);
        QVERIFY(splitBefore.startsWith(u"gm_finger_bass:"_s));
        QSignalSpy presets(&c, &WorkstationController::activePresetsChanged);
        c.initialize();
        QCOMPARE(slotsText(c), u"synth_worship_pad:Synth synth_worship_pad:Synth "_s + splitBefore);
        QCOMPARE(displayTexts(c).at(2) + u'|' + displayTexts(c).at(4),
                 u"Native Physical / Hybrid Synth|Electric Fingered Bass"_s);
        QCOMPARE(presets.count(), 2);
        QVERIFY(c.availableDrumKits().isEmpty());
        QCOMPARE(c.currentDrumKitName(), u"AVL Red Zeppelin Studio Kit"_s);
    }

    // The local concert grand heads the catalogue when its file exists, and loads at start-up.
    void aSampledPianoFirstInTheCatalogueLoadsAtStartUp() {
        PresetWorld world(false);
        const QFileInfo grand(world.fixture.locations().concertGrandSfz);
        QVERIFY(writeTestWav(grand.absolutePath() + u"/c4.wav"_s, {.frequency = 261.63}));
        QVERIFY(writeTestFile(grand.filePath(), "<region> sample=c4.wav pitch_keycenter=60\n"));
        WorkstationController c;
        QSignalSpy loading(&c, &WorkstationController::loadingInstrumentChanged);
        c.initialize();
        QCOMPARE(props(c, "mainPresetId brightness"), u"sfz_salamander_c5 0.58"_s);
        QCOMPARE(c.audioEngine().sfzPiano.currentSfzPath(), grand.absoluteFilePath());
        QCOMPARE(loading.count(), 0);
    }

    // ------------------------------------------------------------ catalogue

    void importsAndQueriesGoThroughTheCatalogue() {
        PresetWorld world(false);
        WorkstationController c;
        QSignalSpy catalog(&c, &WorkstationController::presetsCatalogChanged);
        const QString elsewhere = world.fixture.root() + u"/elsewhere"_s,
                      missing = elsewhere + u"/missing.sfz"_s;
        QVERIFY(writeTestFile(elsewhere + u"/My Organ.sfz"_s, "<region> sample=none.wav\n"));
        QVERIFY(writeTestFile(elsewhere + u"/Strings.sf2"_s, "x"));
        // A URL or a plain path; a missing file, or one of no instrument format.
        const std::pair<QString, QString> imports[] = {
            {QUrl::fromLocalFile(elsewhere + u"/My Organ.sfz"_s).toString(),
             u"Imported instrument: My Organ.sfz"_s},
            {elsewhere + u"/Strings.sf2"_s, u"Imported instrument: Strings.sf2"_s},
            {missing, u"File does not exist: "_s + missing},
            {QUrl::fromLocalFile(world.fixture.database()).toString(),
             u"Unsupported format. Please select an .sf2 or .sfz instrument file."_s}};
        for (const auto& [file, text] : imports) {
            QCOMPARE(c.importInstrumentLibrary(file), text.startsWith(u"Imported"_s));
            QCOMPARE(c.statusBanner(), text);
        }
        QCOMPARE(catalog.count(), 2);
        QCOMPARE(c.queryPresets(QString(), u"my organ"_s, false).size(), 1);
    }

    // ◀ and ▶ step the main voice through its category and wrap; SOUNDS lists categories.
    void voiceSteppingStaysInItsCategoryAndWraps() {
        PresetWorld world(true);
        WorkstationController c;
        c.stepMainPreset(1); // no main voice yet: nothing to step from
        QVERIFY(c.mainPresetId().isEmpty());
        QStringList categories;
        for (const QVariant& preset : c.queryPresets(QString(), QString(), false))
            if (!categories.contains(preset.toMap().value(u"category"_s).toString()))
                categories << preset.toMap().value(u"category"_s).toString();
        QCOMPARE(c.presetCategories(), categories);

        for (const QString& category : {u"Pianos & Keyboards"_s, u"Synthesizers"_s}) {
            QStringList ids;
            for (const QVariant& preset : c.queryPresets(category, QString(), false))
                ids << preset.toMap().value(u"id"_s).toString();
            QVERIFY(ids.size() >= 3);
            c.selectPresetForSlot(0, ids.first());
            c.setLayer2Enabled(true);
            QStringList stepped;
            for (int steps : {1, -1, -1, 1, 2, -3}) {
                c.stepMainPreset(steps);
                stepped << c.mainPresetId();
            }
            const qsizetype n = ids.size();
            QCOMPARE(stepped,
                     QStringList({ids.at(1), ids.at(0), ids.at(n - 1), ids.at(0), ids.at(2), ids.at(n - 1)}));
            QVERIFY(!c.layer2Enabled());
        }
    }
};

QTEST_GUILESS_MAIN(SlotPresetsTest)
#include "tst_slot_presets.moc"
