// The style band through the controller: launches, play modes, degrees, stopping, the live
// step clock; degree pads, smart chords, style selection and sections.

#include "../rhythm/StyBytes.h"
#include "AppTestWorld.h"
#include "app/WorkstationController.h"
#include "rhythm/ChordNames.h"
#include "support/OfflineRender.h"
#include "support/TestEnvironment.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <functional>
#include <memory>

using namespace tmb;
using namespace tmb::test;
using namespace Qt::StringLiterals;

namespace {

// Note-ons minus note-offs per band channel 3-6 and pitch, as the engine receives them.
struct BandNotes : AudioEngine::NoteObserver {
    void noteEvent(AudioEngine::NoteSource source, int channel, bool on, int note, int) noexcept override {
        if (source != AudioEngine::NoteSource::Events || channel < 3 || channel > 6) return;
        balance[static_cast<std::size_t>((channel - 3) * 128 + note)] += on ? 1 : -1;
        ons += on ? 1 : 0;
    }
    std::array<int, 4 * 128> balance{};
    int ons = 0;
};

// A controller rendering offline on the test thread; started (timers running, no device)
// unless told otherwise.
struct Rig {
    explicit Rig(bool start = true)
        : world(true)
        , controller(std::make_unique<WorkstationController>()) {
        started = start && !controller->initialize(); // no sound server here: nothing plays on its own
        engine().prepareOffline(48000, 256);
        engine().setNoteObserver(&notes);
    }
    WorkstationController& c() { return *controller; }
    AudioEngine& engine() { return controller->audioEngine(); }
    const ArrangerState& band() { return controller->arrangerState(); }
    // Renders a block every couple of milliseconds while timers run, until `done` holds or
    // `limitMs` passed.
    bool runUntil(const std::function<bool()>& done, int limitMs = 4000) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < limitMs) {
            renderBlocks(engine(), 256, 256);
            if (done()) return true;
            QTest::qWait(2);
        }
        return false;
    }
    bool bandSilent() {
        return std::all_of(band().parts.begin(), band().parts.end(),
                           [](const StyleBandPart& p) { return p.soundingNotes.isEmpty(); });
    }
    int leadVolume() {
        renderBlocks(engine(), 256, 256); // controller changes apply with a block
        return engine().fluidSynth.controllerValue(5, 7);
    }
    QString sounding(ArrangerState::Part part) {
        QStringList notes;
        for (int n : band().parts[part].soundingNotes)
            notes << QString::number(n);
        return notes.join(u' ');
    }
    // "pitch@velocity" of the voices a one-finger chord holds for `pitch`.
    QString chordTone(int pitch) {
        const auto voices = engine().voiceOwnership().voicesOf(VoiceOwnershipTable::chordToneOwner(pitch));
        return voices.empty() ? QString() : u"%1@%2"_s.arg(voices[0].pitch).arg(voices[0].velocity);
    }
    int owners(int pitch) { return engine().voiceOwnership().ownersOf(VoiceTarget::SoundFontMain, pitch); }
    // A style file with drums, a bass on channel 11 and a chord on channel 12.
    int importBandFile() {
        StyTrack track;
        track.tempo(0, 600000).marker(0, "Main A").note(0, 10, 36, 100);
        track.note(0, 11, 38, 101).note(0, 12, 62, 90).note(0, 12, 65, 90).note(0, 12, 69, 90);
        const QString path = files.filePath(u"Praise_Shout.sty"_s);
        if (!writeBytes(path, styFile(480, {track.chunk()}))) qFatal("cannot write a style file");
        return controller->beatSequencer().importStyFile(path);
    }

    PresetWorld world;
    BandNotes notes;
    QTemporaryDir files;
    std::unique_ptr<WorkstationController> controller;
    bool started = false;
};

int mapped(int velocity) {
    return AudioEngine::mapTouchVelocity(velocity, 1);
}

} // namespace

class ArrangerControlsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { usePrivateHome(); }

    // A launch chooses the band, the play mode and the lead's level; switching the mode
    // afterwards moves the lead's level. Style -1: the imported one.
    void launchesChooseTheBand() {
        const std::tuple<int, int, bool, float> rows[] = {
            {0, 0, true, 118.0f}, {4, 3, true, 92.0f}, {30, 0, false, 122.0f}, {-1, 1, true, 100.0f}};
        for (auto [style, playMode, band, bpm] : rows) {
            Rig rig;
            WorkstationController& c = rig.c();
            if (style < 0) style = rig.importBandFile();
            c.setProArrangerEnabled(true);
            c.setBeatPlaying(false);
            c.setLayer2Enabled(true);
            c.launchStylePreset(style, playMode);
            QCOMPARE(props(c, "currentBeatStyleIndex bpm beatPlaying proArrangerEnabled arrangerPlayMode "
                              "layer2Enabled"),
                     u"%1 %2 true false %3 false"_s.arg(style).arg(bpm).arg(playMode > 0 ? 1 : 0));
            QVERIFY(rig.band().bandActive == band && rig.leadVolume() == (playMode > 0 ? 0 : 92));
            if (style == 30) QCOMPARE(c.currentDrumKitName(), u"FluidR3 Power Rock Kit"_s);
            const QString banner = c.statusBanner();
            c.launchStylePreset(99, 0); // no such style
            QCOMPARE(c.statusBanner(), banner);

            c.setStyleLeadVolume(0.6f);
            QSignalSpy arranger(&c, &WorkstationController::arrangerStateChanged);
            c.setArrangerPlayMode(playMode > 0 ? 0 : 5);
            c.setArrangerPlayMode(playMode > 0 ? 0 : 1); // unchanged: nothing
            QCOMPARE(arranger.count(), 1);
            QCOMPARE(rig.leadVolume(), playMode > 0 ? styleBandChannelVolume(0.85f, 0.6f, false) : 0);
            if (style != 0) continue;
            // Quick starts launch the flagships (out of range: the nearest) in the current mode.
            QList<int> launched;
            for (int pick : {6, 0, 3, 40, -5, 9}) {
                c.triggerStyleQuickStart(pick);
                launched << c.currentBeatStyleIndex();
            }
            QCOMPARE(launched, QList<int>({24, 0, 12, 27, 0, 9}));
            QVERIFY(c.statusBanner().startsWith(u"🎹 PLAY WITH KEYBOARD: Lingala Ndombolo Groove"_s));
        }
    }

    // The loop's degrees reach the chord display and the bass in the current key. Degree
    // pads ("transpose degree": the stored degree, its text and the chord name) tell the
    // band, then the keyboard.
    void progressionsAndDegreePadsNameTheChordInTheCurrentKey() {
        Rig rig;
        WorkstationController& c = rig.c();
        c.launchStylePreset(0);
        c.setBeatPlaying(false);
        c.setTransposeSemitones(2);
        c.setArrangerProgressionIndex(9);
        QCOMPARE(c.arrangerProgressionIndex(), 6); // 1 4 5 1
        QStringList chords;
        for (int s = 0; s < 32; ++s) {
            c.advanceProArrangerStep(s % 16);
            if (s % 16 == 0) chords << c.arrangerActiveChordText() + u' ' + rig.sounding(ArrangerState::Bass);
        }
        QCOMPARE(chords, QStringList({u"D (I) 38"_s, u"G (IV) 43"_s}));

        QString order;
        connect(&c, &WorkstationController::arrangerStateChanged, this, [&] { order += u'a'; });
        connect(&c, &WorkstationController::keyboardStateChanged, this, [&] { order += u'k'; });
        const char* pads[][2] = {{"0 0", "1 C (I) C"},
                                 {"0 9", "6 Am (vi) Am"},
                                 {"0 2", "2 Dm (ii) Dm"},
                                 {"2 5", "5 A (V) A"},
                                 {"-3 3", "3 C#m (iii) C#m"}};
        for (const auto& [input, shown] : pads) {
            c.setTransposeSemitones(QString::fromLatin1(input).section(u' ', 0, 0).toInt());
            order.clear();
            c.setProperty("arrangerChordDegree", QString::fromLatin1(input).section(u' ', 1).toInt());
            QCOMPARE(props(c, "arrangerChordDegree arrangerActiveChordText currentChordName") + order,
                     QString::fromLatin1(shown) + u"ak"_s);
        }
    }

    // However the band is stopped or silenced, nothing of it keeps sounding ("pro" rows
    // play the fallback band of drum style 29).
    void stoppingTheBandLeavesNothingSounding_data() {
        QTest::addColumn<bool>("pro");
        QTest::addColumn<std::function<void(WorkstationController&)>>("stop");
        using Stop = std::function<void(WorkstationController&)>;
        QTest::newRow("beat stopped")
            << false << Stop([](WorkstationController& c) { c.setBeatPlaying(false); });
        QTest::newRow("drum style launched")
            << false << Stop([](WorkstationController& c) { c.launchStylePreset(30); });
        QTest::newRow("style chosen")
            << true << Stop([](WorkstationController& c) { c.setCurrentBeatStyleIndex(3); });
        QTest::newRow("pro arranger off")
            << true << Stop([](WorkstationController& c) { c.setProArrangerEnabled(false); });
        QTest::newRow("band volume down")
            << false << Stop([](WorkstationController& c) { c.setStyleVolume(0.005f); });
        QTest::newRow("band muted") << true << Stop([](WorkstationController& c) { c.setStyleMuted(true); });
    }
    void stoppingTheBandLeavesNothingSounding() {
        QFETCH(bool, pro);
        QFETCH(std::function<void(WorkstationController&)>, stop);
        Rig rig;
        if (!rig.started) QSKIP("an audio device plays on this machine without a sound server");
        WorkstationController& c = rig.c();
        if (pro) {
            c.setCurrentBeatStyleIndex(29);
            QVERIFY(!c.beatPlaying());
            c.setProArrangerEnabled(true); // starts the beat
            QVERIFY(c.beatPlaying() && rig.band().bandActive);
        } else {
            c.launchStylePreset(24);
        }
        // Into the pads' long notes, so every part has notes to end.
        QVERIFY(rig.runUntil([&] { return c.currentBeatStep() == 3; }));
        QVERIFY(!rig.sounding(ArrangerState::Harmony).isEmpty());
        stop(c);
        QVERIFY(rig.runUntil([&] { return rig.bandSilent(); }));
        renderBlocks(rig.engine(), 512, 256); // what was queued arrives
        QVERIFY(rig.notes.ons > 0);
        QVERIFY(
            std::all_of(rig.notes.balance.begin(), rig.notes.balance.end(), [](int b) { return b == 0; }));
        // The piano bus, which carries the band, falls silent for 50 blocks in a row.
        int quiet = 0;
        for (int block = 0; block < 48000 * 8 / 256 && quiet < 50; ++block) {
            renderBlocks(rig.engine(), 256, 256);
            quiet = rig.engine().channelPeakL(MixerChannelId::Piano) < 1e-4f ? quiet + 1 : 0;
        }
        QCOMPARE(quiet, 50);
    }

    // ------------------------------------------------------------ chords and styles

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
            Rig rig(false);
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
        Rig rig(false);
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
        QVERIFY(rig.runUntil([&] { return !rig.chordTone(64).isEmpty(); }, 1000));
        QCOMPARE(rig.chordTone(60) + rig.chordTone(64),
                 u"60@%1"_s.arg(mapped(86)) + u"64@%1"_s.arg(mapped(84)));
        QCOMPARE(rig.owners(64), 2);
        QTest::qWait(250);
        c.noteOff(57);
        c.noteOn(60, 45); // I; the tones' velocities do not go below 40
        c.noteOff(60);
        QVERIFY(rig.runUntil([&] { return rig.chordTone(60).isEmpty(); }, 1000)); // the first release
        QVERIFY(sinceFirst.elapsed() >= 360);
        QCOMPARE(rig.chordTone(67), u"67@%1"_s.arg(mapped(40)));
        QCOMPARE(rig.owners(64), 2); // the key and the second strike
        QVERIFY(rig.runUntil([&] { return rig.chordTone(67).isEmpty(); }, 1000));
        QCOMPARE(rig.owners(64), 1); // the held key still sounds
        c.noteOff(64);
        renderBlocks(rig.engine(), 256, 256);
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
            Rig rig(false);
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
    // scene hears of each within a UI tick, once, and the band's notes end with the Ending.
    void automaticChangesAreAnnounced() {
        Rig rig;
        if (!rig.started) QSKIP("an audio device plays on this machine without a sound server");
        WorkstationController& c = rig.c();
        c.setCurrentBeatStyleIndex(0);
        c.setBpm(120.0f);
        c.setBeatSection(0);
        c.arrangerState().bandActive = true;
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
        QVERIFY(rig.bandSilent());
    }
};

QTEST_MAIN(ArrangerControlsTest)
#include "tst_arranger_controls.moc"
