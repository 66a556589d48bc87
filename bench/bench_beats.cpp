// Realtime factor of the drum sequencer: seconds of audio per second of CPU time of
// the rendering thread (pinned to one core), at 48 kHz in 256-frame blocks.
//
// - sequencer only: BeatSequencer::processBlock with its metronome click, the hits
//   going to a callback that only counts them;
// - whole callback: AudioEngine::processAudioCallback playing the densest built-in
//   style through its kit of the General MIDI SoundFont (drum synthesizer, mixer,
//   master effects, meters), no keyboard voices.
// Each at the style's own tempo and at 240 BPM.
//
// Usage: bench_beats [--seconds S] [--font FILE]

#include "BenchClock.h"
#include "app/StyleBandState.h"
#include "app/StyleSounds.h"
#include "audio/AudioEngine.h"

#include <sched.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

using namespace tmb;
using namespace tmb::bench;

namespace {

// The built-in style with the most hits in a Chorus bar (the busiest section).
int densestStyle(const std::vector<StylePattern>& styles, int* hitsPerBar) {
    int best = 0;
    *hitsPerBar = 0;
    for (int i = 0; i < static_cast<int>(styles.size()); ++i) {
        int hits = 0;
        for (const DrumLaneRow& row : styles[static_cast<std::size_t>(i)].velocityGrid[3])
            for (std::uint8_t v : row)
                hits += v > 0 ? 1 : 0;
        if (hits > *hitsPerBar) {
            *hitsPerBar = hits;
            best = i;
        }
    }
    return best;
}

// Renders `seconds` of audio with `renderBlock` and returns the realtime factor.
template <typename Render>
double realtimeFactor(double seconds, Render&& renderBlock) {
    const auto blocks = static_cast<long>(seconds * sampleRate / blockFrames);
    const double start = threadCpuSeconds();
    for (long b = 0; b < blocks; ++b)
        renderBlock();
    const double cpu = threadCpuSeconds() - start;
    return static_cast<double>(blocks) * blockFrames / sampleRate / cpu;
}

} // namespace

int main(int argc, char* argv[]) {
    double seconds = 60.0;
    const char* font = "/usr/share/sounds/sf2/FluidR3_GM.sf2";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atof(argv[i + 1]);
        if (std::strcmp(argv[i], "--font") == 0) font = argv[i + 1];
    }
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(0, &one);
    sched_setaffinity(0, sizeof one, &one);

    const std::vector<StylePattern> styles = builtinStyles();
    int hitsPerBar = 0;
    const int style = densestStyle(styles, &hitsPerBar);
    const StylePattern& chosen = styles[static_cast<std::size_t>(style)];
    std::printf("densest style: %d %s, %d hits in a chorus bar, %.0f BPM\n", style, qPrintable(chosen.id),
                hitsPerBar, static_cast<double>(chosen.bpm));

    for (float tempo : {chosen.bpm, 240.0f}) {
        // The sequencer alone, with its click.
        BeatSequencer sequencer;
        sequencer.prepare(sampleRate);
        sequencer.initBuiltinStyles();
        sequencer.selectStyle(style);
        sequencer.setBpm(tempo);
        sequencer.setSection(static_cast<int>(SongSection::Chorus));
        sequencer.setMetronomeEnabled(true);
        sequencer.setPlaying(true);
        std::vector<float> left(blockFrames), right(blockFrames);
        long hits = 0;
        const double alone = realtimeFactor(seconds * 20, [&] {
            sequencer.processBlock(blockFrames, left.data(), right.data(),
                                   [&hits](int, int, bool) { ++hits; });
        });

        // The whole callback through the SoundFont's drum kit.
        auto engine = std::make_unique<AudioEngine>();
        const int chords = styleBandChannelVolume(0.85f, 0.85f, false);
        if (!applyStyleSounds(engine->fluidSynth, chosen, QString::fromLocal8Bit(font),
                              {chords, styleBandChannelVolume(0.85f, 0.9f, false), chords, chords})) {
            std::fprintf(stderr, "bench_beats: %s has no drum kit %d\n", font, chosen.drumKitProgram);
            return 1;
        }
        engine->prepareOffline(sampleRate, blockFrames);
        BeatSequencer& beats = engine->beatSequencer;
        beats.initBuiltinStyles();
        beats.selectStyle(style);
        beats.setBpm(tempo);
        beats.setSection(static_cast<int>(SongSection::Chorus));
        beats.setPlaying(true);
        std::vector<float> out(2 * blockFrames);
        const double whole =
            realtimeFactor(seconds, [&] { engine->processAudioCallback(out.data(), blockFrames); });
        std::printf("%5.0f BPM: sequencer only %8.0fx realtime (%ld hits); whole callback %6.1fx realtime\n",
                    static_cast<double>(tempo), alone, hits, whole);
    }
    return 0;
}
