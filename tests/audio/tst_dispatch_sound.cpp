// What the dispatch sounds like through the engine's own block callback: latency
// down to the block boundary, concert pitch at every rate, pitch bend, transpose and
// zone offsets on the right pitch, the pedals that hold or release voices, and the
// offline MIDI file renderer, which queues each event right before the block that
// starts at its frame without overflowing the engine's queue.

#include "../midi/SmfBytes.h"
#include "audio/AudioEngine.h"
#include "audio/MidiFileRenderer.h"
#include "support/AudioAnalysis.h"
#include "support/EngineVoiceProbe.h"
#include "support/OfflineRender.h"

#include <QTest>

#include <cmath>
#include <memory>

using namespace tmb;
using namespace tmb::test;

namespace {

std::unique_ptr<AudioEngine> synthEngine(std::uint32_t rate, std::uint32_t blockFrames, int voiceModel = 3) {
    auto engine = std::make_unique<AudioEngine>();
    engine->prepareOffline(rate, blockFrames);
    // The dry dispatch: the master effects' reverb tail has its own tests.
    engine->effects.setEnabled(false);
    for (int slot = 0; slot < 3; ++slot) {
        engine->setSlotEngineType(slot, SoundEngineType::Synth);
        // By default a sine with two soft partials: the fundamental dominates.
        engine->synths[slot].setVoiceModel(voiceModel);
    }
    return engine;
}

// Holds `note` on the keyboard channel and returns the dominant frequency of 1.2 s of
// the output, measured after the attack.
double soundingFrequency(AudioEngine& engine, int note) {
    engine.submitMidiEvent(MidiEvent::noteOn(0, note, 100));
    const StereoSignal out = renderBlocks(engine, engine.sampleRate * 3 / 2, engine.blockFrames);
    const auto start = static_cast<std::size_t>(engine.sampleRate / 4);
    return dominantFrequency(out.left, out.sampleRate, 50.0, 5000.0, start);
}

double semitones(double hz, double reference) {
    return 12.0 * std::log2(hz / reference);
}

// Stands in for the engine: remembers at which frame each event was queued and
// how long each block was.
struct RecordingTarget {
    struct Queued {
        std::uint64_t frame;
        MidiEvent event;
    };
    std::vector<Queued> queued;
    std::vector<std::uint32_t> blocks;
    std::vector<std::size_t> queuedPerBlock;
    std::uint64_t frames = 0;
    std::size_t sinceLastBlock = 0;

