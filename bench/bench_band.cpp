// The full band: the block callback with a style's drums and its band (bass,
// chords, pad, lead) on the General MIDI SoundFont, a generated SFZ piano on the
// main zone holding 8 keys (struck again every 2 s), and the master effects on.
// Prints the realtime factor: seconds of audio rendered per second of CPU time of
// the rendering thread (pinned to one core), at 48 kHz in 256-frame blocks. The
// arranger's steps run between blocks, as the step timer runs them, and are timed
// apart.
//
// Usage: bench_band [--seconds S] [--style N] [--font FILE]

#include "BenchClock.h"
#include "app/StyleBandState.h"
#include "app/StyleSounds.h"
#include "audio/AudioEngine.h"
#include "rhythm/Arranger.h"
#include "support/SfzFixtures.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sched.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

using namespace tmb;
using namespace tmb::bench;

namespace {

constexpr int heldKeys[8] = {48, 52, 55, 60, 64, 67, 72, 76};

// A piano of eight stereo 2 s samples, one an octave, each stretched over its octave.
QString writePiano(const QDir& dir) {
    QByteArray sfz = "<global> ampeg_release=0.6\n";
    for (int octave = 0; octave < 8; ++octave) {
        const int centre = 24 + 12 * octave;
        const QString name = QStringLiteral("c%1.wav").arg(octave);
        test::TestTone tone;
        tone.frequency = 440.0 * std::exp2((centre - 69) / 12.0);
        tone.amplitude = 0.3;
        tone.seconds = 2.0;
        tone.channels = 2;
        if (!test::writeTestWav(dir.filePath(name), tone)) return {};
        sfz += QStringLiteral("<region> sample=%1 pitch_keycenter=%2 lokey=%3 hikey=%4\n")
                   .arg(name)
                   .arg(centre)
                   .arg(centre - 6)
                   .arg(centre + 5)
                   .toUtf8();
    }
    const QString path = dir.filePath(QStringLiteral("piano.sfz"));
    return test::writeTestFile(path, sfz) ? path : QString();
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    double seconds = 20.0;
    int styleIndex = 24;
    QString font = QStringLiteral("/usr/share/sounds/sf2/FluidR3_GM.sf2");
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atof(argv[i + 1]);
        if (std::strcmp(argv[i], "--style") == 0) styleIndex = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--font") == 0) font = QString::fromLocal8Bit(argv[i + 1]);
    }
    if (!QFileInfo(font).isFile()) {
        std::fprintf(stderr, "no SoundFont %s\n", qPrintable(font));
        return 2;
    }
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(0, &one);
    sched_setaffinity(0, sizeof(one), &one);

    QTemporaryDir dir;
    const QString piano = writePiano(QDir(dir.path()));
    AudioEngine engine;
    QString error;
    if (piano.isEmpty() || !engine.sfzPiano.loadSfzFile(piano, &error)) {
        std::fprintf(stderr, "cannot build the piano: %s\n", qPrintable(error));
        return 2;
    }
    engine.setSlotEngineType(0, SoundEngineType::Sfz);

    BeatSequencer& sequencer = engine.beatSequencer;
    sequencer.initBuiltinStyles();
    sequencer.selectStyle(std::clamp(styleIndex, 0, 34));
    const StylePattern& style = sequencer.currentStyle();
    const int chords = styleBandChannelVolume(0.85f, 0.85f, false);
    applyStyleSounds(engine.fluidSynth, style, font,
                     {chords, styleBandChannelVolume(0.85f, 0.90f, false), chords, chords});
    Arranger band([&engine](const MidiEvent& event) { engine.submitMidiEvent(event); });
    band.state().bandActive = true;
    band.state().proArrangerEnabled = true; // drum styles get the plain band
    band.state().progressionIndex = std::clamp(style.defaultProgIdx, 1, progressionCount - 1);

    engine.prepareOffline(sampleRate, blockFrames);
    engine.effects.setEnabled(true);
    sequencer.setPlaying(true);

    std::vector<float> out(2 * blockFrames);
    const auto blocks = static_cast<std::uint64_t>(seconds * sampleRate / blockFrames);
    const std::uint64_t strikeEvery = 2 * sampleRate / blockFrames;
    double callbackCpu = 0.0;
    double bandCpu = 0.0;
    int bandSteps = 0;
    long voiceSum = 0;
    for (std::uint64_t block = 0; block < blocks; ++block) {
        if (block % strikeEvery == 0) {
            for (int key : heldKeys) {
                engine.submitMidiEvent(MidiEvent::noteOff(0, key));
                engine.submitMidiEvent(MidiEvent::noteOn(0, key, 90));
            }
        }
        const double t0 = threadCpuSeconds();
        engine.processAudioCallback(out.data(), blockFrames);
        const double t1 = threadCpuSeconds();
        const int before = band.state().lastStep;
        band.followSequencer(sequencer);
        const double t2 = threadCpuSeconds();
        callbackCpu += t1 - t0;
        if (band.state().lastStep != before) {
            bandCpu += t2 - t1;
            ++bandSteps;
        }
        voiceSum += engine.fluidSynth.activeVoiceCount() + engine.activeVoiceCount();
    }
    const double audio = static_cast<double>(blocks * blockFrames) / sampleRate;
    std::printf("style %d (%s) on %s, SFZ piano holding 8 keys, master effects on\n", styleIndex,
                qPrintable(style.id), qPrintable(QFileInfo(font).fileName()));
    std::printf("block callback: %.1fx realtime (%.1f s of audio, %.3f s CPU, %.1f voices on average)\n",
                audio / callbackCpu, audio, callbackCpu, static_cast<double>(voiceSum) / blocks);
    std::printf("arranger step: %.1f us on average over %d steps\n", bandCpu / std::max(bandSteps, 1) * 1e6,
                bandSteps);
    return 0;
}
