// Presets in the three slots through the real controller (piano loads, start-up, kits), and
// projects and registrations: save/load, warnings, memories, program change.

#include "AppTestWorld.h"
#include "app/WorkstationController.h"
#include "support/AudioAnalysis.h"
#include "support/OfflineRender.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
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

const char* const soundKeys =
    "brightness damperResonance stringResonance keyOffVolume pedalNoiseVolume lidPosition reverbAmount "
    "reverbRoomSize chorusAmount delayAmount driveAmount compressorAmount stereoWidth tuningHz "
    "transposeSemitones octaveShift touchCurve";
const char* const zoneKeys = "layer2Enabled splitEnabled splitKey velocitySwitchEnabled velocityThreshold "
                             "arpeggiatorEnabled arpMode arpOctaves chordMemoryEnabled layer2OctaveOffset "
                             "splitOctaveOffset";
const char* const slotKeys = "mainPresetId layer2PresetId splitPresetId bpm";

// Every stored key set away from its default, each to a value of its own.
void setCustomSetup(WorkstationController& c) {
    c.selectPresetForSlot(0, u"gm_seben_guitar"_s);
    c.selectPresetForSlot(1, u"gm_brass_section"_s);
    c.selectPresetForSlot(2, u"synth_sub_bass"_s);
    const QStringList sound = QString::fromLatin1(soundKeys).split(u' ');
    const QVariantList soundValues{0.91, 0.12, 0.23, 0.34, 0.45, 0.56, 0.67, 0.78, 0.19,
                                   0.29, 0.39, 0.49, 1.4,  452,  -5,   2,    3};
    const QStringList zones = QString::fromLatin1(zoneKeys).split(u' ');
    const QVariantList zoneValues{true, true, 60, true, 70, true, 2, 3, true, -1, 2};
    for (int i = 0; i < sound.size(); ++i)
        c.setProperty(sound[i].toLatin1(), soundValues[i]);
    for (int i = 0; i < zones.size(); ++i)
        c.setProperty(zones[i].toLatin1(), zoneValues[i]);
    c.setBpm(133.0f);
    c.addPianoRollNote(64, 1.5, 0.75, 90);
    c.addPianoRollNote(40, 0.0, 2.0, 30);
    c.midiManager().setMappings({{7, false, false, u"Knob"_s, u"piano.brightness"_s, 0.2f, 0.8f},
                                 {36, true, true, u"Pad"_s, u"pad.kick"_s, 0.0f, 1.0f}});
}

