// No stuck notes: keys are held from the screen and from hardware while everything
// that shapes a note changes underneath them (transpose, octave, A/B, chord memory,
// zones, slot engines, harmonizer modes, the arpeggiator and the pedals). Once every
// key is released and the release tails have passed, every engine's own voice count
// is zero and the output is silent.

#include "app/WorkstationController.h"
#include "support/AudioAnalysis.h"
#include "support/EngineVoiceProbe.h"
#include "support/OfflineRender.h"
#include "support/SfzFixtures.h"
#include "support/TestEnvironment.h"

#include <QTemporaryDir>
#include <QTest>

#include <random>
#include <set>

using namespace tmb;
using namespace tmb::test;

class NoStuckNotesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        usePrivateHome();
        // A piano whose samples outlast the whole performance: a voice that is never
        // released keeps sounding until the end.
        QVERIFY(m_folder.isValid());
        TestTone tone;
        tone.frequency = 261.63;
        tone.amplitude = 0.3;
        tone.seconds = 20.0;
        QVERIFY(writeTestWav(m_folder.filePath("c4.wav"), tone));
        m_sfzPath = m_folder.filePath("piano.sfz");
        QVERIFY(writeTestFile(m_sfzPath, "<region> sample=c4.wav lokey=0 hikey=127 pitch_keycenter=60 "
                                         "ampeg_release=0.3\n"));
    }

    void randomPerformanceLeavesNothingSounding_data() {
        QTest::addColumn<unsigned>("seed");
        for (unsigned seed = 1; seed <= 12; ++seed)
            QTest::newRow(qPrintable(QStringLiteral("seed %1").arg(seed))) << seed;
    }
    void randomPerformanceLeavesNothingSounding() {
        QFETCH(unsigned, seed);
        std::mt19937 random(seed);
        auto pick = [&random](int low, int high) {
            return low + static_cast<int>(random() % static_cast<unsigned>(high - low + 1));
        };

        auto controller = std::make_unique<WorkstationController>();
        WorkstationController& c = *controller;
        AudioEngine& engine = c.audioEngine();
        engine.prepareOffline(48000, 256);
        QString error;
        QVERIFY2(engine.sfzPiano.loadSfzFile(m_sfzPath, &error), qPrintable(error));
        // Voices, not the master reverb's tail (the B record has its own reverb).
        engine.effects.setEnabled(false);
        for (int slot = 0; slot < 3; ++slot) {
            engine.setSlotEngineType(slot, SoundEngineType::Synth);
            engine.synths[slot].setVoiceModel(pick(0, 8));
        }
        engine.setSlotEngineType(0, SoundEngineType::Sfz);
        // A General MIDI organ on the three slot channels of the SoundFont engine: it
        // sounds for as long as a note is held, so a hanging note cannot fade away.
        const QString font = QStringLiteral("/usr/share/sounds/sf2/TimGM6mb.sf2");
        for (int channel = 0; channel < 3; ++channel)
            QVERIFY(engine.fluidSynth.selectProgram(channel, font, 0, 16));
        c.setReverbAmount(0.0f);
        std::vector<float> out(2 * 256);
        auto blocks = [&](int count) {
            for (int i = 0; i < count; ++i)
                engine.processAudioCallback(out.data(), 256);
        };

        std::set<int> screenKeys;
        std::set<std::pair<int, int>> hardwareKeys; // (channel, note)
        int peakVoices = 0;
        int peakPianoVoices = 0;
        int peakSoundFontVoices = 0;
        for (int step = 0; step < 400; ++step) {
            switch (pick(0, 19)) {
            case 0:
            case 1:
            case 2:
            case 3: {
                const int note = pick(28, 100);
                c.noteOn(note, pick(1, 127));
                screenKeys.insert(note);
                break;
            }
            case 4:
            case 5: {
                if (screenKeys.empty()) break;
                auto it = screenKeys.begin();
                std::advance(it, pick(0, static_cast<int>(screenKeys.size()) - 1));
                c.noteOff(*it);
                screenKeys.erase(it);
                break;
            }
            case 6:
            case 7: {
                // A hardware key, on the keyboard channel or straight on a zone channel.
                const int channel = std::array{0, 0, 1, 2, 7}[pick(0, 4)];
                const int note = pick(28, 100);
                MidiEvent on = MidiEvent::noteOn(channel, note, pick(1, 127));
                on.sourceClient = 24;
                c.handleRealtimeMidiEvent(on);
                hardwareKeys.insert({channel, note});
                break;
            }
            case 8: {
                if (hardwareKeys.empty()) break;
                auto it = hardwareKeys.begin();
                std::advance(it, pick(0, static_cast<int>(hardwareKeys.size()) - 1));
                MidiEvent off = MidiEvent::noteOff(it->first, it->second);
                off.sourceClient = 24;
                c.handleRealtimeMidiEvent(off);
                hardwareKeys.erase(it);
                break;
            }
            case 9:
                c.setTransposeSemitones(pick(-12, 12));
                break;
            case 10:
                c.setOctaveShift(pick(-3, 3));
                break;
            case 11:
                c.toggleAbCompare();
                break;
            case 12:
                c.setChordMemoryEnabled(!c.chordMemoryEnabled());
                break;
            case 13:
                switch (pick(0, 5)) {
                case 0:
                    c.setLayer2Enabled(!c.layer2Enabled());
                    break;
                case 1:
                    c.setSplitEnabled(!c.splitEnabled());
                    break;
                case 2:
                    c.setSplitKey(pick(21, 96));
                    break;
                case 3:
                    c.setVelocitySwitchEnabled(!c.velocitySwitchEnabled());
                    break;
                case 4:
                    c.setLayer2OctaveOffset(pick(-2, 2));
                    break;
                default:
                    c.setSplitOctaveOffset(pick(-2, 2));
                    break;
                }
                break;
            case 14:
                if (pick(0, 1) == 0)
                    c.setAutoTuneEnabled(!c.autoTuneEnabled());
                else
                    c.setAutoTuneMode(pick(0, 4));
                break;
            case 15: {
                // A slot changes engine while keys are held: the main slot among the
                // SFZ piano, the synth and the SoundFont, the others between the last two.
                const int slot = pick(0, 2);
                const int type = slot == 0 ? pick(0, 2) : pick(1, 2);
                engine.setSlotEngineType(slot, static_cast<SoundEngineType>(type));
                break;
            }
            case 16:
                if (pick(0, 3) == 0)
                    c.setArpeggiatorEnabled(!c.arpeggiatorEnabled());
                else
                    c.setArpOctaves(pick(1, 3));
                break;
            case 17:
                switch (pick(0, 3)) {
                case 0:
                    c.setSustainPedal(!c.sustainPedal());
                    break;
                case 1:
                    c.setAutoPedalEnabled(!c.autoPedalEnabled());
                    break;
                case 2:
                    c.setTouchCurve(pick(0, 3));
                    break;
                default:
                    c.setSustainLatched(!c.sustainLatched());
                    break;
                }
                break;
            default:
                blocks(pick(1, 8));
                break;
            }
            QCoreApplication::processEvents();
            blocks(pick(0, 2));
            peakVoices = std::max(peakVoices, soundingVoices(engine));
            peakPianoVoices = std::max(peakPianoVoices, engine.sfzPiano.activeVoiceCount());
            peakSoundFontVoices = std::max(peakSoundFontVoices, engine.fluidSynth.activeVoiceCount());
        }
        QVERIFY2(peakVoices > 4, "the performance should have sounded");
        if (peakPianoVoices > 0) ++m_performancesWithPiano;
        if (peakSoundFontVoices > 0) ++m_performancesWithSoundFont;

        // Release every key and pedal.
        for (int note : screenKeys)
            c.noteOff(note);
        for (const auto& [channel, note] : hardwareKeys) {
            MidiEvent off = MidiEvent::noteOff(channel, note);
            off.sourceClient = 24;
            c.handleRealtimeMidiEvent(off);
        }
        c.setSustainLatched(false);
        c.setSustainPedal(false);
        c.setAutoPedalEnabled(false);
        QCoreApplication::processEvents();

        const StereoSignal tail = renderBlocks(engine, 48000 * 3, 256);
        QCOMPARE(engine.voiceOwnership().heldVoiceCount(), 0);
        QCOMPARE(c.harmonizer().heldVoiceCount(), 0);
        QCOMPARE(soundingVoices(engine), 0);
        const std::size_t lastHalfSecond = tail.left.size() - 24000;
        QVERIFY2(
            peak(tail.left, lastHalfSecond) < 1e-5f && peak(tail.right, lastHalfSecond) < 1e-5f,
            qPrintable(QStringLiteral("output after the tail: %1").arg(peak(tail.left, lastHalfSecond))));
    }

    void cleanupTestCase() {
        // The main slot starts on the piano; most performances must have played it,
        // and many the SoundFont engine after a slot switched to it.
        QVERIFY2(m_performancesWithPiano >= 6, qPrintable(QString::number(m_performancesWithPiano)));
        QVERIFY2(m_performancesWithSoundFont >= 6, qPrintable(QString::number(m_performancesWithSoundFont)));
    }

private:
    int m_performancesWithPiano = 0;
    int m_performancesWithSoundFont = 0;
    QTemporaryDir m_folder;
    QString m_sfzPath;
};

QTEST_GUILESS_MAIN(NoStuckNotesTest)
#include "tst_no_stuck_notes.moc"
