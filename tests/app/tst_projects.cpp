// Projects and registrations through the controller: save/load, warnings, memories, program change.

#include "AppTestWorld.h"
#include "app/WorkstationController.h"
#include "support/TestEnvironment.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

using namespace tmb;
using namespace tmb::test;
using namespace Qt::StringLiterals;

namespace {

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

class ProjectsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { usePrivateHome(); }

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
        QCOMPARE(c.statusBanner(), u"Saved Project: "_s + path);
        // Read by Python's json: the keys, the sound and zone objects whole.
        QProcess python;
        python.start(u"/usr/bin/python3"_s,
                     {u"-c"_s,
                      u"import json,sys,os; p=sys.argv[1]; p=os.path.join(p,'project.json') "
                      "if os.path.isdir(p) else p; d=json.load(open(p)); print(len(d), "
                      "len(d['pianoParameters']), len(d['workstation']), "
                      "sorted(os.listdir(sys.argv[1]))if os.path.isdir(sys.argv[1]) else '')"_s,
                      path});
        QVERIFY(python.waitForFinished());
        QCOMPARE(QString::fromUtf8(python.readAllStandardOutput()).trimmed(),
                 name.endsWith(u"VKS"_s)
                     ? u"14 17 11 ['audio', 'midi', 'presets', 'project.json', 'recovery', 'session']"_s
                     : u"14 17 11"_s);

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
        QCOMPARE(c.statusBanner(), u"Loaded Project: Sunday"_s);
        QCOMPARE(setupText(c), saved);
        QCOMPARE(c.audioEngine().midiRecorder.snapshotNotes(), notes);
        QCOMPARE(c.midiManager().mappings(), mappings);
        QVERIFY(!c.sustainPedal()); // released by the reset, not pressed again
        QCOMPARE(notesSignal.count(), 1);
    }

    // A main preset that is not installed warns and leaves slot 0; the others load.
    // A failed load changes nothing and says why.
    void missingPresetWarnsAndFailuresChangeNothing() {
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
        QVERIFY(!c.loadProjectFromFile(world.fixture.path(u"absent.json"_s)));
        QCOMPARE(c.statusBanner(), u"Cannot open project file: "_s + world.fixture.path(u"absent.json"_s));
        QVERIFY(!c.saveProjectToFile(path + u"/below"_s, u"x"_s));
        QCOMPARE(c.statusBanner(), u"Cannot write project file: "_s + path + u"/below"_s);
        QCOMPARE(setupText(c), before);
    }

    // Out-of-range values in a file end where the setters put them, key by key, at
    // both ends of every range.
    void loadedValuesKeepTheSettersRanges() {
        PresetWorld world(false);
        WorkstationController loaded;
        WorkstationController set;
        const QString path = world.fixture.path(u"extreme.json"_s);
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
            QVERIFY(loaded.loadProjectFromFile(path));
            QCOMPARE(props(loaded, soundKeys) + props(loaded, zoneKeys),
                     props(set, soundKeys) + props(set, zoneKeys));
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
        QCOMPARE(c.statusBanner(), u"Loaded Registration: 8. Country Dunmere Train Beat"_s);

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
        QCOMPARE(c.statusBanner(), u"Saved Registration Slot 7: 7. Kenyan Classic Twist (60s)"_s);
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

QTEST_GUILESS_MAIN(ProjectsTest)
#include "tst_projects.moc"
