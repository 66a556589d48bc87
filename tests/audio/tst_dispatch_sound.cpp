// What the dispatch sounds like through the engine's own block callback: latency
// down to the block boundary, concert pitch at every rate, pitch bend, transpose and
// zone offsets on the right pitch, and the pedals that hold or release voices.

#include "audio/AudioEngine.h"
#include "support/AudioAnalysis.h"
#include "support/EngineVoiceProbe.h"
#include "support/OfflineRender.h"

#include <QTest>

#include <cmath>
#include <memory>

using namespace tmb;
using namespace tmb::test;

namespace {

constexpr int additiveModel = 3; // a sine with two soft partials: the fundamental dominates

std::unique_ptr<AudioEngine> synthEngine(std::uint32_t rate, std::uint32_t blockFrames) {
    auto engine = std::make_unique<AudioEngine>();
    engine->prepareOffline(rate, blockFrames);
    // The dry dispatch: the master effects' reverb tail has its own tests.
    engine->effects.setEnabled(false);
    for (int slot = 0; slot < 3; ++slot) {
        engine->setSlotEngineType(slot, SoundEngineType::Synth);
        engine->synths[slot].setVoiceModel(additiveModel);
    }
    return engine;
}

// Holds `note` on the keyboard channel and returns the dominant frequency of 1.2 s of
// the output, measured after the attack.
double soundingFrequency(AudioEngine& engine, int note, const MidiEvent* before = nullptr) {
    if (before) engine.submitMidiEvent(*before);
    engine.submitMidiEvent(MidiEvent::noteOn(0, note, 100));
    const StereoSignal out = renderBlocks(engine, engine.sampleRate * 3 / 2, engine.blockFrames);
    const auto start = static_cast<std::size_t>(engine.sampleRate / 4);
    return dominantFrequency(out.left, out.sampleRate, 50.0, 5000.0, start);
}

double semitones(double hz, double reference) {
    return 12.0 * std::log2(hz / reference);
}

} // namespace

class DispatchSoundTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void aNoteSoundsInTheBlockItWasQueuedBefore_data() {
        QTest::addColumn<int>("blockFrames");
        QTest::newRow("64") << 64;
        QTest::newRow("256") << 256;
        QTest::newRow("1024") << 1024;
    }
    void aNoteSoundsInTheBlockItWasQueuedBefore() {
        QFETCH(int, blockFrames);
        const auto frames = static_cast<std::uint32_t>(blockFrames);
        auto engine = synthEngine(48000, frames);
        engine->synths[0].setVoiceModel(2); // the organ: 4 ms attack
        const std::uint64_t queuedBefore = 10 * frames;
        const StereoSignal out = renderBlocks(*engine, 12 * frames, frames, [&](std::uint64_t first) {
            if (first == queuedBefore) engine->submitMidiEvent(MidiEvent::noteOn(0, 60, 110));
        });
        const long long onset = firstAbove(out.left, 1e-4f);
        QVERIFY2(
            onset >= static_cast<long long>(queuedBefore) &&
                onset < static_cast<long long>(queuedBefore + frames),
            qPrintable(
                QStringLiteral("first sound at frame %1, block starts at %2").arg(onset).arg(queuedBefore)));
        QVERIFY(peak(out.left, queuedBefore, queuedBefore + frames) > 1e-3f);
    }

    void concertPitchAtEveryRate_data() {
        QTest::addColumn<int>("rate");
        QTest::addColumn<float>("tuning");
        QTest::newRow("44100") << 44100 << 440.0f;
        QTest::newRow("48000") << 48000 << 440.0f;
        QTest::newRow("96000") << 96000 << 440.0f;
        QTest::newRow("48000, A = 415") << 48000 << 415.0f;
    }
    void concertPitchAtEveryRate() {
        QFETCH(int, rate);
        QFETCH(float, tuning);
        auto engine = synthEngine(static_cast<std::uint32_t>(rate), 256);
        PianoParameters params;
        params.tuningHz = tuning;
        engine->updatePianoParameters(params);
        const double hz = soundingFrequency(*engine, 69);
        QVERIFY2(std::fabs(hz - tuning) < 0.3, qPrintable(QStringLiteral("A4 sounds at %1 Hz").arg(hz)));
    }

    void pitchBendMovesEverySynth_data() {
        QTest::addColumn<int>("bend");
        QTest::addColumn<double>("expectedSemitones");
        QTest::newRow("full up") << 8191 << 2.0 * 8191.0 / 8192.0;
        QTest::newRow("full down") << -8192 << -2.0;
        QTest::newRow("half up") << 4096 << 1.0;
    }
    void pitchBendMovesEverySynth() {
        QFETCH(int, bend);
        QFETCH(double, expectedSemitones);
        // The main synth alone, then the split synth alone (split below 100).
        for (bool split : {false, true}) {
            auto engine = synthEngine(48000, 256);
            if (split) {
                WorkstationState state;
                state.splitEnabled = true;
                state.splitKey = 100;
                engine->updateWorkstationState(state);
            }
            const MidiEvent bendEvent = MidiEvent::pitchBendEvent(0, bend);
            const double hz = soundingFrequency(*engine, 69, &bendEvent);
            QVERIFY2(std::fabs(semitones(hz, 440.0) - expectedSemitones) < 0.01,
                     qPrintable(QStringLiteral("%1 Hz (split %2)").arg(hz).arg(split)));
        }
    }

    // The SoundFont's keyboard channels follow the bend; the arranger's parts do not.
    // Measured against the same note unbent, as the font's samples carry their own tuning.
    void pitchBendMovesTheSoundFontKeyboardChannelsOnly() {
        const QString font = QStringLiteral("/usr/share/sounds/sf2/TimGM6mb.sf2");
        auto sounding = [&](int channel, int bend) {
            auto engine = synthEngine(48000, 256);
            engine->setSlotEngineType(0, SoundEngineType::SoundFont);
            if (!engine->fluidSynth.selectProgram(channel, font, 0, 73)) return 0.0; // flute: nearly a sine
            engine->submitMidiEvent(MidiEvent::pitchBendEvent(0, bend));
            engine->submitMidiEvent(MidiEvent::noteOn(channel, 69, 100));
            const StereoSignal out = renderBlocks(*engine, 72000, 256);
            return dominantFrequency(out.left, out.sampleRate, 200.0, 700.0, 12000);
        };
        for (int channel : {0, 3}) {
            const double straight = sounding(channel, 0);
            QVERIFY2(std::fabs(semitones(straight, 440.0)) < 0.5, qPrintable(QString::number(straight)));
            const double moved = semitones(sounding(channel, 4096), straight);
            const double expected = channel == 0 ? 1.0 : 0.0;
            QVERIFY2(std::fabs(moved - expected) < 0.02,
                     qPrintable(QStringLiteral("channel %1 moved %2 semitones").arg(channel).arg(moved)));
        }
    }

    void transposeOctaveAndZoneOffsetsLandOnTheirPitch() {
        {
            auto engine = synthEngine(48000, 256);
            PianoParameters params;
            params.transposeSemitones = 3;
            engine->updatePianoParameters(params);
            QVERIFY(std::fabs(semitones(soundingFrequency(*engine, 69), 440.0) - 3.0) < 0.01);
        }
        {
            auto engine = synthEngine(48000, 256);
            PianoParameters params;
            params.octaveShift = -1;
            params.transposeSemitones = -2;
            engine->updatePianoParameters(params);
            QVERIFY(std::fabs(semitones(soundingFrequency(*engine, 69), 440.0) + 14.0) < 0.01);
        }
        {
            // The layer plays an octave up on its own bus: mute the main channel to hear it.
            auto engine = synthEngine(48000, 256);
            WorkstationState state;
            state.layer2Enabled = true;
            state.layer2OctaveOffset = 1;
            engine->updateWorkstationState(state);
            engine->setChannelMuted(MixerChannelId::Piano, true);
            QVERIFY(std::fabs(semitones(soundingFrequency(*engine, 69), 880.0)) < 0.01);
        }
    }

    void autoDamperHoldsUntilSwitchedOff() {
        auto engine = synthEngine(48000, 256);
        engine->synths[0].setVoiceModel(4); // short release
        PianoParameters params;
        params.autoPedalEnabled = true;
        engine->updatePianoParameters(params);
        engine->submitMidiEvent(MidiEvent::noteOn(0, 60, 100));
        renderBlocks(*engine, 4800, 256);
        engine->submitMidiEvent(MidiEvent::noteOff(0, 60));
        renderBlocks(*engine, 48000, 256);
        QCOMPARE(engine->synths[0].voicesOnNote(60), 1); // held by the automatic damper

        // Switching the automatic damper off releases what it held.
        params.autoPedalEnabled = false;
        engine->updatePianoParameters(params);
        renderBlocks(*engine, 48000, 256);
        QCOMPARE(soundingVoices(*engine), 0);
    }

    void aPushNeverLiftsTheFootsDamper() {
        auto engine = synthEngine(48000, 256);
        engine->synths[0].setVoiceModel(4);
        MidiEvent foot = MidiEvent::controlChange(0, 64, 127);
        foot.sourceClient = 20;
        engine->submitMidiEvent(foot);
        engine->submitMidiEvent(MidiEvent::noteOn(0, 60, 100));
        renderBlocks(*engine, 4800, 256);
        engine->submitMidiEvent(MidiEvent::noteOff(0, 60));
        // A pushed record with the pedal up (another sound, say) arrives meanwhile.
        PianoParameters other;
        other.brightness = 0.3f;
        engine->updatePianoParameters(other);
        renderBlocks(*engine, 48000, 256);
        QCOMPARE(engine->synths[0].voicesOnNote(60), 1);
        foot.data2 = 0;
        engine->submitMidiEvent(foot);
        renderBlocks(*engine, 48000, 256);
        QCOMPARE(soundingVoices(*engine), 0);
    }

    void resetSilencesEverything() {
        auto engine = synthEngine(48000, 256);
        WorkstationState state;
        state.layer2Enabled = true;
        state.chordMemoryEnabled = true;
        engine->updateWorkstationState(state);
        for (int note : {48, 60, 72})
            engine->submitMidiEvent(MidiEvent::noteOn(0, note, 100));
        engine->submitMidiEvent(MidiEvent::noteOn(2, 40, 100));
        renderBlocks(*engine, 4800, 256);
        QCOMPARE(soundingVoices(*engine), 19);
        engine->panicAllNotesOff();
        const StereoSignal out = renderBlocks(*engine, 96000, 256);
        QCOMPARE(soundingVoices(*engine), 0);
        QVERIFY(peak(out.left, 72000) < 1e-5f);
    }
};

QTEST_GUILESS_MAIN(DispatchSoundTest)
#include "tst_dispatch_sound.moc"
