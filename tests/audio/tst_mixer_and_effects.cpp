// The mixer, the master stage and the effects chain, measured on rendered blocks.

#include "audio/AudioEngine.h"
#include "audio/BiquadState.h"
#include "audio/DspEffectsChain.h"
#include "support/AudioAnalysis.h"
#include "support/OfflineRender.h"

#include <QTest>

#include <cmath>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <numbers>
#include <unistd.h>

using namespace tmb;
using namespace tmb::test;

namespace {

constexpr float sr = 48000.0f;
const double lift = 20.0 * std::log10(1.24); // the fixed output lift, in dB

using Setup = std::function<void(DspEffectsChain&)>;

// A fresh chain with every effect dry, then `setup`, run over `signal` in 256-frame blocks.
StereoSignal processDry(const Setup& setup, StereoSignal signal, float rate = sr, bool sustainDown = false) {
    auto chain = std::make_unique<DspEffectsChain>();
    chain->prepare(rate, 4096);
    chain->setReverb(0.0f, 0.72f, 0.35f); // chorus, delay and width start dry
    chain->setDriveAndCompressor(0.0f, 0.0f);
    if (setup) setup(*chain);
    for (std::size_t done = 0; done < signal.left.size();) {
        const auto frames = static_cast<std::uint32_t>(std::min<std::size_t>(256, signal.left.size() - done));
        chain->processStereoBlock(signal.left.data() + done, signal.right.data() + done, frames, sustainDown);
        done += frames;
    }
    return signal;
}

Setup eq(float low, float mid, float brightness, float lid) {
    return [=](DspEffectsChain& c) {
        c.setEqGains(low, mid, 0, brightness, lid);
    };
}

StereoSignal sine(double frequency, float amplitude, std::size_t frames) {
    StereoSignal s;
    for (std::size_t i = 0; i < frames; ++i)
        s.left.push_back(
            static_cast<float>(amplitude * std::sin(2.0 * std::numbers::pi * frequency * i / sr)));
    s.right = s.left;
    return s;
}

StereoSignal impulse(std::size_t frames) {
    StereoSignal s = sine(0.0, 0.0f, frames);
    s.left[0] = s.right[0] = 0.5f;
    return s;
}

// Gain in dB of a dry chain with `setup` at `frequency`, from a quiet sine after it settled.
double gainDb(const Setup& setup, double frequency) {
    const StereoSignal out = processDry(setup, sine(frequency, 0.1f, 24000));
    return 20.0 * std::log10(test::toneAmplitude(out.left, sr, frequency, 12000) / 0.1);
}

// Gain in dB of one filter section at `frequency`.
double sectionGainDb(BiquadState section, double frequency) {
    std::vector<float> out = sine(frequency, 1.0f, 24000).left;
    for (float& x : out)
        x = section.processLeft(x);
    return 20.0 * std::log10(test::toneAmplitude(out, sr, frequency, out.size() / 2));
}

// First index where two signals differ by more than `threshold`, or -1.
long long firstDifference(const std::vector<float>& a, const std::vector<float>& b, float threshold = 1e-6f) {
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        if (std::fabs(a[i] - b[i]) > threshold) return static_cast<long long>(i);
    return -1;
}

bool near(double value, double expected, double tolerance) {
    return std::fabs(value - expected) < tolerance;
}

// Renders 0.3 s of the test tone (full level part) with the engine's current mixer.
StereoSignal renderTone(AudioEngine& engine) {
    engine.triggerTestTone();
    return renderBlocks(engine, 14400, 256);
}

// Feeds the microphone ring with a constant level for `frames` and renders them.
StereoSignal renderMic(AudioEngine& engine, float level, std::size_t frames) {
    std::vector<float> samples(frames * 2, level);
    engine.writeMicSamples(samples.data(), samples.size());
    return renderBlocks(engine, frames, 256);
}

// Reads the program signal the engine writes to its broadcast descriptor.
class ProgramTap {
public:
    explicit ProgramTap(AudioEngine& engine)
        : m_engine(engine) {
        if (::pipe2(m_fds, O_NONBLOCK) == 0) {
            ::fcntl(m_fds[1], F_SETPIPE_SZ, 1 << 20);
            engine.broadcastAudioFd.store(m_fds[1]);
        }
    }
    ~ProgramTap() {
        m_engine.broadcastAudioFd.store(-1);
        for (int fd : m_fds)
            ::close(fd);
    }
    StereoSignal read() {
        std::vector<float> data;
        float chunk[4096];
        ssize_t got;
        while ((got = ::read(m_fds[0], chunk, sizeof(chunk))) > 0)
            data.insert(data.end(), chunk, chunk + got / static_cast<ssize_t>(sizeof(float)));
        return deinterleave(data, sr);
    }

private:
    AudioEngine& m_engine;
    int m_fds[2] = {-1, -1};
};

} // namespace

class MixerAndEffectsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        m_engine = std::make_unique<AudioEngine>();
        m_engine->prepareOffline(48000, 256);
        // The strips and the master stage; the effects between have their own tests.
        m_engine->effects.setEnabled(false);
    }
    void cleanup() { m_engine.reset(); }

    void panLawAndOutOfRangeRequests() {
        AudioEngine& engine = *m_engine;
        const StereoSignal centre = renderTone(engine);
        const float centreL = rms(centre.left), centreR = rms(centre.right);
        QVERIFY(centreL > 0.05f);
        QCOMPARE(centreL, centreR);
        // Hard pan keeps the near side whole and silences the far; half right halves it.
        for (const auto& [pan, left, right] :
             {std::tuple{1.0f, 0.0f, 1.0f}, {-1.0f, 1.0f, 0.0f}, {0.5f, 0.5f, 1.0f}}) {
            engine.setChannelPan(MixerChannelId::Piano, pan);
            const StereoSignal out = renderTone(engine);
            QVERIFY(std::max(std::fabs(rms(out.left) - left * centreL),
                             std::fabs(rms(out.right) - right * centreR)) < 1e-3f * centreL);
        }

        const auto bogus = static_cast<MixerChannelId>(7);
        engine.setChannelVolume(bogus, 0.5f);
        engine.setChannelMuted(bogus, true);
        QVERIFY(engine.channelVolume(bogus) == 0.0f && !engine.isChannelMuted(bogus));

        // Zero frames and a null buffer change nothing; 8192 frames are cut to 4096.
        const float meter = engine.channelPeakL(MixerChannelId::Piano);
        QVERIFY(meter > 0.0f);
        std::vector<float> buffer(2 * 8192, 7.0f);
        engine.processAudioCallback(buffer.data(), 0);
        engine.processAudioCallback(nullptr, 256);
        QCOMPARE(std::pair(engine.channelPeakL(MixerChannelId::Piano), buffer[0]), std::pair(meter, 7.0f));
        engine.processAudioCallback(buffer.data(), 8192);
        QVERIFY(buffer[2 * 4096 - 1] != 7.0f && buffer[2 * 4096] == 7.0f); // 4096 frames written, no more

        // Rates and block sizes out of range are held at the supported ones.
        engine.prepareOffline(22050, 5000);
        QVERIFY(engine.sampleRate == 48000u && engine.blockFrames == 1024u);
        engine.prepareOffline(96000, 10);
        QVERIFY(engine.sampleRate == 96000u && engine.blockFrames == 64u);
        QCOMPARE(engine.latencyMs(), 64.0f * 1000.0f / 96000.0f);
    }

    // An overfull microphone ring loses whole frames only, at any block size.
    void fullMicRingKeepsLeftAndRight() {
        for (const auto& [rate, block] : {std::pair{44100u, 64u}, {96000u, 1000u}}) {
            AudioEngine engine;
            engine.prepareOffline(rate, block);
            engine.effects.setEnabled(false);
            engine.micEnabled.store(true);
            engine.micMonitorEnabled.store(true);
            std::vector<float> samples(40000);
            for (std::size_t i = 0; i < samples.size(); ++i)
                samples[i] = i % 2 ? -0.25f : 0.5f;
            engine.writeMicSamples(samples.data(), samples.size()); // more than the ring holds
            const StereoSignal first = renderBlocks(engine, 8192, block);
            engine.writeMicSamples(samples.data(), 4001); // the lone left sample stays out
            engine.writeMicSamples(samples.data(), 4000);
            const StereoSignal second = renderBlocks(engine, 32768, block);
            std::size_t heard = 0, swapped = 0;
            for (const StereoSignal* s : {&first, &second}) {
                for (std::size_t i = 0; i < s->left.size(); ++i) {
                    heard += s->left[i] > 0.0f && s->right[i] < 0.0f ? 1 : 0;
                    swapped += s->left[i] < 0.0f || s->right[i] > 0.0f ? 1 : 0;
                }
            }
            QCOMPARE(std::pair(swapped, heard),
                     std::pair(std::size_t{0}, std::size_t{(32768 - 2) / 2 + 2000 + 2000}));
        }
    }

    void clipAndSoloOnTheSpeakerAndProgramSignals() {
        AudioEngine& engine = *m_engine;
        engine.micEnabled.store(true);
        engine.setChannelVolume(MixerChannelId::Mic, 1.0f);
        ProgramTap tap(engine);

        // Loud, unmonitored microphone: full scale recorded, speakers silent, no clip light.
        const float unmonitored = peak(renderMic(engine, 1.5f, 2048).left);
        QCOMPARE(std::tuple(unmonitored, peak(tap.read().left), engine.isMasterClipped()),
                 std::tuple(0.0f, 1.0f, false));

        // Monitoring on: 0.75 x 1.32 = 0.99 on the speakers lights it, unclamped.
        engine.micMonitorEnabled.store(true);
        QVERIFY(std::fabs(renderMic(engine, 1.32f, 2048).left[100] - 0.99f) < 1e-5f);
        QVERIFY(engine.isMasterClipped());
        renderMic(engine, 0.0f, 2048); // it stays lit until reset
        QVERIFY(engine.isMasterClipped());
        engine.resetClipIndicator();
        QVERIFY(!engine.isMasterClipped());
        renderMic(engine, 0.97f / 0.75f, 2048); // just below the threshold
        QVERIFY(!engine.isMasterClipped());

        // Solo silences the other channels on the speakers and in the program; meters still move.
        tap.read();
        engine.setChannelSoloed(MixerChannelId::Piano, true);
        engine.triggerTestTone();
        const StereoSignal speaker = renderMic(engine, 0.5f, 4096);
        const StereoSignal program = tap.read();
        QCOMPARE(program.left.size(), std::size_t{4096});
        QVERIFY(engine.channelPeakL(MixerChannelId::Mic) > 0.3f); // the meter moves
        // With the mic silenced, speaker and program both carry only the tone.
        engine.setChannelSoloed(MixerChannelId::Piano, false);
        engine.setChannelMuted(MixerChannelId::Mic, true);
        engine.triggerTestTone();
        const StereoSignal toneOnly = renderBlocks(engine, 4096, 256);
        for (std::size_t i = 0; i < 4096; i += 97)
            QCOMPARE(std::pair(speaker.left[i], program.left[i]),
                     std::pair(toneOnly.left[i], toneOnly.left[i]));
        engine.setChannelMuted(MixerChannelId::Mic, false);

        // Soloing the mic instead silences the piano everywhere; its meter still moves.
        engine.setChannelSoloed(MixerChannelId::Mic, true);
        engine.triggerTestTone();
        renderMic(engine, 0.0f, 4096);
        QVERIFY(engine.channelPeakL(MixerChannelId::Piano) > 0.1f &&
                engine.channelPeakL(MixerChannelId::Master) == 0.0f);
    }

    void testToneThroughTheStripsAndTheChain() {
        AudioEngine& engine = *m_engine;
        engine.triggerTestTone();
        const StereoSignal out = renderBlocks(engine, 48000, 256);
        const std::size_t length = static_cast<std::size_t>(lastAbove(out.left, 1e-7f)) + 1;
        QVERIFY2(length > 43000 && length <= 43200, qPrintable(QString::number(length)));
        QCOMPARE(firstAbove(out.left, 0.0f), 1); // sin(0) is 0; sound from the second frame

        // The three notes at 0.14 x (1, 0.8, 0.7) through Piano 0.96 and Master 0.96.
        for (const auto& [hz, level] : {std::pair{261.63, 1.0}, {329.63, 0.8}, {392.0, 0.7}})
            QVERIFY(std::fabs(toneAmplitude(out.left, sr, hz, 4800, 28800) / (0.14 * 0.96 * 0.96) - level) <
                    0.02);

        // Linear fade over the last 0.25 s: the level halfway through the fade is half.
        const float full = rms(out.left, 20000, 26000), middle = rms(out.left, 36000, 38400);
        QVERIFY2(std::fabs(middle / full - 0.5f) < 0.05f, qPrintable(QString::number(middle / full)));

        // The chain sits between strips and master and lifts by 1.24; a pushed record arrives at
        // a block start.
        engine.effects.setEnabled(true);
        engine.updatePianoParameters({.reverbAmount = 0.0f, .compressorAmount = 0.0f});
        engine.triggerTestTone();
        const double withChain = toneAmplitude(renderBlocks(engine, 14400, 256).left, sr, 261.63, 2400);
        QVERIFY(std::fabs(withChain / toneAmplitude(out.left, sr, 261.63, 2400, 14400) - 1.24) < 0.01);

        // Width 0 makes the tone, panned half right, mono; an echo 0.1 s behind it, whose first
        // 4800 frames are dry.
        engine.setChannelPan(MixerChannelId::Piano, 0.5f);
        engine.updatePianoParameters({.reverbAmount = 0.0f,
                                      .delayAmount = 1.0f,
                                      .delayTime = 0.1f,
                                      .compressorAmount = 0.0f,
                                      .stereoWidth = 0.0f});
        engine.triggerTestTone();
        const StereoSignal echo = renderBlocks(engine, 9600, 256);
        QCOMPARE(firstDifference(echo.left, echo.right, 0.0f), -1LL);
        QVERIFY(rms(echo.left, 7200, 9600) > 1.2f * rms(echo.left, 2400, 4800));
    }

    void filterSectionsMeetTheirDesignPoints() {
        // Shelves: half gain at the corner; a peak: its gain at the centre; low-pass -3 dB; a
        // low-pass at 10 Hz is held at the section's lowest frequency (200 Hz).
        BiquadState s[5];
        s[0].setLowShelf(sr, 200.0f, 6.0f);
        s[1].setPeaking(sr, 1000.0f, 0.9f, -9.0f);
        s[2].setHighShelf(sr, 4200.0f, -4.5f);
        s[3].setLowPass(sr, 2000.0f, 0.70711f);
        s[4].setLowPass(sr, 10.0f, 0.70711f);
        const double rows[][4] = {{0, 200, 3.0, 0.1},    {0, 25, 6.0, 0.2},     {0, 5000, 0.0, 0.1},
                                  {1, 1000, -9.0, 0.1},  {1, 80, 0.0, 0.3},     {2, 4200, -2.25, 0.1},
                                  {2, 16000, -4.5, 0.1}, {3, 2000, -3.01, 0.1}, {3, 8000, -520, 500},
                                  {4, 200, -3.01, 0.1}}; // {section, Hz, dB, tolerance}
        for (const auto& r : rows)
            QVERIFY2(near(sectionGainDb(s[int(r[0])], r[1]), r[2], r[3]), qPrintable(QString::number(r[1])));
    }

    void toneCurveBrightnessAndLid() {
        // {low, mid, brightness, lid, Hz, dB above the output lift, tolerance}; brightness -1: the
        // default curve, flat in the middle and rolling off above 11.2 kHz. Brightness 1, lid 1:
        // the high shelf at +4.5 dB, the low-pass out at 19.3 kHz; brightness 0, lid 0: the shelf
        // at -4.5 dB, the low-pass about 3 dB down at 1880 Hz. Explicit gains clamp at +-15 dB.
        const float rows[][7] = {{0, 0, -1, 0, 300, 0, 0.02f},     {0, 0, -1, 0, 16000, -1008, 1000},
                                 {0, 0, 1, 1, 12000, 4.5f, 0.3f},  {0, 0, 0, 0, 100, 0, 0.05f},
                                 {0, 0, 0, 0, 1880, -3.18f, 0.3f}, {0, 0, 0, 0, 12000, -1030, 1000},
                                 {40, 0, 0.5f, 1, 25, 15, 0.5f},   {0, -6, 0.5f, 1, 1100, -6, 0.3f}};
        for (const auto& r : rows)
            QVERIFY2(near(gainDb(r[2] < 0 ? Setup{} : eq(r[0], r[1], r[2], r[3]), r[4]), lift + r[5], r[6]),
                     qPrintable(QString::number(r[4])));
        // Each step of brightness opens the top; the bass stays where it is; the lid darkens.
        double previous = -1000.0;
        for (float b : {0.0f, 0.25f, 0.5f, 0.75f, 1.0f}) {
            const double treble = gainDb(eq(0, 0, b, 1.0f), 8000.0);
            QVERIFY(treble > previous + 1.0 && near(gainDb(eq(0, 0, b, 1.0f), 100.0), lift, 0.05));
            previous = treble;
        }
        QVERIFY(gainDb(eq(0, 0, 0.55f, 0.1f), 8000.0) < gainDb(eq(0, 0, 0.55f, 1.0f), 8000.0) - 6.0);
    }

    void delayTapsSitExactlyTheDelayTimeBack() {
        // 0.01 s is below the shortest delay and is held at 0.04 s.
        for (const auto& [rate, seconds, taps] : {std::tuple{48000.0f, 0.01f, 1920LL},
                                                  {48000.0f, 0.35f, 16800LL},
                                                  {44100.0f, 0.25f, 11025LL},
                                                  {96000.0f, 5.0f, 172800LL}}) {
            const StereoSignal input = impulse(static_cast<std::size_t>(taps) + 4000),
                               a = processDry({}, input, rate);
            const StereoSignal b =
                processDry([&](DspEffectsChain& e) { e.setDelay(0.8f, seconds, 0.0f); }, input, rate);
            QCOMPARE(std::pair(firstDifference(a.left, b.left), firstDifference(a.right, b.right)),
                     std::pair(taps, taps));
        }
    }

    void reverbLeavesATailThatGrowsWithTheRoom() {
        StereoSignal burst = sine(440.0, 0.3f, 4 * 48000);
        std::fill(burst.left.begin() + 4800, burst.left.end(), 0.0f);
        burst.right = burst.left;
        const auto reverb = [&](float roomSize, float amount, bool sustain = false, float resonance = 0.0f) {
            return processDry([=](DspEffectsChain& e) { e.setReverb(amount, roomSize, resonance); }, burst,
                              sr, sustain);
        };
        const StereoSignal small = reverb(0.2f, 0.5f);
        const long long none = test::lastAbove(reverb(0.72f, 0.0f).left, 1e-4f);
        const long long smallEnd = test::lastAbove(small.left, 1e-4f);
        const long long largeEnd = test::lastAbove(reverb(0.95f, 0.5f).left, 1e-4f);
        // Dry, the sound stops with the burst (only the filters ring briefly).
        QVERIFY2(none < 4800 + 480 && smallEnd > 4800 + 4800 && largeEnd > smallEnd + 24000,
                 qPrintable(QStringLiteral("%1 %2 %3").arg(none).arg(smallEnd).arg(largeEnd)));
        // A tail, and different comb lengths per side for the same mono input.
        QVERIFY(test::rms(small.left, 9600, 14400) > 1e-3f && firstDifference(small.left, small.right) >= 0);

        // The held damper pedal adds 0.14 x resonance to the mix: 0.28 -> 0.42.
        const float plain = test::rms(reverb(0.72f, 0.28f, false, 1.0f).left, 9600, 14400),
                    pedalled = test::rms(reverb(0.72f, 0.28f, true, 1.0f).left, 9600, 14400);
        QVERIFY2(std::fabs(pedalled / plain - 1.5f) < 0.01f, qPrintable(QString::number(pedalled / plain)));
    }

    void widthWidensAndIsHeldInRange() {
        StereoSignal input = sine(330.0, 0.2f, 24000);
        input.right = sine(550.0, 0.2f, 24000).left; // different sides
        const auto sideRms = [](StereoSignal s) {
            for (std::size_t i = 0; i < s.left.size(); ++i)
                s.left[i] -= s.right[i];
            return test::rms(s.left, 12000);
        };
        const auto width = [&](float w) {
            return processDry([=](DspEffectsChain& e) { e.setStereoWidth(w); }, input);
        };
        const StereoSignal n = width(1.0f), w = width(1.8f);
        QVERIFY(std::fabs(sideRms(w) / sideRms(n) - 1.8f) < 0.01f);
        QCOMPARE(firstDifference(width(1.005f).left, n.left, 0.0f), -1LL); // 1.005 counts as 1
        // Widths beyond the range are held at 1.8.
        QCOMPARE(firstDifference(width(7.0f).left, w.left, 0.0f), -1LL);
    }

    void chorusDriveAndCompressor() {
        // Chorus: the dry part scaled by 1 - 0.35 at once; copies about 12 and 17 ms late.
        const StereoSignal a = processDry({}, impulse(4800));
        const StereoSignal b = processDry([](DspEffectsChain& e) { e.setChorus(1.0f); }, impulse(4800));
        QVERIFY(std::fabs(b.left[0] / a.left[0] - 0.65f) < 1e-3f);
        const auto wetFrom = [](std::vector<float> chorus, const std::vector<float>& dry) {
            for (std::size_t i = 0; i < chorus.size(); ++i)
                chorus[i] -= 0.65f * dry[i];
            return test::firstAbove(chorus, 1e-4f);
        };
        const long long left = wetFrom(b.left, a.left), right = wetFrom(b.right, a.right);
        QVERIFY2(left >= 576 && left <= 600 && right >= 800 && right <= 816,
                 qPrintable(QStringLiteral("%1 %2").arg(left).arg(right)));

        // Drive adds odd harmonics.
        const auto thirdHarmonic = [](float drive) {
            const StereoSignal out = processDry(
                [=](DspEffectsChain& e) { e.setDriveAndCompressor(drive, 0.0f); }, sine(500.0, 0.3f, 24000));
            return test::toneAmplitude(out.left, sr, 1500.0, 12000);
        };
        QVERIFY(thirdHarmonic(0.0f) < 1e-4 && thirdHarmonic(1.0f) > 0.02);

        // A burst holds back the quieter passage after it; a quiet signal passes unchanged.
        const auto passageRms = [](float compressor, bool burst) {
            StereoSignal input = sine(200.0, 0.3f, 24000);
            for (std::size_t i = 0; burst && i < 4800; ++i) {
                input.left[i] *= 10.0f;
                input.right[i] *= 10.0f;
            }
            const StereoSignal out =
                processDry([=](DspEffectsChain& e) { e.setDriveAndCompressor(0.0f, compressor); }, input);
            return test::rms(out.left, 5280, 7680);
        };
        QVERIFY(passageRms(1.0f, true) < 0.7f * passageRms(0.0f, true));
        QCOMPARE(passageRms(1.0f, false), passageRms(0.0f, false));
    }

    void softClipIsMonotonicAndBelowFullScale() {
        // Identical up to the knee (0.96), continuous there, then monotonic, odd and below 1.0.
        float previous = -1.0f;
        for (float x = -0.96f; x < 200.0f; x += 0.0005f) {
            const float y = DspEffectsChain::softClip(x);
            QVERIFY2(x > 0.96f ? y >= previous && y - previous < 1e-3f && y < 1.0f : y == x,
                     qPrintable(QString::number(x)));
            QCOMPARE(DspEffectsChain::softClip(-x), -y);
            previous = y;
        }
        QVERIFY(DspEffectsChain::softClip(INFINITY) < 1.0f && DspEffectsChain::softClip(1.5f) > 0.99f);
    }

private:
    std::unique_ptr<AudioEngine> m_engine;
};

QTEST_GUILESS_MAIN(MixerAndEffectsTest)
#include "tst_mixer_and_effects.moc"
