// Voice handling of the drawbar synth: allocation and stealing, the sustain pedal,
// velocity, envelopes that start and end when they should, and rendering that does not
// depend on the block size.

#include "SynthTestSupport.h"

#include <QTest>

#include <cmath>

using namespace tmb;
using test::SynthRecorder;

namespace {

struct ModelTimes {
    double attack, release, sustain;
};

ModelTimes timesOf(int model) {
    switch (model) {
    case 0:
        return {0.38, 1.4, 0.85};
    case 1:
        return {0.003, 0.55, 0.18};
    case 2:
        return {0.004, 0.08, 0.95};
    case 3:
        return {0.004, 0.65, 0.12};
    case 4:
        return {0.004, 0.18, 0.55};
    case 5:
        return {0.045, 0.45, 0.8};
    case 6:
        return {0.28, 1.1, 0.88};
    case 7:
        return {0.002, 0.32, 0.0};
    default:
        return {0.02, 0.45, 0.7};
    }
}

// Renders in small steps until no voice sounds; returns the seconds that took, or -1.
double secondsUntilSilent(SynthEngine& synth, SynthRecorder& rec, double limit) {
    const double start = rec.now();
    while (synth.activeVoiceCount() > 0) {
        if (rec.now() - start > limit) return -1.0;
        rec.runFrames(64);
    }
    return rec.now() - start;
}

} // namespace

class SynthVoicesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void thirtyThirdNoteStealsTheOldest() {
        SynthEngine synth;
        synth.setVoiceModel(4);
        SynthRecorder rec(synth);
        for (int n = 40; n < 72; ++n)
            synth.noteOn(n, 90, 440.0f);
        rec.run(0.1);
        QCOMPARE(synth.activeVoiceCount(), 32);

        // Striking 40 again makes it the youngest, so 41 is now the oldest.
        synth.noteOn(40, 90, 440.0f);
        QCOMPARE(synth.activeVoiceCount(), 32);
        synth.noteOn(72, 90, 440.0f);
        QCOMPARE(synth.activeVoiceCount(), 32);
        QCOMPARE(synth.voicesOnNote(41), 0);
        QCOMPARE(synth.voicesOnNote(40), 1);
        QCOMPARE(synth.voicesOnNote(72), 1);
        synth.noteOn(73, 90, 440.0f);
        QCOMPARE(synth.voicesOnNote(42), 0);

