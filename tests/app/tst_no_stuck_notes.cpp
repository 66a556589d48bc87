// Keys held while everything that shapes a note changes: after release, silence.

#include "AppTestWorld.h"
#include "app/WorkstationController.h"
#include "support/AudioAnalysis.h"
#include "support/EngineVoiceProbe.h"
#include "support/OfflineRender.h"
#include "support/TestEnvironment.h"

#include <QTest>

#include <optional>
#include <random>
#include <set>

using namespace tmb;
using namespace tmb::test;
using namespace Qt::StringLiterals;

class NoStuckNotesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        usePrivateHome();
        // A piano whose samples outlast the performance: an unreleased voice sounds on.
        m_sfzPath = m_world.emplace(false).writeInstrument(u"piano"_s, 261.63, 1, 20.0);
    }

    void randomPerformanceLeavesNothingSounding_data() {
        QTest::addColumn<unsigned>("seed");
        for (unsigned seed = 1; seed <= 12; ++seed)
            QTest::newRow(qPrintable(u"seed %1"_s.arg(seed))) << seed;
    }
    void randomPerformanceLeavesNothingSounding() {
        QFETCH(unsigned, seed);
        std::mt19937 random(seed);
        auto pick = [&random](int low, int high) {
            return low + static_cast<int>(random() % static_cast<unsigned>(high - low + 1));
        };

        WorkstationController c;
        AudioEngine& engine = c.audioEngine();
        engine.prepareOffline(48000, 256);
        QVERIFY(engine.sfzPiano.loadSfzFile(m_sfzPath, nullptr));
        // Voices, not the master reverb's tail (the B record has its own reverb).
        engine.effects.setEnabled(false);
        for (int slot = 0; slot < 3; ++slot) {
            engine.setSlotEngineType(slot, SoundEngineType::Synth);
            engine.synths[slot].setVoiceModel(pick(0, 8));
        }
        engine.setSlotEngineType(0, SoundEngineType::Sfz);
        // An organ on the SoundFont engine's slot channels: a hanging note cannot fade away.
        for (int channel = 0; channel < 3; ++channel)
            QVERIFY(engine.fluidSynth.selectProgram(channel, u"/usr/share/sounds/sf2/TimGM6mb.sf2"_s, 0, 16));
        c.setReverbAmount(0.0f);

        // Settings that shape a note and switches, changed while keys are held.
        const std::tuple<const char*, int, int> settings[] = {{"transposeSemitones", -12, 12},
                                                              {"octaveShift", -3, 3},
                                                              {"splitKey", 21, 96},
                                                              {"layer2OctaveOffset", -2, 2},
                                                              {"splitOctaveOffset", -2, 2},
                                                              {"autoTuneMode", 0, 4},
                                                              {"arpOctaves", 1, 3},
                                                              {"touchCurve", 0, 3}};
        const char* switches[] = {"layer2Enabled",      "splitEnabled",     "velocitySwitchEnabled",
                                  "chordMemoryEnabled", "autoTuneEnabled",  "arpeggiatorEnabled",
                                  "sustainPedal",       "autoPedalEnabled", "sustainLatched"};
        // A hardware key, on the keyboard channel or straight on a zone channel.
        auto hardware = [&c](MidiEvent event) {
            event.sourceClient = 24;
            c.handleRealtimeMidiEvent(event);
        };
        auto takeAny = [&pick](auto& keys) {
            auto it = std::next(keys.begin(), pick(0, static_cast<int>(keys.size()) - 1));
            const auto key = *it;
            keys.erase(it);
            return key;
        };
        std::set<int> screenKeys;
        std::set<std::pair<int, int>> hardwareKeys; // (channel, note)
        int peakVoices = 0, peakPianoVoices = 0, peakSoundFontVoices = 0;
        for (int step = 0; step < 400; ++step) {
            const int action = pick(0, 19);
            if (action < 4) {
                const int note = pick(28, 100);
                c.noteOn(note, pick(1, 127));
                screenKeys.insert(note);
            } else if (action < 6) {
                if (!screenKeys.empty()) c.noteOff(takeAny(screenKeys));
            } else if (action < 8) {
                const int channel = std::array{0, 0, 1, 2, 7}[pick(0, 4)];
                const int note = pick(28, 100);
                hardware(MidiEvent::noteOn(channel, note, pick(1, 127)));
                hardwareKeys.insert({channel, note});
            } else if (action == 8) {
                if (!hardwareKeys.empty()) {
                    const auto [channel, note] = takeAny(hardwareKeys);
                    hardware(MidiEvent::noteOff(channel, note));
                }
            } else if (action < 13) {
                const auto& [name, low, high] = settings[pick(0, static_cast<int>(std::size(settings)) - 1)];
                c.setProperty(name, pick(low, high));
            } else if (action < 16) {
                const char* name = switches[pick(0, static_cast<int>(std::size(switches)) - 1)];
                c.setProperty(name, !c.property(name).toBool());
            } else if (action == 16) {
                c.toggleAbCompare();
            } else if (action == 17) { // the main slot: piano, SoundFont or synth; the others the last two
                const int slot = pick(0, 2);
                engine.setSlotEngineType(slot, static_cast<SoundEngineType>(pick(slot == 0 ? 0 : 1, 2)));
            } else {
                renderBlocks(engine, 256u * pick(1, 8), 256);
            }
            QCoreApplication::processEvents();
            renderBlocks(engine, 256u * pick(0, 2), 256);
            peakVoices = std::max(peakVoices, soundingVoices(engine));
            peakPianoVoices = std::max(peakPianoVoices, engine.sfzPiano.activeVoiceCount());
            peakSoundFontVoices = std::max(peakSoundFontVoices, engine.fluidSynth.activeVoiceCount());
        }
        QVERIFY2(peakVoices > 4, "the performance should have sounded");
        m_performancesWithPiano += peakPianoVoices > 0;
        m_performancesWithSoundFont += peakSoundFontVoices > 0;
        // Release every key and pedal.
        for (int note : screenKeys)
            c.noteOff(note);
        for (const auto& [channel, note] : hardwareKeys)
            hardware(MidiEvent::noteOff(channel, note));
        c.setSustainLatched(false);
        c.setSustainPedal(false);
        c.setAutoPedalEnabled(false);
        QCoreApplication::processEvents();

        const StereoSignal tail = renderBlocks(engine, 48000 * 3, 256);
        QCOMPARE(QList<int>({engine.voiceOwnership().heldVoiceCount(), c.harmonizer().heldVoiceCount(),
                             soundingVoices(engine)}),
                 QList<int>({0, 0, 0}));
        const std::size_t lastHalfSecond = tail.left.size() - 24000;
        QVERIFY(peak(tail.left, lastHalfSecond) < 1e-5f && peak(tail.right, lastHalfSecond) < 1e-5f);
    }

    void cleanupTestCase() {
        // Most performances played the piano, and the SoundFont engine after a switch.
        QVERIFY(m_performancesWithPiano >= 6 && m_performancesWithSoundFont >= 6);
    }

private:
    int m_performancesWithPiano = 0, m_performancesWithSoundFont = 0;
    std::optional<PresetWorld> m_world;
    QString m_sfzPath;
};

QTEST_GUILESS_MAIN(NoStuckNotesTest)
#include "tst_no_stuck_notes.moc"