QString setupText(const WorkstationController& c) {
    return props(c, soundKeys) + u" | "_s + props(c, zoneKeys) + u" | "_s + props(c, slotKeys);
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

    // ------------------------------------------------------------ start-up, drum kits, voice stepping

    void startUpFillsTheSlotsListsTheKitsAndStepsTheVoices() {
        PresetWorld world(true);
        const QString pearl = world.drumKits() + u"/Black_Pearl_4_LV2.sf2"_s;
        QVERIFY(QFile::link(u"/usr/share/sounds/sf2/Black_Pearl_4_LV2.sf2"_s, pearl) ||
                QFile::copy(smallGeneralMidiFont, pearl));
        // Not a SoundFont: listed (the file exists) but it cannot be selected.
        QVERIFY(writeTestFile(world.drumKits() + u"/Blonde_Bop_LV2.sf2"_s, "not a soundfont"));
        WorkstationController c;
        c.stepMainPreset(1); // no main voice yet: nothing to step from
        QVERIFY(c.mainPresetId().isEmpty());
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

        // ◀ and ▶ step the main voice through its category and wrap; SOUNDS lists categories.
        QCOMPARE(c.presetCategories(), QStringList({"Pianos & Keyboards", "Organs & Vintage", "Synthesizers",
                                                    "Orchestral & Acoustic", "World & Percussion"}));

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

    // ------------------------------------------------------------ projects and registrations

    // Saved as a file and as a bundle, then changed, the setup loads back equal;
    // the main preset's reset and its own sound do not undo the file's values.
    void savedSetupLoadsBackEqual_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("file") << u"set.json"_s;
        QTest::newRow("bundle, URL") << u"Sunday.VKS"_s;
    }
    void savedSetupLoadsBackEqual() {
        QFETCH(QString, name);
        PresetWorld world(true);
        WorkstationController c;
        setCustomSetup(c);
        const QString saved = setupText(c);
        const auto notes = c.audioEngine().midiRecorder.snapshotNotes();
        const auto mappings = c.midiManager().mappings();
        const QString path = world.fixture.path(name);
        const QString given = name.endsWith(u"VKS"_s) ? QUrl::fromLocalFile(path).toString() : path;
        QVERIFY(c.saveProjectToFile(given, u"Sunday"_s));
        if (name.endsWith(u"VKS"_s))
            QCOMPARE(QDir(path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                     QStringList({"audio", "midi", "presets", "project.json", "recovery", "session"}));

        c.resetToDefaultPiano();
        c.selectPresetForSlot(1, u"synth_worship_pad"_s);
        c.setSplitEnabled(false);
        c.setBpm(90.0f);
        c.clearRecordedNotes();
        c.resetSamsonProfile();
        c.setSustainPedal(true);
        QVERIFY(setupText(c) != saved);

        QSignalSpy notesSignal(&c, &WorkstationController::recordedNotesChanged);
        QVERIFY(c.loadProjectFromFile(given));
        QCOMPARE(setupText(c), saved);
        QCOMPARE(c.audioEngine().midiRecorder.snapshotNotes(), notes);
        QCOMPARE(c.midiManager().mappings(), mappings);
        QVERIFY(!c.sustainPedal()); // released by the reset, not pressed again
        QCOMPARE(notesSignal.count(), 1);
    }

    // A main preset that is not installed warns and leaves slot 0; the others load.
    // A failed load changes nothing and says why; values out of range are clamped.
    void missingPresetWarnsFailuresChangeNothingAndRangesHold() {
        PresetWorld world(true);
        WorkstationController c;
        c.selectPresetForSlot(0, u"gm_bright_piano"_s);
        const QString path = world.fixture.path(u"p.json"_s);
        QVERIFY(writeTestFile(
            path, R"({"projectName":"Gone","mainPresetId":"sfz_nowhere","splitPresetId":"synth_sub_bass"})"));
        QVERIFY(c.loadProjectFromFile(path));
        QCOMPARE(
            c.statusBanner(),
            u"Loaded 'Gone' with warnings: Referenced instrument preset 'sfz_nowhere' is not installed."_s);
        QCOMPARE(props(c, "mainPresetId splitPresetId"), u"gm_bright_piano synth_sub_bass"_s);

        c.setBpm(101.0f);
        const QString before = setupText(c);
        QVERIFY(writeTestFile(path, "{"));
        QVERIFY(!c.loadProjectFromFile(path));
        QVERIFY(c.statusBanner().startsWith(u"Invalid project JSON: "_s));
        QVERIFY(!c.saveProjectToFile(path + u"/below"_s, u"x"_s));
        QCOMPARE(setupText(c), before);

        // Out-of-range values in a file end where the setters put them, key by key, at
        // both ends of every range.
        WorkstationController set;
        const QStringList sound = QString::fromLatin1(soundKeys).split(u' ');
        const QStringList zones = u"splitKey velocityThreshold arpMode arpOctaves layer2OctaveOffset "
                                  "splitOctaveOffset"_s.split(u' ');
        for (const double extreme : {1e6, -1e6}) {
            QJsonObject piano;
            QJsonObject workstation;
            for (const QString& key : sound) {
                piano.insert(key, extreme);
                set.setProperty(key.toLatin1(), extreme);
            }
            for (const QString& key : zones) {
                workstation.insert(key, extreme);
                set.setProperty(key.toLatin1(), extreme);
            }
            const QJsonObject root{{u"pianoParameters"_s, piano}, {u"workstation"_s, workstation}};
            QVERIFY(writeTestFile(path, QJsonDocument(root).toJson()));
            QVERIFY(c.loadProjectFromFile(path));
            QCOMPARE(props(c, soundKeys) + props(c, zoneKeys), props(set, soundKeys) + props(set, zoneKeys));
        }
    }

    // The autosave writes the session on a worker, one save at a time, and a new
    // start reads nothing back.
    void autosaveWritesTheSessionAndIsNeverReadBack() {
        PresetWorld world(false);
        WorkstationController c;
        c.setBpm(150.0f);
        std::vector<PianoRollNote> notes(20000, PianoRollNote{0, 0, 70, 100, 0.0, 1.0});
        c.audioEngine().midiRecorder.restoreNotes(notes);
        QSignalSpy banner(&c, &WorkstationController::statusBannerChanged);
        c.onAutosaveTick();
        c.onAutosaveTick(); // the first is still writing: skipped
        c.autosaveWriter().waitForIdle();
        QCOMPARE(c.autosaveWriter().finishedSaves(), 1);
        QCOMPARE(banner.count(), 0);
        ProjectContent saved;
        QVERIFY(ProjectDocument::load(c.projectManager().autosavePath(), saved, nullptr));
        QCOMPARE(saved.projectName + u' ' + QString::number(saved.bpm) + u' ' +
                     QString::number(saved.notes.size()),
                 u"Autosave Session 150 20000"_s);
        WorkstationController next;
        QVERIFY(next.projectManager().hasRecoverableAutosave());
        QVERIFY(next.bpm() != 150.0f);
        next.projectManager().clearRecoverableAutosave();
        QVERIFY(!c.projectManager().hasRecoverableAutosave());
    }

    // Each factory memory recalls its presets, zones, sound, style and tempo; a
    // program change picks memory (program mod 8). Stored setups come back whole.
    void registrationsRecallAndStore() {
        PresetWorld world(true);
        WorkstationController c;
        c.initBundledAndSavedStyBeats();
        const std::pair<int, const char*> rows[] = {
            {2, "gm_seben_guitar gm_brass_section gm_finger_bass false true 0.74 0.24 0.3 128 8"},
            {5, "gm_brass_section synth_gospel_organ synth_sub_bass true false 0.66 0.32 0.35 78 16"},
            {7, "gm_country_steel gm_bright_piano gm_acoustic_bass false false 0.7 0.26 0.15 116 12"}};
        const char* keys = "mainPresetId layer2PresetId splitPresetId layer2Enabled splitEnabled brightness "
                           "reverbAmount chorusAmount bpm currentBeatStyleIndex";
        for (const auto& [slot, expected] : rows) {
            c.setArpeggiatorEnabled(true);
            c.loadRegistration(slot);
            QCOMPARE(props(c, keys) + u' ' + props(c, "activeRegistrationSlot arpeggiatorEnabled"),
                     QString::fromLatin1(expected) + u" %1 false"_s.arg(slot));
        }

        c.handleRealtimeMidiEvent(MidiEvent{.status = MidiEvent::ProgramChange, .data1 = 8});
        QTRY_COMPARE(c.activeRegistrationSlot(), 0);
        QCOMPARE(props(c, "mainPresetId bpm"), u"gm_acoustic_grand 74"_s);

        setCustomSetup(c);
        const QString custom = setupText(c);
        QSignalSpy changed(&c, &WorkstationController::registrationsChanged);
        c.saveCurrentToRegistration(3, u"  Offertory \t"_s);
        c.saveCurrentToRegistration(6, u"   "_s);
        c.saveCurrentToRegistration(8, u"x"_s);
        c.saveCurrentToRegistration(-1, u"x"_s);
        QCOMPARE(changed.count(), 2);
        const QVariantMap stored = c.registrations().at(3).toMap();
        QCOMPARE(stored[u"name"_s].toString() + u'|' + stored[u"setListCategory"_s].toString(),
                 u"Offertory|Kenyan Mugithi"_s);
        c.loadRegistration(0);
        c.loadRegistration(3);
        // Everything but the switches a recall resets first comes back.
        QCOMPARE(setupText(c), custom);
        c.loadRegistration(8);
        QCOMPARE(c.activeRegistrationSlot(), 3);
        // A fresh start has the factory rows again.
        WorkstationController fresh;
        QCOMPARE(fresh.registrations().at(3).toMap().value(u"name"_s).toString(),
                 u"4. Mugithi Folk-Praise Groove"_s);
    }
};

QTEST_GUILESS_MAIN(SlotPresetsTest)
#include "tst_slot_presets.moc"