        // A voice that has finished is taken before any sounding one is stolen.
        synth.noteOff(50);
        rec.run(0.4);
        QCOMPARE(synth.activeVoiceCount(), 31);
        synth.noteOn(74, 90, 440.0f);
        QCOMPARE(synth.activeVoiceCount(), 32);
        QCOMPARE(synth.voicesOnNote(43), 1);
        QCOMPARE(synth.voicesOnNote(74), 1);
    }

    void sameKeyReusesItsVoice() {
        SynthEngine synth;
        synth.setVoiceModel(4);
        SynthRecorder rec(synth);
        synth.noteOn(60, 90, 440.0f);
        synth.noteOn(60, 90, 440.0f);
        QCOMPARE(synth.activeVoiceCount(), 1);
        rec.run(0.2);
        // Struck again during its release, the voice returns to its attack and holds.
        synth.noteOff(60);
        rec.run(0.05);
        const float releasing = test::rms(rec.signal.left, rec.at(0.24), rec.at(0.25));
        synth.noteOn(60, 90, 440.0f);
        QCOMPARE(synth.activeVoiceCount(), 1);
        rec.run(1.0);
        QCOMPARE(synth.voicesOnNote(60), 1);
        // No jump: the first samples continue from the release level.
        QVERIFY(test::rms(rec.signal.left, rec.at(0.25), rec.at(0.251)) < 1.5f * releasing);
        QVERIFY(test::rms(rec.signal.left, rec.at(1.1), rec.at(1.2)) > 2.0f * releasing);
    }

    void sustainPedalHoldsUntilLifted() {
        // A twin keeps its key down throughout: under the pedal the released note must
        // sound exactly like the held one.
        SynthEngine synth, twin;
        synth.setVoiceModel(4);
        twin.setVoiceModel(4);
        SynthRecorder rec(synth), twinRec(twin);
        synth.noteOn(60, 90, 440.0f);
        twin.noteOn(60, 90, 440.0f);
        rec.run(0.2);
        twinRec.run(0.2);
        synth.setSustainPedal(true);
        synth.noteOff(60);
        rec.run(1.0);
        twinRec.run(1.0);
        QCOMPARE(synth.voicesOnNote(60), 1);
        QVERIFY(rec.signal.left == twinRec.signal.left);
        QVERIFY(rec.signal.right == twinRec.signal.right);

        // The key is held again when the pedal lifts: the note goes on.
        synth.noteOn(60, 90, 440.0f);
        synth.setSustainPedal(false);
        rec.run(0.5);
        QCOMPARE(synth.voicesOnNote(60), 1);

        // Let go under the pedal, lifted: the note releases and the output falls silent.
        synth.setSustainPedal(true);
        synth.noteOff(60);
        rec.run(0.3);
        QCOMPARE(synth.voicesOnNote(60), 1);
        synth.setSustainPedal(false);
        const double took = secondsUntilSilent(synth, rec, 1.0);
        QVERIFY(took > 0.15 && took < 0.25);
        rec.run(0.5);
        QVERIFY(test::peak(rec.signal.left, rec.at(rec.now() - 0.2)) < 1e-6f);
    }

    // The pedal affects only voices released while it was down; a key held through
    // pedal changes keeps sounding.
    void pedalChangesLeaveHeldKeysAlone() {
        SynthEngine synth;
        synth.setVoiceModel(2);
        SynthRecorder rec(synth);
        synth.noteOn(60, 90, 440.0f);
        synth.setSustainPedal(true);
        synth.setSustainPedal(false);
        rec.run(0.3);
        QCOMPARE(synth.voicesOnNote(60), 1);
        synth.noteOff(60);
        QVERIFY(secondsUntilSilent(synth, rec, 0.5) > 0.0);
    }

    void allNotesOffFadesEverythingAndLiftsThePedal() {
        // The twin plays the same and carries on without the all-notes-off.
        SynthEngine synth, twin;
        SynthRecorder rec(synth), twinRec(twin);
        for (SynthEngine* s : {&synth, &twin}) {
            s->setVoiceModel(4);
            s->setSustainPedal(true);
            for (int n : {48, 52, 55, 60})
                s->noteOn(n, 100, 440.0f);
            s->noteOff(48);
        }
        rec.run(0.3);
        twinRec.run(0.3);
        synth.allNotesOff();
        // Nothing is cut: the release starts from where each voice was.
        rec.run(0.003);
        twinRec.run(0.003);
        const float faded =
            test::rms(rec.signal.left, rec.at(0.3)) / test::rms(twinRec.signal.left, rec.at(0.3));
        QVERIFY2(faded > 0.9f && faded < 1.0f, qPrintable(QString::number(faded)));
        const double took = secondsUntilSilent(synth, rec, 1.0);
        QVERIFY2(took > 0.15 && took < 0.25, qPrintable(QString::number(took)));
        // The pedal is up now: a new note released is not held.
        synth.noteOn(64, 100, 440.0f);
        rec.run(0.1);
        synth.noteOff(64);
        QVERIFY(secondsUntilSilent(synth, rec, 1.0) > 0.0);
    }

    void velocityZeroReleasesAndTheGainHasAFloor() {
        SynthEngine synth;
        synth.setVoiceModel(4);
        SynthRecorder rec(synth);
        synth.noteOn(60, 90, 440.0f);
        rec.run(0.2);
        synth.noteOn(60, 0, 440.0f);
        const double took = secondsUntilSilent(synth, rec, 1.0);
        QVERIFY(took > 0.15 && took < 0.25);

        // Velocities 1 to 6 all play at the floor of 0.05; 7 plays above it.
        const auto play = [](int velocity) {
            SynthEngine s;
            s.setVoiceModel(4);
            SynthRecorder r(s);
            s.noteOn(60, velocity, 440.0f);
            r.run(0.3);
            return r.signal.left;
        };
        const auto one = play(1);
        QVERIFY(test::peak(one) > 0.01f);
        QVERIFY(one == play(6));
        QVERIFY(test::rms(play(7)) > test::rms(one));
        QVERIFY(test::rms(play(127)) > 2.0f * test::rms(one));
    }

    // Each model rises over its attack time, and after the key is let go it falls
    // silent in about its release time (the release reaches -60 dB at that time).
    void envelopeTimesOfEveryModel_data() {
        QTest::addColumn<int>("model");
        for (int m : {0, 1, 2, 3, 4, 5, 6, 8, 200})
            QTest::addRow("model %d", m) << m;
    }
    void envelopeTimesOfEveryModel() {
        QFETCH(int, model);
        const ModelTimes t = timesOf(model);
        SynthEngine synth;
        synth.setVoiceModel(model);
        SynthRecorder rec(synth);
        synth.noteOn(57, 100, 440.0f);
        if (t.attack > 0.1) {
            rec.run(t.attack);
            const float early = test::rms(rec.signal.left, rec.at(t.attack * 0.2), rec.at(t.attack * 0.3));
            const float late = test::rms(rec.signal.left, rec.at(t.attack * 0.9), rec.at(t.attack));
            QVERIFY2(early < 0.4f * late, qPrintable(QStringLiteral("%1 vs %2").arg(early).arg(late)));
        }
        // Hold until the envelope has settled on its sustain level.
        rec.run(5.0 - rec.now());
        QCOMPARE(synth.activeVoiceCount(), 1);
        synth.noteOff(57);
        const double took = secondsUntilSilent(synth, rec, 3.0 * t.release);
        // From sustain s to the end at 0.0003 takes release x log(0.0003/s)/log(0.001).
        QVERIFY2(took > 0.8 * t.release && took < 1.25 * t.release,
                 qPrintable(QStringLiteral("%1 s for a release of %2 s").arg(took).arg(t.release)));
        rec.run(0.5);
        QVERIFY(test::peak(rec.signal.left, rec.at(rec.now() - 0.1)) < 1e-6f);
    }

    void bellModelEndsWhileTheKeyIsHeld() {
        SynthEngine synth;
        synth.setVoiceModel(7);
        SynthRecorder rec(synth);
        synth.noteOn(69, 100, 440.0f);
        rec.run(0.3);
        QCOMPARE(synth.activeVoiceCount(), 1);
        rec.run(0.4);
        QCOMPARE(synth.activeVoiceCount(), 0);
        const float start = test::rms(rec.signal.left, rec.at(0.005), rec.at(0.05));
        QVERIFY(test::toDb(test::rms(rec.signal.left, rec.at(0.42), rec.at(0.5)) / start) < -34.0f);
        // The key is still down; letting it go changes nothing.
        synth.noteOff(69);
        QCOMPARE(synth.activeVoiceCount(), 0);
    }

    void blockSizeDoesNotChangeTheSound() {
        const auto play = [](std::uint32_t block) {
            SynthEngine synth;
            synth.setVoiceModel(2);
            synth.modWheel = 0.5f;
            SynthRecorder rec(synth, 48000, block);
            for (int n : {48, 55, 64})
                synth.noteOn(n, 100, 440.0f);
            rec.run(1.0);
            return rec.signal;
        };
        const test::StereoSignal small = play(37);
        const test::StereoSignal whole = play(48000); // beyond the largest block
        const test::StereoSignal usual = play(256);
        QVERIFY(test::peak(small.left) > 0.1f);
        for (std::size_t i = 0; i < small.left.size(); ++i) {
            QCOMPARE(whole.left[i], small.left[i]);
            QCOMPARE(usual.right[i], small.right[i]);
        }
    }

    void renderingAddsToTheBuffers() {
        SynthEngine synth;
        SynthRecorder alone(synth);
        synth.noteOn(60, 100, 440.0f);
        alone.run(0.2);

        SynthEngine same;
        same.noteOn(60, 100, 440.0f);
        std::vector<float> left(9600, 0.25f), right(9600, -0.5f);
        same.renderAdding(left.data(), right.data(), 9600);
        for (std::size_t i = 0; i < left.size(); ++i) {
            QCOMPARE(left[i], 0.25f + alone.signal.left[i]);
            QCOMPARE(right[i], -0.5f + alone.signal.right[i]);
        }
        // Silence adds nothing.
        SynthEngine idle;
        idle.renderAdding(left.data(), right.data(), 9600);
        QCOMPARE(left[100], 0.25f + alone.signal.left[100]);
    }

    void hostileInputIsIgnoredOrClamped() {
        SynthEngine synth;
        SynthRecorder rec(synth);
        synth.noteOn(128, 100, 440.0f);
        synth.noteOn(-1, 100, 440.0f);
        synth.noteOff(500);
        synth.noteOff(-7);
        synth.setDrawbar(9, 1.0f);
        synth.setDrawbar(-1, 1.0f);
        QCOMPARE(synth.activeVoiceCount(), 0);
        synth.setVoiceModel(-3);
        QCOMPARE(synth.voiceModel(), 0u);
        rec.run(0.1);
        QCOMPARE(test::peak(rec.signal.left), 0.0f);

        // A broken tuning falls back to 440 Hz; velocities above 127 play at full gain;
        // the highest note at the lowest rate still renders finite samples.
        synth.setVoiceModel(3);
        synth.noteOn(69, 300, std::nanf(""));
        rec.run(1.0);
        QCOMPARE_LT(
            std::fabs(test::dominantFrequency(rec.signal.left, 48000, 300, 600, rec.at(0.3), rec.at(1.1)) -
                      440.0),
            0.1);
        SynthEngine low;
        low.setVoiceModel(2);
        low.setDrawbar(0, std::nanf(""));
        low.modWheel = std::nanf("");
        low.aftertouch = -5.0f;
        low.setPitchBend(8191);
        SynthRecorder lowRec(low, 4000); // prepared as 8000 Hz
        for (int n = 120; n < 128; ++n)
            low.noteOn(n, 127, 466.0f);
        lowRec.run(0.5);
        for (float x : lowRec.signal.left)
            QVERIFY(std::isfinite(x) && std::fabs(x) < 10.0f);
    }
};

QTEST_GUILESS_MAIN(SynthVoicesTest)
#include "tst_synth_voices.moc"
