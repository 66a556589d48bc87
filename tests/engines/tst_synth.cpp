// The drawbar synth rendered and measured.

#include "EngineTestSupport.h"
#include "engines/SynthEngine.h"
#include "support/AudioAnalysis.h"

#include <QTest>

#include <algorithm>
#include <cmath>
#include <vector>

using namespace tmb;
using test::StereoSignal;

namespace {

// A synth rendered block by block on the calling thread, keeping all it produced.
struct Synth : SynthEngine {
    explicit Synth(int model = 0, double rate = 48000.0, std::uint32_t block = 256)
        : m_block(block) {
        setVoiceModel(model);
        prepare(static_cast<float>(rate));
        signal.sampleRate = rate;
    }
    void run(double seconds) { runFrames(at(seconds)); }
    void runFrames(std::size_t frames) {
        for (std::size_t pos = signal.left.size(), end = pos + frames; pos < end; pos += m_block) {
            const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(m_block, end - pos));
            signal.left.resize(pos + n, 0.0f);
            signal.right.resize(pos + n, 0.0f);
            renderAdding(signal.left.data() + pos, signal.right.data() + pos, n);
        }
    }
    void play(int note, double seconds, int velocity = 100) {
        noteOn(note, velocity, 440.0f);
        run(seconds);
    }
    std::size_t at(double seconds) const {
        return static_cast<std::size_t>(std::llround(seconds * signal.sampleRate));
    }
    double now() const { return static_cast<double>(signal.left.size()) / signal.sampleRate; }
    double amp(double hz, double from, double to, bool right = false) const {
        return test::toneAmplitude(right ? signal.right : signal.left, signal.sampleRate, hz, at(from),
                                   at(to));
    }
    double pitch(double lo, double hi, double from, double to) const {
        return test::dominantFrequency(signal.left, signal.sampleRate, lo, hi, at(from), at(to));
    }
    float rms(double from, double to) const { return test::rms(signal.left, at(from), at(to)); }
    bool releasesIn(double from, double to) { // the voices end within [from, to] seconds
        const double start = now();
        while (activeVoiceCount() > 0 && now() - start < to)
            runFrames(64);
        const double took = now() - start;
        return activeVoiceCount() == 0 && took > from && took < to;
    }

    StereoSignal signal;
    std::uint32_t m_block;
};

double db(double ratio) {
    return 20.0 * std::log10(std::max(ratio, 1e-15));
}

// Frequencies of successive cycles from upward zero crossings (one a period).
std::vector<double> cycleFrequencies(const std::vector<float>& s, double rate, std::size_t begin,
                                     std::size_t end) {
    std::vector<double> crossings, freqs;
    for (std::size_t i = begin + 1; i < end && i < s.size(); ++i)
        if (s[i - 1] < 0.0f && s[i] >= 0.0f)
            crossings.push_back(static_cast<double>(i - 1) + s[i - 1] / (s[i - 1] - s[i]));
    for (std::size_t i = 1; i < crossings.size(); ++i)
        freqs.push_back(rate / (crossings[i] - crossings[i - 1]));
    return freqs;
}

constexpr double organRatios[SynthEngine::drawbarCount] = {0.5, 1.5, 1, 2, 3, 4, 5, 6, 8};
constexpr float defaultDrawbars[SynthEngine::drawbarCount] = {0.85f, 0.45f, 0.9f,  0.5f, 0.3f,
                                                              0.4f,  0.2f,  0.15f, 0.25f};

} // namespace

class SynthTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Every drawbar at its partial and level, nothing between; the rotary swings each side.
    void organDrawbarsSoundTheirPartials() {
        Synth s(2);
        s.play(69, 1.5);
        const double fundamental = s.amp(440, 0.25, 1.25);
        QVERIFY(fundamental > 0.05);
        for (int k = 0; k < SynthEngine::drawbarCount; ++k) {
            const double rel = db(s.amp(440 * organRatios[k], 0.25, 1.25) / fundamental * defaultDrawbars[2] /
                                  defaultDrawbars[k]);
            // The ladder filter takes a little off the upper partials (not the sub and fifth).
            TMB_VERIFY(rel > (k < 2 ? -1.0 : -6.0) && rel < (k < 2 ? 1.0 : 1.5), 440 * organRatios[k], rel);
        }
        for (double hz : {110.0, 330.0, 550.0, 770.0, 990.0, 1210.0, 1540.0, 3080.0})
            TMB_VERIFY(db(s.amp(hz, 0.25, 1.25) / fundamental) < -60.0, hz);
        // 10 ms loudness swings 0.5-1.0 on each side, a quarter of the 185 ms cycle apart.
        double loudest[2] = {0, 0}, quietest[2] = {1e9, 1e9}, at[2] = {0, 0};
        for (std::size_t w = s.at(0.3); w + 480 <= s.at(0.3 + 1 / 5.4); w += 120)
            for (int side = 0; side < 2; ++side) {
                const double level = test::rms(side ? s.signal.right : s.signal.left, w, w + 480);
                if (level > loudest[side]) loudest[side] = level, at[side] = static_cast<double>(w) / 48000.0;
                quietest[side] = std::min(quietest[side], level);
            }
        for (int side = 0; side < 2; ++side)
            TMB_VERIFY(loudest[side] / quietest[side] > 1.6 && loudest[side] / quietest[side] < 2.2, side);
        const double apart = std::fabs(at[0] - at[1]), cycle = 1 / 5.4;
        TMB_VERIFY(std::fabs(apart - cycle / 4) < 0.012 || std::fabs(apart - 3 * cycle / 4) < 0.012, apart);
    }

    // Saw stacks: a centre saw with its 1/k harmonics and a sine one octave below.
    void sawModelsHaveTheirSubOctave() {
        for (int model : {0, 4, 5, 6, 8}) {
            Synth s(model);
            s.play(57, 5.0); // 220 Hz; four seconds resolve the centre saw from its neighbours 1 Hz away
            const double f1 = s.amp(220, 0.5, 4.5), sub = s.amp(110, 0.5, 4.5), second = s.amp(440, 0.5, 4.5);
            // The saw's fundamental is 2/pi of its peak: 0.45 x 0.637 against the sub's 0.35.
            TMB_VERIFY(std::fabs(db(sub / f1 / (0.35 / (0.45 * 2.0 / M_PI)))) < 1.0 &&
                           std::fabs(db(second / f1 / 0.5)) < 1.5,
                       "model", model, db(sub / f1), db(second / f1));
            // Only the sub-octave itself below the fundamental, no odd multiples of it above.
            for (double hz : {55.0, 165.0, 330.0, 550.0})
                TMB_VERIFY(db(s.amp(hz, 0.5, 4.5) / f1) < -50.0, hz);
        }
    }

    void additiveBellAndFmModelsShowTheirPartials() {
        // Additive: 2nd partial left (sharp), 3rd right (flat), scaled by the sustain level 0.12.
        Synth add(3);
        add.play(57, 4.2);
        const double level = 0.12, second = 2 * 1.0045 * 220, third = 3 * 0.9955 * 220;
        const double baseL = add.amp(220, 3.0, 4.2), baseR = add.amp(220, 3.0, 4.2, true);
        QVERIFY(baseL > 0.01);
        QVERIFY(std::fabs(db(add.amp(second, 3.0, 4.2) / baseL / (0.35 * level))) < 1.0);
        QVERIFY(std::fabs(db(add.amp(third, 3.0, 4.2, true) / baseR / (0.14 * level * level))) < 1.5);
        QVERIFY(db(add.amp(third, 3.0, 4.2) / baseL) < -70.0 &&
                db(add.amp(second, 3.0, 4.2, true) / baseR) < -70.0);
        // The bell partial at 6.2 x the fundamental is a clean line, not neighbouring harmonics.
        Synth bell(7);
        bell.play(57, 0.5, 127);
        const double line = bell.amp(6.2 * 220, 0.0, 0.25);
        TMB_VERIFY(db(line / bell.amp(220, 0.0, 0.25)) > -35.0, line);
        for (double hz : {5.0 * 220, 6.0 * 220, 7.0 * 220})
            TMB_VERIFY(db(bell.amp(hz, 0.0, 0.25) / line) < -12.0, hz);
        // FM piano: the 7x modulator adds 8x, nothing between the harmonics.
        Synth ep(1);
        ep.play(57, 4.0, 110);
        QVERIFY(db(ep.amp(8 * 220, 0.0, 0.25) / ep.amp(220, 0.0, 0.25)) > -40.0);
        for (double hz : {110.0, 330.0, 550.0})
            QVERIFY(db(ep.amp(hz, 3.0, 4.0) / ep.amp(220, 3.0, 4.0)) < -50.0);
    }

    // At every rate: concert pitch, bend within two semitones (held there beyond) and back,
    // and the same filter (the saw's 16th harmonic against its fundamental).
    void pitchBendAndToneAtEveryRate() {
        double brightness48 = 0.0;
        for (const auto& [rate, bend, tuning, semitones] :
             {std::tuple{48000.0, 8191, 440.0f, 8191.0 / 8192.0 * 2.0},
              std::tuple{44100.0, -32768, 442.0f, -2.0}, std::tuple{96000.0, -4096, 440.0f, -1.0}}) {
            Synth s(3, rate), saw(4, rate);
            s.noteOn(69, 100, tuning);
            s.run(0.3);
            s.setPitchBend(static_cast<std::int16_t>(bend));
            s.run(1.0);
            s.setPitchBend(0);
            s.run(0.8);
            const double expected = tuning * std::exp2(semitones / 12.0);
            TMB_VERIFY(std::fabs(s.pitch(300, 600, 0.35, 1.3) - expected) < 0.1 &&
                           std::fabs(s.pitch(300, 600, 1.35, 2.1) - tuning) < 0.1,
                       "bend", bend, "at", rate);
            saw.play(45, 1.0); // 110 Hz
            const double b = db(saw.amp(16 * 110, 0.2, 1.0) / saw.amp(110, 0.2, 1.0));
            if (rate == 48000.0) brightness48 = b;
            TMB_VERIFY(std::fabs(b - brightness48) < 1.0, b, "dB against", brightness48, "dB at 48 kHz");
        }
    }

    // The wheel and aftertouch deepen a 5.4 Hz vibrato; at rest the pitch is steady.
    void vibratoDepthFollowsWheelAndAftertouch() {
        // Depth as a fraction of the frequency, each way.
        for (const auto& [wheel, pressure, depth] :
             {std::tuple{0.0f, 0.0f, 0.0}, std::tuple{1.0f, 0.0f, 0.012}, std::tuple{0.0f, 1.0f, 0.008},
              std::tuple{0.5f, 0.5f, 0.010}}) {
            Synth s(2); // the organ's fundamental drawbar alone: a sine, one zero crossing a cycle
            for (int k = 0; k < SynthEngine::drawbarCount; ++k)
                s.setDrawbar(k, k == 2 ? 1.0f : 0.0f);
            s.modWheel = wheel;
            s.aftertouch = pressure;
            s.play(69, 1.5);
            const std::vector<double> f = cycleFrequencies(s.signal.left, 48000, s.at(0.3), s.at(1.5));
            QVERIFY(f.size() > 400);
            const auto [lo, hi] = std::minmax_element(f.begin(), f.end());
            const double expected = 2.0 * depth * 440.0;
            TMB_VERIFY(std::fabs(*hi - *lo - expected) < 0.1 * expected + 0.05, *hi - *lo, expected);
            // One wobble every 1/5.4 s: 1.2 s hold about 6 rises through the mean.
            const double mean = (*hi + *lo) / 2;
            int rises = 0;
            for (std::size_t i = 1; i < f.size(); ++i)
                rises += f[i - 1] < mean && f[i] >= mean;
            if (depth > 0.0) TMB_VERIFY(std::abs(rises - 6) <= 1, rises);
        }
    }

    // Under the pedal a released note sounds like a held twin; lifting releases only those.
    void sustainPedalHoldsUntilLifted() {
        Synth s(4), twin(4);
        for (Synth* x : {&s, &twin})
            x->play(60, 0.2, 90);
        s.setSustainPedal(true);
        s.noteOff(60);
        s.run(1.0);
        twin.run(1.0);
        QVERIFY(s.signal.left == twin.signal.left && s.signal.right == twin.signal.right);
        s.noteOn(60, 90, 440.0f);
        s.setSustainPedal(false);
        s.run(0.5);
        QCOMPARE(s.voicesOnNote(60), 1);
        s.setSustainPedal(true);
        s.noteOff(60);
        s.run(0.3);
        QCOMPARE(s.voicesOnNote(60), 1);
        s.setSustainPedal(false);
        QVERIFY(s.releasesIn(0.15, 0.25));
    }

    // Each model's attack and release (-60 dB) times; the bell ends by itself while held.
    void envelopeTimesOfEveryModel() {
        const struct {
            int model;
            double attack, release;
        } times[] = {{0, 0.38, 1.4},   {1, 0.003, 0.55}, {2, 0.004, 0.08}, {3, 0.004, 0.65}, {4, 0.004, 0.18},
                     {5, 0.045, 0.45}, {6, 0.28, 1.1},   {8, 0.02, 0.45},  {200, 0.02, 0.45}};
        for (const auto& t : times) {
            Synth s(t.model);
            s.noteOn(57, 100, 440.0f);
            s.run(t.attack);
            if (t.attack > 0.1)
                TMB_VERIFY(s.rms(t.attack * 0.2, t.attack * 0.3) < 0.4f * s.rms(t.attack * 0.9, t.attack),
                           t.model);
            s.run(5.0 - s.now()); // until the envelope has settled on its sustain level
            QCOMPARE(s.activeVoiceCount(), 1);
            s.noteOff(57);
            // From sustain s to the end at 0.0003 takes release x log(0.0003/s)/log(0.001).
            TMB_VERIFY(s.releasesIn(0.8 * t.release, 1.25 * t.release), "model", t.model);
            s.run(0.5);
            QVERIFY(test::peak(s.signal.left, s.at(s.now() - 0.1)) < 1e-6f);
        }
        Synth bell(7);
        bell.play(69, 0.3);
        QCOMPARE(bell.activeVoiceCount(), 1);
        bell.run(0.4);
        QCOMPARE(bell.activeVoiceCount(), 0);
        QVERIFY(test::toDb(bell.rms(0.42, 0.5) / bell.rms(0.005, 0.05)) < -34.0f);
        bell.noteOff(69); // the key was still down; letting it go changes nothing
        QCOMPARE(bell.activeVoiceCount(), 0);
    }

    // Output adds to what the buffers hold, sample for sample the same whatever the block size.
    void renderingAddsAndIgnoresTheBlockSize() {
        const auto play = [](std::uint32_t block) {
            Synth s(2, 48000, block);
            s.modWheel = 0.5f;
            for (int n : {48, 55, 64})
                s.noteOn(n, 100, 440.0f);
            s.run(1.0);
            return s.signal;
        };
        const StereoSignal small = play(37), whole = play(48000),
                           usual = play(256); // 48000: past the largest
        QVERIFY(test::peak(small.left) > 0.1f);
        QVERIFY(whole.left == small.left && usual.right == small.right);
        Synth alone;
        alone.play(60, 0.2);
        SynthEngine same, idle;
        same.noteOn(60, 100, 440.0f);
        std::vector<float> left(9600, 0.25f), right(9600, -0.5f);
        same.renderAdding(left.data(), right.data(), 9600);
        idle.renderAdding(left.data(), right.data(), 9600); // silence adds nothing
        for (std::size_t i = 0; i < left.size(); ++i)
            QVERIFY(left[i] == 0.25f + alone.signal.left[i] && right[i] == -0.5f + alone.signal.right[i]);
    }

    void hostileInputIsIgnoredOrClamped() {
        Synth s;
        for (int i : {128, -1, 500, -7}) {
            s.noteOn(i, 100, 440.0f);
            s.noteOff(i);
            s.setDrawbar(i == 500 ? SynthEngine::drawbarCount : i, 1.0f);
        }
        s.setVoiceModel(-3);
        QCOMPARE(s.activeVoiceCount(), 0);
        s.run(0.1);
        QCOMPARE(test::peak(s.signal.left), 0.0f);
        // A broken tuning plays 440 Hz; the highest notes at the lowest rate stay finite.
        s.setVoiceModel(3);
        s.noteOn(69, 300, std::nanf(""));
        s.run(1.0);
        QCOMPARE_LT(std::fabs(s.pitch(300, 600, 0.3, 1.1) - 440.0), 0.1);
        Synth low(2, 4000); // prepared as 8000 Hz
        low.setDrawbar(0, std::nanf(""));
        low.modWheel = std::nanf("");
        low.aftertouch = -5.0f;
        low.setPitchBend(8191);
        for (int n = 120; n < 128; ++n)
            low.noteOn(n, 127, 466.0f);
        low.run(0.5);
        for (float x : low.signal.left)
            QVERIFY(std::isfinite(x) && std::fabs(x) < 10.0f);
    }
};

QTEST_GUILESS_MAIN(SynthTest)
#include "tst_synth.moc"
