// Mixer strips, solo and mute, pan law, master stage, clip detection and the test
// tone, measured on blocks rendered through the engine's own callback.

#include "audio/AudioEngine.h"
#include "support/AudioAnalysis.h"
#include "support/OfflineRender.h"

#include <QTest>

#include <cmath>
#include <fcntl.h>
#include <unistd.h>

using namespace tmb;
using namespace tmb::test;

namespace {

constexpr double rate = 48000.0;

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
        ::close(m_fds[0]);
        ::close(m_fds[1]);
    }
    StereoSignal read() {
        std::vector<float> data;
        float chunk[4096];
        ssize_t got;
        while ((got = ::read(m_fds[0], chunk, sizeof(chunk))) > 0)
            data.insert(data.end(), chunk, chunk + got / static_cast<ssize_t>(sizeof(float)));
        return deinterleave(data, rate);
    }

private:
    AudioEngine& m_engine;
    int m_fds[2] = {-1, -1};
};

} // namespace

class MixerAndMasterTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        m_engine = std::make_unique<AudioEngine>();
        m_engine->prepareOffline(48000, 256);
        // These measure the strips and the master stage; the effects between them
        // (reverb tail, output lift) have their own tests.
        m_engine->effects.setEnabled(false);
    }
    void cleanup() { m_engine.reset(); }

    void panLawMasterSoloAndMute() {
        AudioEngine& engine = *m_engine;
        const StereoSignal centre = renderTone(engine);
        const float centreL = rms(centre.left), centreR = rms(centre.right);
        QVERIFY(centreL > 0.05f);
        QCOMPARE(centreL, centreR);
        // Hard right and left keep the near side at full level; half right fades the
        // far side linearly to half.
        engine.setChannelPan(MixerChannelId::Piano, 1.0f);
        const StereoSignal right = renderTone(engine);
        QCOMPARE(rms(right.left), 0.0f);
        QVERIFY(std::fabs(rms(right.right) - centreR) < 1e-4f);
        engine.setChannelPan(MixerChannelId::Piano, -1.0f);
        const StereoSignal left = renderTone(engine);
        QVERIFY(std::fabs(rms(left.left) - centreL) < 1e-4f);
        QCOMPARE(rms(left.right), 0.0f);
        engine.setChannelPan(MixerChannelId::Piano, 0.5f);
        QVERIFY(std::fabs(rms(renderTone(engine).left) / centreL - 0.5f) < 1e-3f);
        engine.setChannelPan(MixerChannelId::Piano, 0.0f);

        // Soloing the master changes nothing.
        const float before = rms(renderTone(engine).left);
        engine.setChannelSoloed(MixerChannelId::Master, true);
        QCOMPARE(rms(renderTone(engine).left), before);
        // A muted channel's meter shows what it would play.
        engine.setChannelMuted(MixerChannelId::Piano, true);
        QCOMPARE(peak(renderTone(engine).left), 0.0f);
        QVERIFY(engine.channelPeakL(MixerChannelId::Piano) > 0.1f);
    }

    void soloSilencesOtherChannelsButMetersStillMove() {
        AudioEngine& engine = *m_engine;
        engine.micEnabled.store(true);
        engine.micMonitorEnabled.store(true);
        ProgramTap tap(engine);

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
        for (std::size_t i = 0; i < 4096; i += 97) {
            QCOMPARE(speaker.left[i], toneOnly.left[i]);
            QCOMPARE(program.left[i], toneOnly.left[i]);
        }
        engine.setChannelMuted(MixerChannelId::Mic, false);

        // Soloing the mic instead silences the piano everywhere; its meter still moves.
        engine.setChannelSoloed(MixerChannelId::Mic, true);
        engine.triggerTestTone();
        renderMic(engine, 0.0f, 4096);
        QVERIFY(engine.channelPeakL(MixerChannelId::Piano) > 0.1f);
        QCOMPARE(engine.channelPeakL(MixerChannelId::Master), 0.0f);
    }

    void clipIsJudgedOnTheSpeakerSignal() {
        AudioEngine& engine = *m_engine;
        engine.micEnabled.store(true);
        engine.setChannelVolume(MixerChannelId::Mic, 1.0f);
        ProgramTap tap(engine);

        // A loud microphone with monitoring off: the recording reaches full scale,
        // the speakers stay silent and the clip light stays off.
        const StereoSignal speaker = renderMic(engine, 1.5f, 2048);
        const StereoSignal program = tap.read();
        QCOMPARE(peak(speaker.left), 0.0f);
        QCOMPARE(peak(program.left), 1.0f);
        QVERIFY(!engine.isMasterClipped());

        // Monitoring on: 0.75 x 1.32 = 0.99 on the speakers lights it, unclamped.
        engine.micMonitorEnabled.store(true);
        QVERIFY(std::fabs(renderMic(engine, 1.32f, 2048).left[100] - 0.99f) < 1e-5f);
        QVERIFY(engine.isMasterClipped());
        // It stays lit until reset.
        renderMic(engine, 0.0f, 2048);
        QVERIFY(engine.isMasterClipped());
        engine.resetClipIndicator();
        QVERIFY(!engine.isMasterClipped());

        // Just below the threshold does not light it.
        renderMic(engine, 0.97f / 0.75f, 2048);
        QVERIFY(!engine.isMasterClipped());
    }

    void outOfRangeRequestsAreClampedOrIgnored() {
        AudioEngine& engine = *m_engine;
        engine.setChannelVolume(MixerChannelId::Piano, 2.0f);
        QCOMPARE(engine.channelVolume(MixerChannelId::Piano), 1.2f);
        engine.setChannelVolume(MixerChannelId::Piano, -1.0f);
        QCOMPARE(engine.channelVolume(MixerChannelId::Piano), 0.0f);
        engine.setChannelVolume(MixerChannelId::Piano, 0.96f);
        engine.setChannelPan(MixerChannelId::Mic, 3.0f);
        QCOMPARE(engine.channelPan(MixerChannelId::Mic), 1.0f);
        const auto bogus = static_cast<MixerChannelId>(7);
        engine.setChannelVolume(bogus, 0.5f);
        engine.setChannelMuted(bogus, true);
        QCOMPARE(engine.channelVolume(bogus), 0.0f);
        QCOMPARE(engine.isChannelMuted(bogus), false);
        QCOMPARE(engine.channelPeakL(static_cast<MixerChannelId>(-1)), 0.0f);

        // Zero frames and a null buffer change nothing; 8192 frames are cut to 4096.
        renderTone(engine);
        const float meter = engine.channelPeakL(MixerChannelId::Piano);
        QVERIFY(meter > 0.0f);
        std::vector<float> buffer(2 * 8192, 7.0f);
        engine.processAudioCallback(buffer.data(), 0);
        engine.processAudioCallback(nullptr, 256);
        QCOMPARE(engine.channelPeakL(MixerChannelId::Piano), meter);
        QCOMPARE(buffer[0], 7.0f);
        engine.processAudioCallback(buffer.data(), 8192);
        QVERIFY(buffer[2 * 4096 - 1] != 7.0f); // the first 4096 frames were written
        QCOMPARE(buffer[2 * 4096], 7.0f);      // nothing beyond them

        // Rates and block sizes out of range are held at the supported ones.
        engine.prepareOffline(22050, 5000);
        QVERIFY(engine.sampleRate == 48000u && engine.blockFrames == 1024u);
        engine.prepareOffline(96000, 10);
        QVERIFY(engine.sampleRate == 96000u && engine.blockFrames == 64u);
        QCOMPARE(engine.latencyMs(), 64.0f * 1000.0f / 96000.0f);
    }

    void testToneIsATriadThatFadesOut() {
        AudioEngine& engine = *m_engine;
        engine.triggerTestTone();
        const StereoSignal out = renderBlocks(engine, 48000, 256);
        const std::size_t length = static_cast<std::size_t>(lastAbove(out.left, 1e-7f)) + 1;
        QVERIFY2(length > 43000 && length <= 43200, qPrintable(QString::number(length)));
        QCOMPARE(firstAbove(out.left, 0.0f), 1); // sin(0) is 0; sound from the second frame

        // The three notes at 0.14 x (1, 0.8, 0.7) through Piano 0.96 and Master 0.96.
        const double gain = 0.14 * 0.96 * 0.96;
        QVERIFY(std::fabs(toneAmplitude(out.left, rate, 261.63, 4800, 28800) / gain - 1.0) < 0.02);
        QVERIFY(std::fabs(toneAmplitude(out.left, rate, 329.63, 4800, 28800) / gain - 0.8) < 0.02);
        QVERIFY(std::fabs(toneAmplitude(out.left, rate, 392.00, 4800, 28800) / gain - 0.7) < 0.02);

        // Linear fade over the last 0.25 s: the level halfway through the fade is half.
        const float full = rms(out.left, 20000, 26000);
        const float middle = rms(out.left, 37200 - 1200, 37200 + 1200);
        QVERIFY2(std::fabs(middle / full - 0.5f) < 0.05f, qPrintable(QString::number(middle / full)));
    }

private:
    std::unique_ptr<AudioEngine> m_engine;
};

QTEST_GUILESS_MAIN(MixerAndMasterTest)
#include "tst_mixer_and_master.moc"
