// The master effects chain measured on rendered signals: tone curve, each effect,
// the output lift and the soft clipper.

#include "audio/AudioEngine.h"
#include "audio/BiquadState.h"
#include "audio/DspEffectsChain.h"
#include "support/AudioAnalysis.h"
#include "support/OfflineRender.h"

#include <QTest>

#include <cmath>
#include <functional>
#include <numbers>
#include <random>

using namespace tmb;
using test::StereoSignal;

namespace {

constexpr float sr = 48000.0f;

// A chain with every effect dry: no reverb, chorus, delay, drive or compressor.
void makeDry(DspEffectsChain& chain, float rate = sr) {
    chain.prepare(rate, 4096);
    chain.setReverb(0.0f, 0.72f, 0.35f);
    chain.setChorus(0.0f);
    chain.setDelay(0.0f, 0.35f, 0.35f);
    chain.setDriveAndCompressor(0.0f, 0.0f);
    chain.setStereoWidth(1.0f);
}

// Runs `signal` through the chain in 256-frame blocks.
StereoSignal process(DspEffectsChain& chain, StereoSignal signal, bool sustainDown = false) {
    for (std::size_t done = 0; done < signal.left.size();) {
        const auto frames = static_cast<std::uint32_t>(std::min<std::size_t>(256, signal.left.size() - done));
        chain.processStereoBlock(signal.left.data() + done, signal.right.data() + done, frames, sustainDown);
        done += frames;
    }
    return signal;
}

StereoSignal sine(double frequency, float amplitude, std::size_t frames, double rate = sr) {
    StereoSignal s;
    s.sampleRate = rate;
    for (std::size_t i = 0; i < frames; ++i) {
        const auto v =
            static_cast<float>(amplitude * std::sin(2.0 * std::numbers::pi * frequency * i / rate));
        s.left.push_back(v);
        s.right.push_back(v);
    }
    return s;
}

StereoSignal impulse(std::size_t frames, float height = 0.5f) {
    StereoSignal s;
    s.left.assign(frames, 0.0f);
    s.right.assign(frames, 0.0f);
    s.left[0] = s.right[0] = height;
    return s;
}

// Gain in dB of the chain at `frequency`, from a quiet sine after it settled.
double gainDb(DspEffectsChain& chain, double frequency, double rate = sr) {
    const auto frames = static_cast<std::size_t>(rate * 0.5);
    const StereoSignal out = process(chain, sine(frequency, 0.1f, frames, rate));
    return 20.0 * std::log10(test::toneAmplitude(out.left, rate, frequency, frames / 2) / 0.1);
}

// Gain in dB of one filter section at `frequency`.
double sectionGainDb(const std::function<void(BiquadState&)>& design, double frequency) {
    BiquadState section;
    design(section);
    const std::size_t frames = 24000;
    std::vector<float> out(frames);
    for (std::size_t i = 0; i < frames; ++i)
        out[i] =
            section.processLeft(static_cast<float>(std::sin(2.0 * std::numbers::pi * frequency * i / sr)));
    return 20.0 * std::log10(test::toneAmplitude(out, sr, frequency, frames / 2));
}

// First index where two signals differ by more than `threshold`, or -1.
long long firstDifference(const std::vector<float>& a, const std::vector<float>& b, float threshold = 1e-6f) {
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        if (std::fabs(a[i] - b[i]) > threshold) return static_cast<long long>(i);
    return -1;
}

} // namespace

class EffectsChainTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void filterSectionsMeetTheirDesignPoints() {
        // Shelves reach half their gain at the corner and the full gain far past it;
        // a peak reaches its gain at the centre; a Q 0.707 low-pass is 3 dB down.
        const auto lowShelf = [](BiquadState& s) {
            s.setLowShelf(sr, 200.0f, 6.0f);
        };
        QVERIFY(std::fabs(sectionGainDb(lowShelf, 200.0) - 3.0) < 0.1);
        QVERIFY(std::fabs(sectionGainDb(lowShelf, 25.0) - 6.0) < 0.2);
        QVERIFY(std::fabs(sectionGainDb(lowShelf, 5000.0)) < 0.1);

