// The parameter records reach the audio thread whole: a block sees one pushed record
// or the next, never a mix, and a push never moves a pedal that controller events
// hold. Runs under ThreadSanitizer too.

#include "audio/AudioEngine.h"

#include <QTest>

#include <atomic>
#include <memory>
#include <thread>

using namespace tmb;

namespace {

PianoParameters paramsNumbered(int k) {
    const auto f = static_cast<float>(k);
    PianoParameters p;
    p.brightness = p.damperResonance = p.stringResonance = p.keyOffVolume = p.pedalNoiseVolume = f;
    p.lidPosition = p.reverbAmount = p.reverbRoomSize = p.chorusAmount = p.delayAmount = f;
    p.delayTime = p.driveAmount = p.compressorAmount = p.stereoWidth = p.tuningHz = f;
    p.transposeSemitones = p.octaveShift = k;
    p.touchCurve = k;
    p.autoPedalEnabled = k % 2 == 0;
    p.invertPedalPolarity = k % 3 == 1;
    // What a stale A/B record would carry: every pedal up.
    p.sustainPedal = p.sostenutoPedal = p.softPedal = false;
    p.continuousPedal = 0.0f;
    return p;
}

WorkstationState stateNumbered(int k) {
    WorkstationState s;
    s.splitKey = s.velocityThreshold = s.arpMode = s.arpOctaves = k;
    s.layer2OctaveOffset = s.splitOctaveOffset = k;
    s.layer2Enabled = s.splitEnabled = s.velocitySwitchEnabled = s.chordMemoryEnabled = k % 2 == 1;
    return s;
}

// The record number a block saw, or -1 when its fields disagree.
int numberOf(const PianoParameters& p) {
    const auto k = static_cast<int>(p.brightness);
    const float f = p.brightness;
    const bool whole =
        p.damperResonance == f && p.stringResonance == f && p.keyOffVolume == f && p.pedalNoiseVolume == f &&
        p.lidPosition == f && p.reverbAmount == f && p.reverbRoomSize == f && p.chorusAmount == f &&
        p.delayAmount == f && p.delayTime == f && p.driveAmount == f && p.compressorAmount == f &&
        p.stereoWidth == f && p.tuningHz == f && p.transposeSemitones == k && p.octaveShift == k &&
        p.touchCurve == k && p.autoPedalEnabled == (k % 2 == 0) && p.invertPedalPolarity == (k % 3 == 1);
    return whole ? k : -1;
}

int numberOf(const WorkstationState& s) {
    const int k = s.splitKey;
    const bool whole = s.velocityThreshold == k && s.arpMode == k && s.arpOctaves == k &&
                       s.layer2OctaveOffset == k && s.splitOctaveOffset == k &&
                       s.layer2Enabled == (k % 2 == 1) && s.splitEnabled == (k % 2 == 1) &&
                       s.velocitySwitchEnabled == (k % 2 == 1) && s.chordMemoryEnabled == (k % 2 == 1);
    return whole ? k : -1;
}

} // namespace

class ParameterPublicationTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void blocksSeeWholeRecordsInOrderAndKeepThePedals() {
        auto engine = std::make_unique<AudioEngine>();
        engine->prepareOffline(48000, 64);
        std::vector<float> out(2 * 64);
        // The foot holds the sustain and soft pedals (events from a hardware port).
        for (int controller : {64, 67}) {
            MidiEvent pedal = MidiEvent::controlChange(0, controller, 127);
            pedal.sourceClient = 20;
            engine->submitMidiEvent(pedal);
        }
        engine->updatePianoParameters(paramsNumbered(0));
        engine->updateWorkstationState(stateNumbered(0));
        engine->processAudioCallback(out.data(), 64);

        // The GUI pushes numbered records until the audio thread has rendered enough
        // blocks to have met many of them mid-write.
        std::atomic<int> blocks{0};
        std::atomic<bool> done{false};
        int pushes = 0;
        std::thread gui([&] {
            while (blocks.load() < 3000) {
                ++pushes;
                engine->updatePianoParameters(paramsNumbered(pushes));
                engine->updateWorkstationState(stateNumbered(pushes));
            }
            done = true;
        });

        int lastParams = 0;
        int lastState = 0;
        int torn = 0;
        int backwards = 0;
        int pedalLost = 0;
        auto check = [&] {
            engine->processAudioCallback(out.data(), 64);
            const int p = numberOf(engine->renderingParameters());
            const int s = numberOf(engine->renderingWorkstationState());
            if (p < 0 || s < 0) {
                ++torn;
                return;
            }
            if (p < lastParams || s < lastState) ++backwards;
            lastParams = p;
            lastState = s;
            const PianoParameters& live = engine->renderingParameters();
            if (!live.sustainPedal || !live.softPedal || live.continuousPedal != 1.0f) ++pedalLost;
        };
        while (!done.load()) {
            check();
            ++blocks;
        }
        gui.join();
        check();

        QCOMPARE(torn, 0);
        QCOMPARE(backwards, 0);
        QCOMPARE(pedalLost, 0);
        // The last record always arrives.
        QCOMPARE(lastParams, pushes);
        QCOMPARE(lastState, pushes);
    }
};

QTEST_GUILESS_MAIN(ParameterPublicationTest)
#include "tst_parameter_publication.moc"
