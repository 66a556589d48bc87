// Chords and rhythm through the controller: degree pads, smart chords, style selection, sections.

#include "AppTestWorld.h"
#include "app/WorkstationController.h"
#include "rhythm/ChordNames.h"
#include "support/OfflineRender.h"
#include "support/TestEnvironment.h"

#include <QSignalSpy>
#include <QTest>

#include <functional>
#include <memory>

using namespace tmb;
using namespace tmb::test;
using namespace Qt::StringLiterals;

namespace {

// A controller rendering offline on the test thread.
struct Rig {
    explicit Rig(bool withGeneralMidiFont = false)
        : world(withGeneralMidiFont)
        , controller(std::make_unique<WorkstationController>()) {
        engine().prepareOffline(48000, 256);
    }
    WorkstationController& c() { return *controller; }
    AudioEngine& engine() { return controller->audioEngine(); }
    // Renders a block every few milliseconds while timers run, until `done` holds.
    bool runUntil(const std::function<bool()>& done) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 1000) {
            renderBlocks(engine(), 256, 256);
            if (done()) return true;
            QTest::qWait(2);
        }
        return false;
    }
    // "pitch@velocity" of the voices a one-finger chord holds for `pitch`.
    QString chordTone(int pitch) {
        const auto voices = engine().voiceOwnership().voicesOf(VoiceOwnershipTable::chordToneOwner(pitch));
        return voices.empty() ? QString() : u"%1@%2"_s.arg(voices[0].pitch).arg(voices[0].velocity);
    }
    int owners(int pitch) { return engine().voiceOwnership().ownersOf(VoiceTarget::SoundFontMain, pitch); }

    PresetWorld world;
    std::unique_ptr<WorkstationController> controller;
};

int mapped(int velocity) {
    return AudioEngine::mapTouchVelocity(velocity, 1);
}

} // namespace

class RhythmControlsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { usePrivateHome(); }

    // "transpose degree" and the stored degree, its text and the chord name.
    void degreePadsNameTheChordInTheCurrentKey() {
        const char* pads[][2] = {{"0 0", "1 C (I) C"},
                                 {"0 9", "6 Am (vi) Am"},
                                 {"0 2", "2 Dm (ii) Dm"},
                                 {"2 5", "5 A (V) A"},
                                 {"-3 3", "3 C#m (iii) C#m"}};
        for (const auto& [input, shown] : pads) {
            Rig rig;
            WorkstationController& c = rig.c();
            c.setTransposeSemitones(QString::fromLatin1(input).section(u' ', 0, 0).toInt());
            QString order;
            connect(&c, &WorkstationController::arrangerStateChanged, this, [&] { order += u'a'; });
            connect(&c, &WorkstationController::keyboardStateChanged, this, [&] { order += u'k'; });
            c.setProperty("arrangerChordDegree", QString::fromLatin1(input).section(u' ', 1).toInt());
            QCOMPARE(props(c, "arrangerChordDegree arrangerActiveChordText currentChordName") + order,
                     QString::fromLatin1(shown) + u"ak"_s);
        }
    }

    // Which played notes choose a degree: every one with smart chords on; otherwise
    // only keys up to A3 while the pro arranger or a keyboard-led band listens.
    // "smart pro band playMode note" and the degree chosen.
    void chordZoneFollowsTheArrangerMode() {
        const std::pair<const char*, int> rows[] = {
            {"0 0 0 0 50", 1},                                       // nothing listens
            {"0 1 0 0 50", 2}, {"0 1 0 0 57", 6}, {"0 1 0 0 58", 1}, // pro arranger: D3, A3, Bb3
            {"0 0 1 1 53", 4}, {"0 0 1 0 53", 1},                    // band in keyboard, full-band mode
            {"1 0 0 0 79", 5}};                                      // smart chords, high G
        for (const auto& [input, degree] : rows) {
            const QStringList in = QString::fromLatin1(input).split(u' ');
            Rig rig;
            WorkstationController& c = rig.c();
            c.setSmartChordEnabled(in[0] == u"1"_s);
            c.arrangerState().proArrangerEnabled = in[1] == u"1"_s;
            c.arrangerState().bandActive = in[2] == u"1"_s;
            c.arrangerState().arrangerPlayMode = in[3].toInt();
            c.noteOn(in[4].toInt(), 100);
            QCOMPARE(c.arrangerChordDegree(), degree);
            QCOMPARE(c.currentChordName(), midiNoteToDisplayName(in[4].toInt())); // recognition runs after it
        }
    }

    // The player holds E4. A3 adds C4 and E4 for 360 ms; C4 struck 250 ms later adds
    // E4 and G4. Neither release cuts the held key, and the first leaves the second
    // strike's E4 sounding.
    void smartChordTonesEndWithoutCuttingHeldKeys() {
        Rig rig;
        WorkstationController& c = rig.c();
        QSignalSpy arranger(&c, &WorkstationController::arrangerStateChanged);
        c.setSmartChordEnabled(true);
        c.setSmartChordEnabled(true);
        QCOMPARE(arranger.count(), 1);
        c.noteOn(64, 100);
        QElapsedTimer sinceFirst;
        sinceFirst.start();
        c.noteOn(57, 100); // vi, minor
        QCOMPARE(c.arrangerChordDegree(), 6);
        QVERIFY(rig.runUntil([&] { return !rig.chordTone(64).isEmpty(); }));
        QCOMPARE(rig.chordTone(60) + rig.chordTone(64),
                 u"60@%1"_s.arg(mapped(86)) + u"64@%1"_s.arg(mapped(84)));
        QCOMPARE(rig.owners(64), 2);
        QTest::qWait(250);
        c.noteOff(57);
        c.noteOn(60, 45); // I; the tones' velocities do not go below 40
        c.noteOff(60);
        QVERIFY(rig.runUntil([&] { return rig.chordTone(60).isEmpty(); })); // the first release
        QVERIFY(sinceFirst.elapsed() >= 360);
        QCOMPARE(rig.chordTone(67), u"67@%1"_s.arg(mapped(40)));
        QCOMPARE(rig.owners(64), 2); // the key and the second strike
        QVERIFY(rig.runUntil([&] { return rig.chordTone(67).isEmpty(); }));
        QCOMPARE(rig.owners(64), 1); // the held key still sounds
        c.noteOff(64);
        rig.runUntil([] { return true; });
        QCOMPARE(rig.engine().voiceOwnership().heldVoiceCount(), 0);
    }

    // Style, with its presets, play mode; the banner and the kit chosen.
    void styleSelectionProgramsTheBand() {
        const std::tuple<int, bool, int, const char*, const char*> rows[] = {
            {10, false, 0, "DRUM BEAT SELECTED: Lingala Mutuashi 6/8 Seben (Lingala & Seben) • 116 BPM",
             "FluidR3 Standard Acoustic Kit"},
            {3, true, 1,
             "STYLE PRESET: Mugithi Slow Storyteller (1-6m-4-5 Warm Acoustic • 12-String Guitar + "
             "Rhodes EP + Fretless Bass) • 94 BPM",
             "FluidR3 Jazz Brush Kit"},
            {34, false, 0, "DRUM BEAT SELECTED: Neo-Soul / Gospel Keys (Studio Beats) • 88 BPM",
             "FluidR3 GM Drum Kit 25"}};
        for (const auto& [style, withPresets, playMode, bannerText, kitName] : rows) {
            const QString banner = QString::fromUtf8(bannerText), kit = QString::fromUtf8(kitName);
            Rig rig(true);
            WorkstationController& c = rig.c();
            c.initDrumKits();
            c.initBundledAndSavedStyBeats();
            c.arrangerState().arrangerPlayMode = playMode;
            c.setStyleBassVolume(0.5f);
            QSignalSpy grid(&c, &WorkstationController::beatGridChanged);
            QSignalSpy presets(&c, &WorkstationController::activePresetsChanged);
            c.applyBeatStyleInternal(style, withPresets);
            QCOMPARE(c.statusBanner() + u'|' + c.currentDrumKitName(), banner + u'|' + kit);
            QVERIFY(c.currentBeatStyleIndex() == style && grid.count() == 1);
            const StylePattern& chosen = c.beatSequencer().currentStyle();
            QVERIFY(c.bpm() == chosen.bpm && c.arrangerState().progressionIndex == chosen.defaultProgIdx);
            const FluidSynthEngine& synth = rig.engine().fluidSynth;
            renderBlocks(rig.engine(), 256, 256); // a block applies the queued channel changes
            // Channels 3-6: rhythm, bass, lead, harmony; pan, reverb, chorus and volume.
            const QString expected =
                u"44 44 22 %1 / 64 14 0 %2 / 74 58 28 %3 / 86 54 34 %1"_s
                    .arg(styleBandChannelVolume(0.85f, 0.85f, false))
                    .arg(styleBandChannelVolume(0.85f, 0.5f, false))
                    .arg(playMode == 1 ? 0 : styleBandChannelVolume(0.85f, 0.85f, false));
            QStringList channels;
            for (int channel = 3; channel <= 6; ++channel)
                channels << u"%1 %2 %3 %4"_s.arg(synth.controllerValue(channel, 10))
                                .arg(synth.controllerValue(channel, 91))
                                .arg(synth.controllerValue(channel, 93))
                                .arg(synth.controllerValue(channel, 7));
            QCOMPARE(channels.join(u" / "_s), expected);
            QCOMPARE(c.layer2PresetId() + u' ' + c.splitPresetId(),
                     withPresets ? chosen.layerPresetId + u' ' + chosen.splitPresetId
                                 : u"synth_worship_pad gm_finger_bass"_s);
            QCOMPARE(presets.count() > 0, withPresets);
            c.applyBeatStyleInternal(99, true); // no such style: nothing but the announcements
            QCOMPARE(c.statusBanner() + QString::number(c.currentBeatStyleIndex()),
                     banner + QString::number(style));
        }
    }

    // Intro -> Verse A and the stop after an Ending happen on the audio thread; the
    // scene hears of each within a UI tick, once.
    void automaticChangesAreAnnounced() {
        Rig rig(true);
        WorkstationController& c = rig.c();
        if (c.initialize()) QSKIP("an audio device plays on this machine without a sound server");
        rig.engine().prepareOffline(48000, 256);
        c.setCurrentBeatStyleIndex(0);
        c.setBpm(120.0f);
        c.setBeatSection(0);
        c.setBeatPlaying(true);
        QCOMPARE(c.beatSection(), 0);
        QSignalSpy state(&c, &WorkstationController::beatStateChanged);
        QSignalSpy grid(&c, &WorkstationController::beatGridChanged);
        renderBlocks(rig.engine(), 96000 + 256, 256); // the Intro bar and the next step
        QTRY_COMPARE(grid.count(), 1);
        QCOMPARE(QList<int>({int(state.count()), c.beatSection()}), QList<int>({1, 1}));
        QCOMPARE(c.beatStepGrid()[0].toMap()[u"steps"_s].toList()[14].toInt(), 80); // Verse A's kick

        c.setBeatSection(6); // mid-bar: the bar finishes, the Ending plays, then it stops
        renderBlocks(rig.engine(), 2 * 96000, 256);
        QTRY_VERIFY(!c.beatPlaying());
        QTRY_COMPARE(state.count(), 3);
        QTest::qWait(100);
        QCOMPARE(state.count(), 3); // once is enough
    }
};

QTEST_MAIN(RhythmControlsTest)
#include "tst_rhythm_controls.moc"