        const auto peak = [](BiquadState& s) {
            s.setPeaking(sr, 1000.0f, 0.9f, -9.0f);
        };
        QVERIFY(std::fabs(sectionGainDb(peak, 1000.0) + 9.0) < 0.1);
        QVERIFY(std::fabs(sectionGainDb(peak, 80.0)) < 0.3);

        const auto highShelf = [](BiquadState& s) {
            s.setHighShelf(sr, 4200.0f, -4.5f);
        };
        QVERIFY(std::fabs(sectionGainDb(highShelf, 4200.0) + 2.25) < 0.1);
        QVERIFY(std::fabs(sectionGainDb(highShelf, 16000.0) + 4.5) < 0.1);

        const auto lowPass = [](BiquadState& s) {
            s.setLowPass(sr, 2000.0f, 0.70711f);
        };
        QVERIFY(std::fabs(sectionGainDb(lowPass, 2000.0) + 3.01) < 0.1);
        QVERIFY(sectionGainDb(lowPass, 8000.0) < -20.0);

        // Frequencies outside a section's range are held at its limits.
        const auto tooLow = [](BiquadState& s) {
            s.setLowPass(sr, 10.0f, 0.70711f);
        };
        QVERIFY(std::fabs(sectionGainDb(tooLow, 200.0) + 3.01) < 0.1);
    }

    void quietDrySignalIsTheToneCurveTimesTheLift() {
        // Below the shelves and the low-pass the default curve is flat, so what
        // remains is the fixed output lift of 1.24.
        DspEffectsChain chain;
        makeDry(chain);
        QVERIFY(std::fabs(gainDb(chain, 300.0) - 20.0 * std::log10(1.24)) < 0.02);
        // The default curve lifts the top by the +0.45 dB shelf and rolls off above
        // 11.2 kHz.
        DspEffectsChain again;
        makeDry(again);
        QVERIFY(gainDb(again, 16000.0) < 20.0 * std::log10(1.24) - 8.0);
    }

    void brightnessAndLidShapeTheTone() {
        const double lift = 20.0 * std::log10(1.24);
        // Brightness 1, lid 1: the high shelf at +4.5 dB, the low-pass out at 19.3 kHz.
        DspEffectsChain bright;
        makeDry(bright);
        bright.setEqGains(0, 0, 0, 1.0f, 1.0f);
        QVERIFY(std::fabs(gainDb(bright, 100.0) - lift) < 0.05);
        QVERIFY(std::fabs(gainDb(bright, 12000.0) - lift - 4.5) < 0.3);
        // Brightness 0, lid 0: the shelf at -4.5 dB and the low-pass about 3 dB
        // down at 1880 Hz (plus the shelf's share there).
        DspEffectsChain dark;
        makeDry(dark);
        dark.setEqGains(0, 0, 0, 0.0f, 0.0f);
        QVERIFY(std::fabs(gainDb(dark, 100.0) - lift) < 0.05);
        QVERIFY(std::fabs(gainDb(dark, 1880.0) - lift + 3.18) < 0.3);
        QVERIFY(gainDb(dark, 12000.0) - lift < -30.0);

        // Each step of brightness opens the top; the bass stays where it is.
        double previous = -1000.0;
        for (float b : {0.0f, 0.25f, 0.5f, 0.75f, 1.0f}) {
            DspEffectsChain chain;
            makeDry(chain);
            chain.setEqGains(0, 0, 0, b, 1.0f);
            const double treble = gainDb(chain, 8000.0);
            QVERIFY2(treble > previous + 1.0, qPrintable(QStringLiteral("brightness %1").arg(b)));
            previous = treble;
            QVERIFY(std::fabs(gainDb(chain, 100.0) - lift) < 0.05);
        }
        // Closing the lid darkens the sound.
        DspEffectsChain open;
        makeDry(open);
        open.setEqGains(0, 0, 0, 0.55f, 1.0f);
        DspEffectsChain closed;
        makeDry(closed);
        closed.setEqGains(0, 0, 0, 0.55f, 0.1f);
        QVERIFY(gainDb(closed, 8000.0) < gainDb(open, 8000.0) - 6.0);

        // The explicit gains reach their sections (clamped to +-15 dB).
        DspEffectsChain bass;
        makeDry(bass);
        bass.setEqGains(40.0f, 0, 0, 0.5f, 1.0f);
        QVERIFY(std::fabs(gainDb(bass, 25.0) - lift - 15.0) < 0.5);
        DspEffectsChain mid;
        makeDry(mid);
        mid.setEqGains(0, -6.0f, 0, 0.5f, 1.0f);
        QVERIFY(std::fabs(gainDb(mid, 1100.0) - lift + 6.0) < 0.3);
    }

    void delayTapsSitExactlyTheDelayTimeBack() {
        struct Case {
            float rate;
            float seconds;
            long long taps;
        };
        // 0.01 s is below the shortest delay and is held at 0.04 s.
        for (const Case& c : {Case{48000.0f, 0.01f, 1920}, Case{48000.0f, 0.35f, 16800},
                              Case{44100.0f, 0.25f, 11025}, Case{96000.0f, 5.0f, 172800}}) {
            DspEffectsChain dry;
            makeDry(dry, c.rate);
            DspEffectsChain echo;
            makeDry(echo, c.rate);
            echo.setDelay(0.8f, c.seconds, 0.0f);
            const StereoSignal input = impulse(static_cast<std::size_t>(c.taps) + 4000);
            const StereoSignal a = process(dry, input);
            const StereoSignal b = process(echo, input);
            QCOMPARE(firstDifference(a.left, b.left), c.taps);
            QCOMPARE(firstDifference(a.right, b.right), c.taps);
        }
        // Ping-pong: an impulse on the left echoes left after one delay time, then
        // crosses to the right after two.
        DspEffectsChain pingPong;
        makeDry(pingPong);
        pingPong.setDelay(1.0f, 0.04f, 0.85f);
        StereoSignal input = impulse(6000);
        input.right[0] = 0.0f;
        const StereoSignal out = process(pingPong, input);
        QVERIFY(test::peak(out.left, 1900, 1950) > 0.05f);
        QVERIFY(test::peak(out.right, 1000, 3800) < 1e-6f);
        QVERIFY(test::peak(out.right, 3820, 3900) > 0.02f);
    }

    void reverbLeavesATailThatGrowsWithTheRoom() {
        const auto tailLength = [](float roomSize, float amount, float* tailRms, bool sustain = false,
                                   float resonance = 0.0f) {
            DspEffectsChain chain;
            makeDry(chain);
            chain.setReverb(amount, roomSize, resonance);
            StereoSignal input = sine(440.0, 0.3f, static_cast<std::size_t>(sr * 4.0));
            std::fill(input.left.begin() + 4800, input.left.end(), 0.0f);
            std::fill(input.right.begin() + 4800, input.right.end(), 0.0f);
            const StereoSignal out = process(chain, input, sustain);
            if (tailRms) *tailRms = test::rms(out.left, 9600, 14400);
            return test::lastAbove(out.left, 1e-4f);
        };
        const long long none = tailLength(0.72f, 0.0f, nullptr);
        float smallRms = 0.0f;
        float largeRms = 0.0f;
        const long long small = tailLength(0.2f, 0.5f, &smallRms);
        const long long large = tailLength(0.95f, 0.5f, &largeRms);
        // Dry, the sound stops with the burst (only the filters ring briefly).
        QVERIFY2(none < 4800 + 480, qPrintable(QString::number(none)));
        QVERIFY(smallRms > 1e-3f);
        QVERIFY2(small > 4800 + 4800, qPrintable(QString::number(small)));
        QVERIFY2(large > small + 24000, qPrintable(QStringLiteral("%1 vs %2").arg(large).arg(small)));

        // The held damper pedal adds 0.14 x resonance to the mix: 0.28 -> 0.42.
        float plain = 0.0f;
        float pedalled = 0.0f;
        tailLength(0.72f, 0.28f, &plain, false, 1.0f);
        tailLength(0.72f, 0.28f, &pedalled, true, 1.0f);
        QVERIFY2(std::fabs(pedalled / plain - 1.5f) < 0.01f, qPrintable(QString::number(pedalled / plain)));
    }

    void reverbTailsDifferBetweenTheSides() {
        DspEffectsChain chain;
        makeDry(chain);
        chain.setReverb(0.6f, 0.8f, 0.0f);
        const StereoSignal out = process(chain, impulse(24000));
        // Same mono input, different comb lengths per side.
        QVERIFY(test::rms(out.left, 4800, 24000) > 1e-4f);
        QVERIFY(firstDifference(out.left, out.right) >= 0);
    }

    void widthZeroIsMonoAndWidthWidens() {
        StereoSignal input = sine(330.0, 0.2f, 24000);
        StereoSignal other = sine(550.0, 0.2f, 24000);
        input.right = other.left; // different sides
        const auto sideRms = [](const StereoSignal& s) {
            std::vector<float> side(s.left.size());
            for (std::size_t i = 0; i < side.size(); ++i)
                side[i] = (s.left[i] - s.right[i]) * 0.5f;
            return test::rms(side, 12000);
        };

        DspEffectsChain mono;
        makeDry(mono);
        mono.setReverb(0.4f, 0.8f, 0.3f);
        mono.setStereoWidth(0.0f);
        const StereoSignal m = process(mono, input);
        QCOMPARE(firstDifference(m.left, m.right, 0.0f), -1LL);
        QVERIFY(test::rms(m.left, 12000) > 0.05f);

        DspEffectsChain normal;
        makeDry(normal);
        DspEffectsChain wide;
        makeDry(wide);
        wide.setStereoWidth(1.8f);
        DspEffectsChain almost;
        makeDry(almost);
        almost.setStereoWidth(1.005f);
        const StereoSignal n = process(normal, input);
        const StereoSignal w = process(wide, input);
        const StereoSignal a = process(almost, input);
        QVERIFY(std::fabs(sideRms(w) / sideRms(n) - 1.8f) < 0.01f);
        QCOMPARE(firstDifference(a.left, n.left, 0.0f), -1LL); // 1.005 counts as 1
        // Widths beyond the range are held at 1.8.
        DspEffectsChain wider;
        makeDry(wider);
        wider.setStereoWidth(7.0f);
        const StereoSignal x = process(wider, input);
        QCOMPARE(firstDifference(x.left, w.left, 0.0f), -1LL);
    }

    void chorusAddsCopiesAboutTwelveAndSeventeenMillisecondsLate() {
        DspEffectsChain dry;
        makeDry(dry);
        DspEffectsChain chorus;
        makeDry(chorus);
        chorus.setChorus(1.0f);
        const StereoSignal input = impulse(4800);
        const StereoSignal a = process(dry, input);
        const StereoSignal b = process(chorus, input);
        // The dry part is scaled by 1 - 0.35 at once; the copies follow.
        QVERIFY(std::fabs(b.left[0] / a.left[0] - 0.65f) < 1e-3f);
        std::vector<float> wetL(a.left.size()), wetR(a.left.size());
        for (std::size_t i = 0; i < wetL.size(); ++i) {
            wetL[i] = b.left[i] - 0.65f * a.left[i];
            wetR[i] = b.right[i] - 0.65f * a.right[i];
        }
        const long long left = test::firstAbove(wetL, 1e-4f);
        const long long right = test::firstAbove(wetR, 1e-4f);
        QVERIFY2(left >= 576 && left <= 600, qPrintable(QString::number(left)));
        QVERIFY2(right >= 800 && right <= 816, qPrintable(QString::number(right)));
    }

    void driveAddsOddHarmonics() {
        DspEffectsChain clean;
        makeDry(clean);
        DspEffectsChain driven;
        makeDry(driven);
        driven.setDriveAndCompressor(1.0f, 0.0f);
        const StereoSignal input = sine(500.0, 0.3f, 24000);
        const StereoSignal a = process(clean, input);
        const StereoSignal b = process(driven, input);
        const double thirdClean = test::toneAmplitude(a.left, sr, 1500.0, 12000);
        const double thirdDriven = test::toneAmplitude(b.left, sr, 1500.0, 12000);
        QVERIFY(thirdClean < 1e-4);
        QVERIFY2(thirdDriven > 0.02, qPrintable(QString::number(thirdDriven)));
    }

    void compressorHoldsBackWhatFollowsALoudPeak() {
        // A loud burst lifts the envelope; the quieter passage after it is held
        // back while the envelope decays. A quiet signal alone passes unchanged.
        const auto passageRms = [](float compressor, bool burst) {
            DspEffectsChain chain;
            makeDry(chain);
            chain.setDriveAndCompressor(0.0f, compressor);
            StereoSignal input = sine(200.0, 0.3f, 24000);
            if (burst) {
                for (std::size_t i = 0; i < 4800; ++i) {
                    input.left[i] *= 10.0f;
                    input.right[i] *= 10.0f;
                }
            }
            const StereoSignal out = process(chain, input);
            return test::rms(out.left, 5280, 7680);
        };
        QVERIFY(passageRms(1.0f, true) < 0.7f * passageRms(0.0f, true));
        QCOMPARE(passageRms(1.0f, false), passageRms(0.0f, false));
    }

    void softClipIsContinuousMonotonicAndBelowFullScale() {
        // Identical up to the knee.
        for (float x : {0.0f, 0.3f, -0.5f, 0.95f, 0.96f, -0.96f})
            QCOMPARE(DspEffectsChain::softClip(x), x);
        // Continuous at the knee: a step of 1e-4 moves the output by no more.
        QVERIFY(std::fabs(DspEffectsChain::softClip(0.9601f) - 0.9601f) < 1e-4f);
        QVERIFY(std::fabs(DspEffectsChain::softClip(-0.9601f) + 0.9601f) < 1e-4f);
        // Monotonic, odd and below 1.0 all the way up.
        float previous = 0.0f;
        for (float x = 0.0f; x < 200.0f; x += 0.0005f) {
            const float y = DspEffectsChain::softClip(x);
            QVERIFY2(y >= previous, qPrintable(QString::number(x)));
            QVERIFY2(y < 1.0f, qPrintable(QString::number(x)));
            QCOMPARE(DspEffectsChain::softClip(-x), -y);
            previous = y;
        }
        QVERIFY(DspEffectsChain::softClip(1e30f) < 1.0f);
        QVERIFY(DspEffectsChain::softClip(INFINITY) < 1.0f);
        QVERIFY(DspEffectsChain::softClip(1.5f) > 0.99f);
    }

    void outputPeakRisesWithInputAndStaysBelowFullScale() {
        // Default settings (reverb and compressor on), a sine swept up in level.
        float previous = 0.0f;
        for (float amplitude = 0.05f; amplitude <= 10.0f; amplitude *= 1.15f) {
            DspEffectsChain chain;
            chain.prepare(sr, 4096);
            const StereoSignal out = process(chain, sine(220.0, amplitude, 24000));
            const float peak = std::max(test::peak(out.left, 12000), test::peak(out.right, 12000));
            QVERIFY2(peak >= previous,
                     qPrintable(QStringLiteral("level %1: %2 < %3").arg(amplitude).arg(peak).arg(previous)));
            QVERIFY(peak < 1.0f);
            previous = peak;
        }
        QVERIFY(previous > 0.99f);
    }

    void randomLoudInputStaysFiniteAndBelowFullScale() {
        std::mt19937 random(7);
        std::uniform_real_distribution<float> level(-10.0f, 10.0f);
        std::uniform_real_distribution<float> knob(0.0f, 1.0f);
        DspEffectsChain chain;
        chain.setReverb(0.9f, 0.98f, 1.0f);
        chain.setChorus(0.7f);
        chain.setDelay(0.9f, 0.3f, 0.85f);
        chain.setDriveAndCompressor(0.6f, 0.8f);
        chain.setStereoWidth(1.8f);
        std::vector<float> left(256), right(256);
        for (int block = 0; block < 2000; ++block) {
            for (std::size_t i = 0; i < 256; ++i) {
                left[i] = level(random);
                right[i] = level(random);
            }
            if (block % 100 == 0) chain.setEqGains(0, 0, 0, knob(random), knob(random));
            chain.processStereoBlock(left.data(), right.data(), 256, block % 3 == 0);
            for (std::size_t i = 0; i < 256; ++i) {
                QVERIFY(std::isfinite(left[i]) && std::isfinite(right[i]));
                QVERIFY(std::fabs(left[i]) < 1.0f && std::fabs(right[i]) < 1.0f);
            }
        }
    }

    void disabledChainLeavesTheSignalAlone() {
        DspEffectsChain chain;
        chain.setEnabled(false);
        const StereoSignal input = sine(1000.0, 2.0f, 4800);
        const StereoSignal out = process(chain, input);
        QCOMPARE(firstDifference(out.left, input.left, 0.0f), -1LL);
        chain.setEnabled(true);
        const StereoSignal on = process(chain, input);
        QVERIFY(firstDifference(on.left, input.left) >= 0);
    }

    void engineAppliesPublishedSettingsFromTheNextBlock() {
        // The mix passes through the chain between the strips and the master gain;
        // a pushed record reaches the chain whole, at the start of the next block.
        AudioEngine engine;
        engine.prepareOffline(48000, 256);
        PianoParameters dry;
        dry.reverbAmount = 0.0f;
        dry.compressorAmount = 0.0f;
        engine.updatePianoParameters(dry);
        const auto toneLevel = [&engine] {
            engine.triggerTestTone();
            const StereoSignal out = test::renderBlocks(engine, 14400, 256);
            return test::toneAmplitude(out.left, sr, 261.63, 2400);
        };
        const double withChain = toneLevel();
        engine.effects.setEnabled(false);
        const double without = toneLevel();
        QVERIFY2(std::fabs(withChain / without - 1.24) < 0.01,
                 qPrintable(QString::number(withChain / without)));
        engine.effects.setEnabled(true);

        PianoParameters echo = dry;
        echo.delayAmount = 1.0f;
        echo.delayTime = 0.1f;
        echo.stereoWidth = 0.0f;
        engine.updatePianoParameters(echo);
        engine.triggerTestTone();
        const StereoSignal out = test::renderBlocks(engine, 9600, 256);
        QCOMPARE(firstDifference(out.left, out.right, 0.0f), -1LL); // width 0
        // The tone's first 4800 frames are dry; its echo joins 0.1 s in.
        const double before = test::rms(out.left, 2400, 4800);
        const double after = test::rms(out.left, 7200, 9600);
        QVERIFY2(after > before * 1.2, qPrintable(QStringLiteral("%1 %2").arg(before).arg(after)));
    }

    void prepareClearsTheTails() {
        DspEffectsChain chain;
        chain.setDelay(1.0f, 0.1f, 0.8f);
        process(chain, sine(300.0, 0.5f, 9600));
        chain.prepare(44100.0f, 4096);
        QCOMPARE(chain.sampleRate(), 44100.0f);
        StereoSignal silence;
        silence.left.assign(44100, 0.0f);
        silence.right.assign(44100, 0.0f);
        const StereoSignal out = process(chain, silence);
        QCOMPARE(test::peak(out.left), 0.0f);
        chain.prepare(100.0f, 4096); // held at 8000 Hz
        QCOMPARE(chain.sampleRate(), 8000.0f);
    }
};

QTEST_GUILESS_MAIN(EffectsChainTest)
#include "tst_effects_chain.moc"
