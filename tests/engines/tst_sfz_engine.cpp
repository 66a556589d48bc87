// What the SFZ piano plays: pitch by resampling, levels of the gain rules, the two
// sample paths, velocity layers, layering and round-robin, release samples, the
// three pedals, re-strikes, voice stealing, resonance, and a render through the
// audio engine's own block callback. Instruments are written by each test.

#include "audio/AudioEngine.h"
#include "engines/SfzPianoEngine.h"
#include "support/AudioAnalysis.h"
#include "support/OfflineRender.h"
#include "support/SfzFixtures.h"

#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <memory>

using namespace tmb;
using namespace tmb::test;

namespace {

constexpr double rate = 48000.0;

std::size_t at(double seconds) {
    return static_cast<std::size_t>(seconds * rate);
}

// Appends `seconds` of the engine's output to `signal` (a fresh signal by default).
void renderInto(SfzPianoEngine& engine, double seconds, StereoSignal& signal) {
    const std::size_t frames = at(seconds);
    const std::size_t start = signal.left.size();
    signal.left.resize(start + frames, 0.0f);
    signal.right.resize(start + frames, 0.0f);
    for (std::size_t done = 0; done < frames; done += 256) {
        const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(256, frames - done));
        engine.renderStereo(signal.left.data() + start + done, signal.right.data() + start + done, n);
    }
}

StereoSignal render(SfzPianoEngine& engine, double seconds) {
    StereoSignal signal;
    renderInto(engine, seconds, signal);
    return signal;
}

double amplitudeDb(const std::vector<float>& s, double hz, double from, double to) {
    return 20.0 * std::log10(std::max(toneAmplitude(s, rate, hz, at(from), at(to)), 1e-12));
}

// Per-sample factor for -60 dB over `seconds`, as the engine's envelopes use it.
double sixtyDb(double seconds) {
    return std::pow(0.001, 1.0 / (seconds * rate));
}

} // namespace

class SfzEngineTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_instruments = 0;

    // Writes a sine (or noise, frequency 0) sample and returns its file name.
    QString sample(const QString& name, double hz, double seconds = 2.0, double amplitude = 0.5,
                   WavEncoding encoding = WavEncoding::Pcm16, int sampleRate = 48000) {
        TestTone tone;
        tone.frequency = hz;
        tone.seconds = seconds;
        tone.amplitude = amplitude;
        tone.encoding = encoding;
        tone.sampleRate = sampleRate;
        if (!QFileInfo::exists(m_dir.filePath(name)) && !writeTestWav(m_dir.filePath(name), tone))
            qFatal("cannot write %s", qPrintable(name));
        return name;
    }

    // Writes the SFZ text as a new instrument file and loads it into a fresh engine.
    std::unique_ptr<SfzPianoEngine> engineWith(const QByteArray& sfz) {
        const QString path = m_dir.filePath(QStringLiteral("instrument%1.sfz").arg(++m_instruments));
        auto engine = std::make_unique<SfzPianoEngine>();
        QString error;
        if (!writeTestFile(path, sfz) || !engine->loadSfzFile(path, &error))
            qFatal("cannot load instrument: %s", qPrintable(error));
        return engine;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        sample(u"c4.wav"_qs, 261.63);
        sample(u"a110.wav"_qs, 110.0);
        sample(u"long110.wav"_qs, 110.0, 20.0);
        sample(u"a220.wav"_qs, 220.0, 5.0);
        sample(u"a330.wav"_qs, 330.0, 5.0);
        sample(u"a440.wav"_qs, 440.0);
        sample(u"r880.wav"_qs, 880.0, 1.0);
        sample(u"p1320.wav"_qs, 1320.0, 1.0);
        sample(u"p1760.wav"_qs, 1760.0, 1.0);
        sample(u"k1000.wav"_qs, 1000.0, 5.0);
        sample(u"short.wav"_qs, 220.0, 0.05);
    }

    void pitchFollowsKeyByResampling() {
        auto engine = engineWith("<region> sample=c4.wav pitch_keycenter=60");
        engine->noteOn(67, 100, 440.0f);
        const StereoSignal fifth = render(*engine, 0.5);
        QVERIFY(std::fabs(dominantFrequency(fifth.left, rate, 100, 2000, at(0.05)) / 392.0 - 1.0) < 0.005);

        // Concert pitch, pitch bend (new notes only) and the file's own rate.
        engine->allNotesOff();
        render(*engine, 0.1);
        engine->noteOn(60, 100, 466.0f);
        const StereoSignal sharp = render(*engine, 0.5);
        QVERIFY(std::fabs(dominantFrequency(sharp.left, rate, 100, 2000, at(0.05)) / (261.63 * 466 / 440) -
                          1) < 0.005);

        engine->allNotesOff();
        render(*engine, 0.1);
        engine->noteOn(60, 100, 440.0f);
        engine->setPitchBend(8191);
        engine->noteOn(72, 100, 440.0f);
        const StereoSignal bent = render(*engine, 0.5);
        QVERIFY(amplitudeDb(bent.left, 261.63, 0.05, 0.5) > -20.0); // sounding note unchanged
        QVERIFY(amplitudeDb(bent.left, 523.25 * std::exp2(1.99976 / 12), 0.05, 0.5) > -20.0);
        QVERIFY(amplitudeDb(bent.left, 523.25, 0.05, 0.5) < -50.0);

        sample(u"c4_441.wav"_qs, 261.63, 2.0, 0.5, WavEncoding::Pcm16, 44100);
        auto other = engineWith("<region> sample=c4_441.wav pitch_keycenter=60 tune=-100");
        other->noteOn(61, 100, 440.0f);
        const StereoSignal resampled = render(*other, 0.5);
        QVERIFY(std::fabs(dominantFrequency(resampled.left, rate, 100, 2000, at(0.05)) / 261.63 - 1) < 0.005);
    }

    void mappedAndDecodedSamplesPlayAlike() {
        // A sine and white noise, each as 16-bit (played in place), 24-bit and float
        // (decoded): the same level within 0.1 dB.
        for (const double hz : {220.0, 0.0}) {
            const QString stem = hz > 0 ? u"sine"_qs : u"noise"_qs;
            const QString names[3] = {sample(stem + u"16.wav"_qs, hz, 1.0, 0.3, WavEncoding::Pcm16),
                                      sample(stem + u"24.wav"_qs, hz, 1.0, 0.3, WavEncoding::Pcm24),
                                      sample(stem + u"f.wav"_qs, hz, 1.0, 0.3, WavEncoding::Float32)};
            double levels[3] = {};
            for (int i = 0; i < 3; ++i) {
                auto engine = engineWith("<region> sample=" + names[i].toUtf8() + " pitch_keycenter=57");
                engine->noteOn(57, 90, 440.0f);
                const StereoSignal out = render(*engine, 0.6);
                levels[i] = toDb(rms(out.left, at(0.05), at(0.6)));
                QVERIFY(levels[i] > -30.0);
            }
            for (int i = 1; i < 3; ++i)
                QVERIFY2(std::fabs(levels[0] - levels[i]) < 0.1,
                         qPrintable(stem + QStringLiteral(": %1 dB").arg(levels[0] - levels[i])));
        }
    }

    void levelsFollowVelocityKeyAndPanRules() {
        // 0.5 amplitude sines at 110 Hz, where the tone filter is transparent.
        auto engine =
            engineWith("<region> sample=a110.wav lokey=0 hikey=127 pitch_keytrack=0\n"
                       "<region> sample=a110.wav lokey=0 hikey=127 pitch_keytrack=0 lovel=64 hivel=80 "
                       "volume=-6 amp_veltrack=100");
        engine->stringResonance = 0.0f;
        // Expected left amplitude of one note at the centre of a window [0.05, 0.15] s.
        const auto expected = [](double gain, int note, double pan) {
            const double hold = std::clamp(22.0 * std::pow(0.5, (note - 21) / 24.0), 3.0, 24.0);
            return 20 * std::log10(0.5 * gain * 3.45 * pan * std::pow(sixtyDb(hold), at(0.1)));
        };
        struct Case {
            int note, velocity;
            double velocityGain, keyScale;
        };
        // Velocity 127: wide layer only. 72: both layers (narrow: q = 0.5, t = 1).
        const double narrow =
            std::pow(10.0, -6 / 20.0) * (0.84 + 0.16 * 0.5) * (1 - 0.42 + 0.42 * std::pow(72 / 127.0, 0.52));
        const double wide72 = 0.27 + 0.73 * std::pow(72 / 127.0, 0.68);
        const Case cases[] = {{60, 127, 1.0, 1.22},
                              {60, 72, wide72 + narrow, 1.22},
                              {30, 127, 1.0, 1.22 + 0.16 * 18 / 27.0},
                              {100, 127, 1.0, 1.22 + 0.22 * 28 / 36.0}};
        for (const Case& c : cases) {
            engine->allNotesOff();
            render(*engine, 0.1);
            engine->noteOn(c.note, c.velocity, 440.0f);
            const StereoSignal out = render(*engine, 0.15);
            const double p = std::clamp((c.note - 60) / 58.0, -0.38, 0.38);
            const double left =
                expected(c.velocityGain * c.keyScale, c.note, std::min(std::sqrt(1 - p), 1.15));
            const double right =
                expected(c.velocityGain * c.keyScale, c.note, std::min(std::sqrt(1 + p), 1.15));
            QVERIFY2(std::fabs(amplitudeDb(out.left, 110, 0.05, 0.15) - left) < 0.15,
                     qPrintable(QStringLiteral("note %1 velocity %2: %3 dB, expected %4")
                                    .arg(c.note)
                                    .arg(c.velocity)
                                    .arg(amplitudeDb(out.left, 110, 0.05, 0.15))
                                    .arg(left)));
            QVERIFY(std::fabs(amplitudeDb(out.right, 110, 0.05, 0.15) - right) < 0.15);
        }
        // The soft pedal: velocity 127 plays as 99, then 0.8 times the gain.
        engine->allNotesOff();
        render(*engine, 0.1);
        engine->softPedal = true;
        engine->noteOn(60, 127, 440.0f);
        const StereoSignal soft = render(*engine, 0.15);
        const double softGain = 0.8 * (0.27 + 0.73 * std::pow(99 / 127.0, 0.68));
        QVERIFY(std::fabs(amplitudeDb(soft.left, 110, 0.05, 0.15) - expected(softGain * 1.22, 60, 1.0)) <
                0.15);
    }

    void velocityLayersSelectTheirSample() {
        auto engine = engineWith("<group> pitch_keycenter=60\n"
                                 "<region> sample=a220.wav lovel=1 hivel=42\n"
                                 "<region> sample=a330.wav lovel=43 hivel=84\n"
                                 "<region> sample=a440.wav lovel=85 hivel=127\n");
        const double layers[] = {220, 330, 440};
        const int velocities[] = {30, 60, 100};
        for (int i = 0; i < 3; ++i) {
            engine->allNotesOff();
            render(*engine, 0.1);
            engine->noteOn(60, velocities[i], 440.0f);
            const StereoSignal out = render(*engine, 0.3);
            QCOMPARE(engine->activeVoiceCount(), 1);
            for (int j = 0; j < 3; ++j) {
                const double db = amplitudeDb(out.left, layers[j], 0.05, 0.3);
                QVERIFY2(i == j ? db > -20 : db < -60,
                         qPrintable(QStringLiteral("velocity %1, layer %2: %3 dB")
                                        .arg(velocities[i])
                                        .arg(layers[j])
                                        .arg(db)));
            }
        }
    }

    void layersSoundTogetherAndRandomWindowsAlternate() {
        auto layered = engineWith("<region> sample=a220.wav pitch_keycenter=60\n"
                                  "<region> sample=a330.wav pitch_keycenter=60\n");
        layered->noteOn(60, 100, 440.0f);
        const StereoSignal both = render(*layered, 0.3);
        QCOMPARE(layered->activeVoiceCount(), 2);
        QVERIFY(amplitudeDb(both.left, 220, 0.05, 0.3) > -20);
        QVERIFY(amplitudeDb(both.left, 330, 0.05, 0.3) > -20);

        auto robin = engineWith("<region> sample=a220.wav pitch_keycenter=60 lorand=0 hirand=0.5\n"
                                "<region> sample=a330.wav pitch_keycenter=60 lorand=0.5 hirand=1\n");
        int first = 0, second = 0;
        for (int i = 0; i < 40; ++i) {
            robin->noteOn(60, 100, 440.0f);
            const StereoSignal out = render(*robin, 0.1);
            QCOMPARE(robin->activeVoiceCount(), 1);
            const bool low = amplitudeDb(out.left, 220, 0.02, 0.1) > -20;
            const bool high = amplitudeDb(out.left, 330, 0.02, 0.1) > -20;
            QVERIFY(low != high);
            (low ? first : second)++;
            robin->allNotesOff();
            render(*robin, 0.05);
        }
        QVERIFY2(first >= 8 && second >= 8, qPrintable(QStringLiteral("%1 / %2").arg(first).arg(second)));
    }

    void releaseSampleLevelFollowsHoldTime() {
        const QByteArray sfz = "<region> sample=long110.wav pitch_keycenter=60\n"
                               "<region> sample=r880.wav pitch_keycenter=60 trigger=release rt_decay=6\n"
                               "<region> sample=r880.wav pitch_keycenter=60 trigger=release rt_decay=1 "
                               "lokey=62 hikey=62\n";
        // Level of the 880 Hz release sample just after holding `note` for `seconds`.
        auto releaseAfter = [&](double seconds, int note = 60) {
            auto engine = engineWith(sfz);
            engine->noteOn(note, 100, 440.0f);
            render(*engine, seconds);
            engine->noteOff(note, 0.5f);
            const StereoSignal out = render(*engine, 0.2);
            return amplitudeDb(out.left, 880.0 * (note == 62 ? std::exp2(2 / 12.0) : 1.0), 0.02, 0.2);
        };
        const double oneSecond = releaseAfter(1.0);
        const double tenSeconds = releaseAfter(10.0);
        QVERIFY(oneSecond > -30);
        QVERIFY2(std::fabs((oneSecond - tenSeconds) - 54.0) < 0.5,
                 qPrintable(QString::number(oneSecond - tenSeconds)));
        // Below -68 dB it is not played; past 15 s none is considered at all.
        QVERIFY(releaseAfter(12.0) < tenSeconds - 30);
        QVERIFY(releaseAfter(14.0, 62) > oneSecond - 20);
        QVERIFY(releaseAfter(16.0, 62) < oneSecond - 80);

        // Unpitched release noise (no key tracking) fades at a quarter of the rate
        // and plays louder: 9.5 instead of 1.65.
        auto engine =
            engineWith("<region> sample=long110.wav pitch_keycenter=60\n"
                       "<region> sample=r880.wav pitch_keycenter=60 trigger=release pitch_keytrack=0");
        engine->noteOn(60, 100, 440.0f);
        render(*engine, 8.0);
        engine->noteOff(60, 0.5f);
        const StereoSignal noise = render(*engine, 0.2);
        const double unpitched = amplitudeDb(noise.left, 880, 0.02, 0.2);
        const double pitchedAtEight = oneSecond - 42.0;
        QVERIFY2(std::fabs(unpitched - pitchedAtEight - (20 * std::log10(9.5 / 1.65) + 36.0)) < 0.5,
                 qPrintable(QString::number(unpitched - pitchedAtEight)));
    }

    void sustainPedalHoldsAndReleasesSilently() {
        auto engine = engineWith("<region> sample=a220.wav pitch_keycenter=60\n"
                                 "<region> sample=r880.wav pitch_keycenter=60 trigger=release\n"
                                 "<region> sample=p1320.wav on_locc64=100 on_hicc64=127\n"
                                 "<region> sample=p1760.wav on_locc64=0 on_hicc64=10\n");
        engine->noteOn(60, 100, 440.0f);
        StereoSignal out;
        renderInto(*engine, 0.1, out);
        // Controller value 64 looks for the window holding 126.
        engine->setSustainPedal(true, 64, 0.5f);
        engine->setSustainPedal(true, 127, 0.5f); // repeated press: nothing new
        engine->noteOff(60, 0.5f);
        renderInto(*engine, 0.6, out);
        QCOMPARE(engine->activeVoiceCount(), 2); // the string and the pedal-down noise
        QVERIFY(amplitudeDb(out.left, 1320, 0.1, 0.3) > -30);
        QVERIFY(amplitudeDb(out.left, 880, 0.1, 0.7) < -80); // no release sample under the pedal
        // Only the slow hold decay of key 60 (-60 dB in 7.13 s) over 0.4 s.
        const double held = amplitudeDb(out.left, 220, 0.5, 0.7) - amplitudeDb(out.left, 220, 0.1, 0.3);
        QVERIFY2(std::fabs(held + 3.365) < 0.3, qPrintable(QString::number(held)));

        engine->setSustainPedal(false, 0, 0.5f);
        renderInto(*engine, 0.01, out);
        // The released string and the two noises: lifting never plays release samples.
        QCOMPARE(engine->activeVoiceCount(), 3);
        renderInto(*engine, 1.0, out);
        QVERIFY(amplitudeDb(out.left, 1760, 0.71, 0.9) > -30);
        QVERIFY(amplitudeDb(out.left, 220, 1.4, 1.7) < -70); // the string has been released

        // No pedal noise without a volume.
        auto quiet = engineWith("<region> sample=p1320.wav on_locc64=100 on_hicc64=127");
        quiet->setSustainPedal(true, 127, 0.0f);
        render(*quiet, 0.05);
        QCOMPARE(quiet->activeVoiceCount(), 0);
    }

    void sostenutoHoldsOnlyTheKeysDownWhenPressed() {
        const QByteArray sfz = "<region> sample=a220.wav key=60\n<region> sample=a330.wav key=64\n";
        auto engine = engineWith(sfz);
        engine->noteOn(60, 100, 440.0f);
        engine->setSostenutoPedal(true);
        engine->noteOn(64, 100, 440.0f);
        engine->noteOff(60, 0.5f);
        engine->noteOff(64, 0.5f);
        StereoSignal out = render(*engine, 1.0);
        QVERIFY(amplitudeDb(out.left, 220, 0.8, 1.0) > -20);
        QVERIFY(amplitudeDb(out.left, 330, 0.8, 1.0) < -70);
        engine->setSostenutoPedal(false);
        out = render(*engine, 1.0);
        QVERIFY(amplitudeDb(out.left, 220, 0.8, 1.0) < -70);
        QCOMPARE(engine->activeVoiceCount(), 0);

        // Lifting sostenuto while the sustain pedal is down hands the string to the
        // sustain pedal; lifting that then releases it (it must not ring on).
        engine->noteOn(60, 100, 440.0f);
        engine->setSostenutoPedal(true);
        engine->noteOff(60, 0.5f);
        engine->setSustainPedal(true, 127, 0.0f);
        engine->setSostenutoPedal(false);
        out = render(*engine, 1.0);
        QVERIFY(amplitudeDb(out.left, 220, 0.8, 1.0) > -20);
        engine->setSustainPedal(false, 0, 0.0f);
        render(*engine, 1.0);
        QCOMPARE(engine->activeVoiceCount(), 0);
    }

    void reStrikeDampsTheReleasedString() {
        auto engine = engineWith("<region> sample=a220.wav pitch_keycenter=60 ampeg_release=2");
        engine->noteOn(60, 100, 440.0f);
        render(*engine, 0.1);
        engine->noteOff(60, 0.5f);
        render(*engine, 0.01);
        QCOMPARE(engine->activeVoiceCount(), 1); // the released string rings on (0.9 s release)
        engine->noteOn(60, 100, 440.0f);
        render(*engine, 0.03);
        QCOMPARE(engine->activeVoiceCount(), 1); // the old one died within milliseconds
    }

    void the129thNoteStealsAVoice() {
        // Key 20 plays 1000 Hz; every other key plays 110 Hz.
        const QByteArray sfz = "<region> sample=k1000.wav key=20 pitch_keytrack=0\n"
                               "<region> sample=long110.wav lokey=0 hikey=19 pitch_keytrack=0\n"
                               "<region> sample=long110.wav lokey=21 hikey=127 pitch_keytrack=0\n";
        auto fill = [&](SfzPianoEngine& engine) {
            engine.noteOn(20, 100, 440.0f);
            for (int note = 0; note < 128; ++note)
                if (note != 20) engine.noteOn(note, 100, 440.0f);
        };
        // The 110 Hz crowd leaks a little into the 1000 Hz measure; the key-20 voice
        // stands 50 dB above that.
        double present = 0.0;
        {
            // All 128 held: the oldest (key 20) goes.
            auto engine = engineWith(sfz);
            engine->stringResonance = 0.0f;
            fill(*engine);
            StereoSignal out = render(*engine, 0.1);
            QCOMPARE(engine->activeVoiceCount(), 128);
            present = amplitudeDb(out.left, 1000, 0.02, 0.1);
            QVERIFY(present > -20);
            engine->noteOn(50, 100, 440.0f);
            out = render(*engine, 0.1);
            QCOMPARE(engine->activeVoiceCount(), 128);
            QVERIFY(amplitudeDb(out.left, 1000, 0.02, 0.1) < present - 50);
        }
        {
            // A released voice goes before any held one: the quietest released one.
            auto engine = engineWith(sfz);
            engine->stringResonance = 0.0f;
            fill(*engine);
            engine->noteOff(90, 0.5f);
            render(*engine, 0.05);
            engine->noteOff(20, 0.5f); // released later, so louder than key 90
            engine->noteOn(50, 100, 440.0f);
            StereoSignal out = render(*engine, 0.1);
            QVERIFY(amplitudeDb(out.left, 1000, 0.0, 0.05) > -30);
            engine->noteOn(51, 100, 440.0f); // now key 20 is the only released voice
            out = render(*engine, 0.1);
            QVERIFY(amplitudeDb(out.left, 1000, 0.02, 0.1) < present - 50);
            QCOMPARE(engine->activeVoiceCount(), 128);
        }
    }

    void allNotesOffAndSampleEndsSilenceVoices() {
        auto engine = engineWith("<region> sample=a220.wav pitch_keycenter=60 hikey=71\n"
                                 "<region> sample=short.wav key=72\n");
        engine->setSustainPedal(true, 127, 0.0f);
        engine->noteOn(60, 100, 440.0f);
        engine->noteOn(72, 100, 440.0f);
        render(*engine, 0.02);
        QCOMPARE(engine->activeVoiceCount(), 2);
        render(*engine, 0.1);
        QCOMPARE(engine->activeVoiceCount(), 1); // the 50 ms sample has run out
        engine->allNotesOff();
        render(*engine, 0.025); // about 18 ms to the end level
        QCOMPARE(engine->activeVoiceCount(), 0);
        // The sustain pedal is up again afterwards.
        engine->noteOn(60, 100, 440.0f);
        engine->noteOff(60, 0.5f);
        render(*engine, 0.6);
        QCOMPARE(engine->activeVoiceCount(), 0);
    }

    void stringsResonateWhileThePedalIsDown() {
        auto tailAfterShortNote = [&](float resonance) {
            auto engine = engineWith("<region> sample=short.wav pitch_keycenter=60");
            engine->stringResonance = resonance;
            engine->setSustainPedal(true, 127, 0.0f);
            engine->noteOn(60, 127, 440.0f);
            const StereoSignal out = render(*engine, 0.3);
            return rms(out.left, at(0.1), at(0.3)) + rms(out.right, at(0.1), at(0.3));
        };
        QCOMPARE(tailAfterShortNote(0.0f), 0.0f);
        QVERIFY(tailAfterShortNote(1.0f) > 1e-5f);
    }

    void playsThroughTheAudioEngine() {
        // A note-on event for the main zone reaches the piano once it holds an
        // instrument; the published voice count is the piano's.
        AudioEngine audio;
        audio.prepareOffline(48000, 256);
        const QString path = m_dir.filePath(u"engine.sfz"_qs);
        QVERIFY(writeTestFile(path, "<region> sample=c4.wav pitch_keycenter=60"));
        QVERIFY(audio.sfzPiano.loadSfzFile(path));
        const StereoSignal out = renderBlocks(audio, at(0.5), 256, [&](std::uint64_t frame) {
            if (frame == 0) audio.submitMidiEvent(MidiEvent::noteOn(0, 67, 100));
        });
        QCOMPARE(audio.activeVoiceCount(), 1);
        QVERIFY(std::fabs(dominantFrequency(out.left, rate, 100, 2000, at(0.1)) / 392.0 - 1.0) < 0.005);
        renderBlocks(audio, at(0.1), 256, [&](std::uint64_t frame) {
            if (frame == 0) audio.submitMidiEvent(MidiEvent::noteOff(0, 67));
        });
        QCOMPARE(audio.sfzPiano.activeVoiceCount(), 1); // releasing (0.45 s)
        renderBlocks(audio, at(0.6), 256);
        QCOMPARE(audio.activeVoiceCount(), 0);
    }
};

QTEST_GUILESS_MAIN(SfzEngineTest)
#include "tst_sfz_engine.moc"