    bool run(const MidiFileRenderer& renderer) {
        return renderer.render(
            [this](const MidiEvent& e) {
                queued.push_back({frames, e});
                ++sinceLastBlock;
            },
            [this](float* out, std::uint32_t n) {
                std::fill_n(out, 2 * n, 0.25f);
                blocks.push_back(n);
                queuedPerBlock.push_back(sinceLastBlock);
                sinceLastBlock = 0;
                frames += n;
            },
            [](const float*, std::uint32_t) { return true; });
    }
};

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
        auto engine = synthEngine(48000, frames, 2); // the organ: 4 ms attack
        const std::uint64_t queuedBefore = 10 * frames;
        const StereoSignal out = renderBlocks(*engine, 12 * frames, frames, [&](std::uint64_t first) {
            if (first == queuedBefore) engine->submitMidiEvent(MidiEvent::noteOn(0, 60, 110));
        });
        const long long onset = firstAbove(out.left, 1e-4f);
        QVERIFY2(
            onset >= static_cast<long long>(queuedBefore) &&
                onset < static_cast<long long>(queuedBefore + frames),
            qPrintable(QStringLiteral("first sound at frame %1, block at %2").arg(onset).arg(queuedBefore)));
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
        engine->updatePianoParameters({.tuningHz = tuning});
        const double hz = soundingFrequency(*engine, 69);
        QVERIFY2(std::fabs(hz - tuning) < 0.3, qPrintable(QStringLiteral("A4 sounds at %1 Hz").arg(hz)));
    }

    void bendTransposeAndZoneOffsetsLandOnTheirPitch_data() {
        QTest::addColumn<int>("bend");
        QTest::addColumn<bool>("split"); // below 100: the split synth plays
        QTest::addColumn<int>("transpose");
        QTest::addColumn<int>("octave");
        QTest::addColumn<int>("layerOctave"); // the layer alone, the main channel muted
        QTest::addColumn<double>("expected");
        for (bool split : {false, true}) {
            const char* zone = split ? ", split" : "";
            QTest::addRow("bend full up%s", zone) << 8191 << split << 0 << 0 << 0 << 2.0 * 8191.0 / 8192.0;
            QTest::addRow("bend full down%s", zone) << -8192 << split << 0 << 0 << 0 << -2.0;
            QTest::addRow("bend half up%s", zone) << 4096 << split << 0 << 0 << 0 << 1.0;
        }
        QTest::newRow("transpose 3") << 0 << false << 3 << 0 << 0 << 3.0;
        QTest::newRow("octave down, transpose -2") << 0 << false << -2 << -1 << 0 << -14.0;
        QTest::newRow("layer an octave up") << 0 << false << 0 << 0 << 1 << 12.0;
    }
    void bendTransposeAndZoneOffsetsLandOnTheirPitch() {
        QFETCH(int, bend);
        QFETCH(bool, split);
        QFETCH(int, transpose);
        QFETCH(int, octave);
        QFETCH(int, layerOctave);
        QFETCH(double, expected);
        auto engine = synthEngine(48000, 256);
        engine->updatePianoParameters({.transposeSemitones = transpose, .octaveShift = octave});
        engine->updateWorkstationState({.layer2Enabled = layerOctave != 0,
                                        .splitEnabled = split,
                                        .splitKey = 100,
                                        .layer2OctaveOffset = layerOctave});
        engine->setChannelMuted(MixerChannelId::Piano, layerOctave != 0);
        engine->submitMidiEvent(MidiEvent::pitchBendEvent(0, bend));
        const double hz = soundingFrequency(*engine, 69);
        QVERIFY2(std::fabs(semitones(hz, 440.0) - expected) < 0.01, qPrintable(QString::number(hz)));
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
            QVERIFY2(std::fabs(moved - (channel == 0 ? 1.0 : 0.0)) < 0.02,
                     qPrintable(QStringLiteral("channel %1 moved %2 semitones").arg(channel).arg(moved)));
        }
    }

    // The automatic damper holds until switched off; the foot's damper holds until
    // lifted, and a pushed record with the pedal up (another sound, say) does not lift it.
    void dampersHoldUntilReleased() {
        for (bool foot : {false, true}) {
            auto engine = synthEngine(48000, 256, 4); // short release
            MidiEvent pedal = MidiEvent::controlChange(0, 64, 127);
            pedal.sourceClient = 20;
            if (foot)
                engine->submitMidiEvent(pedal);
            else
                engine->updatePianoParameters({.autoPedalEnabled = true});
            engine->submitMidiEvent(MidiEvent::noteOn(0, 60, 100));
            renderBlocks(*engine, 4800, 256);
            engine->submitMidiEvent(MidiEvent::noteOff(0, 60));
            if (foot) engine->updatePianoParameters({.brightness = 0.3f});
            renderBlocks(*engine, 48000, 256);
            QCOMPARE(engine->synths[0].voicesOnNote(60), 1);
            pedal.data2 = 0;
            if (foot)
                engine->submitMidiEvent(pedal);
            else
                engine->updatePianoParameters({});
            renderBlocks(*engine, 48000, 256);
            QCOMPARE(soundingVoices(*engine), 0);
        }
    }

    void resetSilencesEverything() {
        auto engine = synthEngine(48000, 256);
        engine->updateWorkstationState({.layer2Enabled = true, .chordMemoryEnabled = true});
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

    void rendererQueuesEachEventBeforeTheBlockAtItsFrame_data() {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("block");
        QTest::newRow("44100 / 256") << 44100 << 256;
        QTest::newRow("48000 / 17") << 48000 << 17;
        QTest::newRow("96000 / 4096") << 96000 << 4096;
    }
    void rendererQueuesEachEventBeforeTheBlockAtItsFrame() {
        QFETCH(int, rate);
        QFETCH(int, block);
        // 480 ticks a quarter; 120 BPM until tick 960 (1 s), then 90 BPM (1 quarter = 2/3 s).
        const QByteArray conductor = tempo(0, 500000) + tempo(960, 666667) + endOfTrack();
        const QByteArray notes = midiMessage(100, 0x90, 60, 100) + midiMessage(0, 0x91, 64, 90) +
                                 midiMessage(860, 0x80, 60, 0) + midiMessage(1, 0xE0, 0, 0x40) +
                                 midiMessage(479, 0x81, 64, 0) + endOfTrack(240);
        StandardMidiFile file;
        QVERIFY(file.parse(header(1, 2, 480) + track(conductor) + track(notes)));

        const double quarter90 = 0.666667;
        const std::vector<double> seconds = {100 / 960.0, 100 / 960.0, 1.0, 1.0 + quarter90 / 480,
                                             1.0 + quarter90};
        MidiFileRenderer renderer(file, {std::uint32_t(rate), std::uint32_t(block), 0.5});
        QCOMPARE(renderer.totalFrames(), std::uint64_t(std::llround((1.0 + 1.5 * quarter90) * rate)) +
                                             std::uint64_t(std::llround(0.5 * rate)));
        RecordingTarget target;
        QVERIFY(target.run(renderer));
        QCOMPARE(target.frames, renderer.totalFrames());
        for (std::uint32_t n : target.blocks)
            QVERIFY(n >= 1 && n <= std::uint32_t(block));
        QCOMPARE(target.queued.size(), seconds.size());
        for (std::size_t i = 0; i < seconds.size(); ++i)
            QCOMPARE(target.queued[i].frame, std::uint64_t(std::llround(seconds[i] * rate)));
        QCOMPARE(target.queued[0].event.status, MidiEvent::NoteOn);
        QCOMPARE(target.queued[1].event.channel, std::uint8_t{1});
        QCOMPARE(target.queued[3].event.status, MidiEvent::PitchBend);
        QCOMPARE(target.queued[4].event.data1, std::uint8_t{64});
    }

    void rendererSpillsWhatTheQueueCannotHoldAndStopsOnAFailingSink() {
        // 5000 events at one tick: the engine takes 2047 a block.
        QByteArray notes = midiMessage(48, 0x90, 0, 1);
        for (int i = 1; i < 5000; ++i)
            notes += varLen(0) + bytes({i % 128, 1});
        StandardMidiFile file;
        QVERIFY(file.parse(header(0, 1, 96) + track(notes + endOfTrack(96))));
        MidiFileRenderer renderer(file, {48000, 256, 0.1});
        RecordingTarget target;
        QVERIFY(target.run(renderer));
        QCOMPARE(target.queued.size(), std::size_t{5000});
        const std::uint64_t at = 12000; // a quarter at 120 BPM
        QCOMPARE(target.queued.front().frame, at);
        QCOMPARE(target.queued[2046].frame, at);
        QCOMPARE(target.queued[2047].frame, at + 1);
        QCOMPARE(target.queued.back().frame, at + 2);
        for (std::size_t n : target.queuedPerBlock)
            QVERIFY(n <= config::midiQueueSlots - 1);

        // Through the real engine nothing is dropped.
        AudioEngine engine;
        engine.prepareOffline(48000, 256);
        std::uint64_t frames = 0;
        QVERIFY(renderer.render(engine, [&frames](const float*, std::uint32_t n) {
            frames += n;
            return true;
        }));
        QCOMPARE(frames, renderer.totalFrames());
        QCOMPARE(engine.droppedMidiEvents(), std::uint64_t{0});

        // A sink that fails stops the render there.
        int blocks = 0;
        QVERIFY(!renderer.render([](const MidiEvent&) {}, [](float*, std::uint32_t) {},
                                 [&blocks](const float*, std::uint32_t) { return ++blocks < 3; }));
        QCOMPARE(blocks, 3);
    }
};

QTEST_GUILESS_MAIN(DispatchSoundTest)
#include "tst_dispatch_sound.moc"
