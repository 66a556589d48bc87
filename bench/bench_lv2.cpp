// Realtime factor of the block callback with an LV2 instrument on the LV2 bus:
// seconds of audio per second of CPU time of the rendering thread (pinned to one
// core), at 48 kHz in 256-frame blocks.
//
// - mda EPiano sounding 16 notes (struck again every second so they keep sounding);
// - DrumGizmo loaded and idle (Debian ships it without a kit).
// Plug-ins come from LV2_PATH, or the system's folders when it is unset.
//
// Usage: bench_lv2 [--seconds S]

#include "BenchClock.h"
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

// Renders `seconds` through the engine's block callback; `beforeBlock(b)` runs first.
template <typename Before>
double realtimeFactor(AudioEngine& engine, double seconds, Before&& beforeBlock) {
    std::vector<float> out(2 * blockFrames);
    const auto blocks = static_cast<long>(seconds * sampleRate / blockFrames);
    const double start = threadCpuSeconds();
    for (long b = 0; b < blocks; ++b) {
        beforeBlock(b);
        engine.processAudioCallback(out.data(), blockFrames);
    }
    const double cpu = threadCpuSeconds() - start;
    return static_cast<double>(blocks) * blockFrames / sampleRate / cpu;
}

} // namespace

int main(int argc, char* argv[]) {
    double seconds = 30.0;
    for (int i = 1; i + 1 < argc; i += 2)
        if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atof(argv[i + 1]);
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(0, &one);
    sched_setaffinity(0, sizeof one, &one);

    auto engine = std::make_unique<AudioEngine>();
    engine->prepareOffline(sampleRate, blockFrames);
    const long blocksPerSecond = sampleRate / blockFrames;

    if (!engine->lv2Host.loadPlugin(QStringLiteral("http://drobilla.net/plugins/mda/EPiano"))) {
        std::fprintf(stderr, "mda EPiano: %s\n", qPrintable(engine->lv2Host.statusMessage()));
        return 1;
    }
    const double epiano = realtimeFactor(*engine, seconds, [&](long block) {
        if (block % blocksPerSecond != 0) return;
        for (int n = 0; n < 16; ++n) {
            engine->lv2Host.sendMidiNoteOff(0, static_cast<std::uint8_t>(48 + 2 * n));
            engine->lv2Host.sendMidiNoteOn(0, static_cast<std::uint8_t>(48 + 2 * n), 100);
        }
    });
    std::printf("mda EPiano, 16 notes:    %6.1fx realtime\n", epiano);

    if (!engine->lv2Host.loadPlugin(QStringLiteral("http://drumgizmo.org/lv2"))) {
        std::fprintf(stderr, "DrumGizmo: %s\n", qPrintable(engine->lv2Host.statusMessage()));
        return 1;
    }
    const double idle = realtimeFactor(*engine, seconds, [](long) {});
    std::printf("DrumGizmo loaded, idle:  %6.1fx realtime\n", idle);

    engine->lv2Host.unloadPlugin();
    const double none = realtimeFactor(*engine, seconds, [](long) {});
    std::printf("no plug-in (reference):  %6.1fx realtime\n", none);
    return 0;
}
