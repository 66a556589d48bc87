// Realtime factor of the drawbar synth: seconds of audio rendered per second of CPU time
// on one core, at 48 kHz in 256-frame blocks, for 8, 32 and 64 held voices of every
// voice model. 64 voices are a layered keyboard: 32 keys on the main and the layer synth.
//
// Each variant is one way of holding the notes and rendering a block; add a variant by
// writing another BenchVariant and listing it in main().
//
// Usage: bench_synth [--seconds S] [--reference-sines]

#include "BenchClock.h"
#include "app/Harmonizer.h"
#include "audio/AudioEngine.h"
#include "engines/SynthEngine.h"

#include <sched.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

using namespace tmb;
using namespace tmb::bench;

namespace {

constexpr int modelCount = 9; // 0-7, and 8 for every number above
constexpr int voiceCounts[] = {8, 32, 64};
constexpr int firstKey = 36;
// Model 7 ends its notes by itself; every variant strikes its keys again at this
// interval so the voices keep sounding.
constexpr double restrikeSeconds = 0.25;

class BenchVariant {
public:
    virtual ~BenchVariant() = default;
    virtual const char* name() const = 0;
    // Fresh state with `voices` keys of `model` held.
    virtual void setUp(int model, int voices, bool referenceSines) = 0;
    // Strikes every held key again (same voices, new attack).
    virtual void strike() = 0;
    virtual void renderBlock() = 0;
    virtual int soundingVoices() const = 0;
};

// Spreads `voices` over synths of 32 voices each: keys firstKey.. on every synth used.
void strikeKeys(SynthEngine* const* synths, int synthCount, int voices) {
    for (int s = 0; s < synthCount; ++s) {
        const int onThis = std::min(voices - s * SynthEngine::voiceCount, SynthEngine::voiceCount);
        for (int k = 0; k < onThis; ++k)
            synths[s]->noteOn(firstKey + k, 100, 440.0f);
    }
}

// The synths alone, rendering into their own buffers; optionally with the modulation
// wheel up, whose vibrato recomputes the phase steps every sample.
class SynthOnly final : public BenchVariant {
public:
    explicit SynthOnly(bool vibrato)
        : m_vibrato(vibrato) {}
    const char* name() const override { return m_vibrato ? "synth only, modulation wheel up" : "synth only"; }
    void setUp(int model, int voices, bool referenceSines) override {
        for (auto& synth : m_synths) {
            synth = std::make_unique<SynthEngine>();
            synth->prepare(sampleRate);
            synth->setVoiceModel(model);
            synth->setReferenceSines(referenceSines);
            synth->modWheel = m_vibrato ? 1.0f : 0.0f;
        }
        m_voices = voices;
        strike();
    }
    void strike() override {
        SynthEngine* synths[2] = {m_synths[0].get(), m_synths[1].get()};
        strikeKeys(synths, 2, m_voices);
    }
    void renderBlock() override {
        for (auto& synth : m_synths)
            synth->renderAdding(m_left.data(), m_right.data(), blockFrames);
        // Keep the sums small; the values themselves do not matter.
        m_left[0] = m_right[0] = 0.0f;
    }
    int soundingVoices() const override {
        return m_synths[0]->activeVoiceCount() + m_synths[1]->activeVoiceCount();
    }

private:
    std::array<std::unique_ptr<SynthEngine>, 2> m_synths;
    std::array<float, blockFrames> m_left{};
    std::array<float, blockFrames> m_right{};
    int m_voices = 0;
    bool m_vibrato;
};

// The engine's whole block callback (mixer, master, meters) with the notes held on the
// main and layer synths.
class BlockCallback final : public BenchVariant {
public:
    const char* name() const override { return "block callback"; }
    void setUp(int model, int voices, bool referenceSines) override {
        m_engine = std::make_unique<AudioEngine>();
        m_engine->prepareOffline(sampleRate, blockFrames);
        for (SynthEngine& synth : m_engine->synths) {
            synth.setVoiceModel(model);
            synth.setReferenceSines(referenceSines);
        }
        m_voices = voices;
        strike();
    }
    void strike() override {
        SynthEngine* synths[2] = {&m_engine->synths[0], &m_engine->synths[1]};
        strikeKeys(synths, 2, m_voices);
    }
    void renderBlock() override { m_engine->processAudioCallback(m_out.data(), blockFrames); }
    int soundingVoices() const override {
        return m_engine->synths[0].activeVoiceCount() + m_engine->synths[1].activeVoiceCount();
    }

private:
    std::unique_ptr<AudioEngine> m_engine;
    std::array<float, 2 * blockFrames> m_out{};
    int m_voices = 0;
};

// The block callback with the keys played through the harmonizer (gospel quartet: a
// lead and up to two voices below) and the event queue, as a player's keys arrive. The
// harmonizer's own work at each strike is timed too. Keys are chosen so that their
// voices do not overlap; 64 voices are 32 pitches on the main synth doubled by the layer.
class WithHarmonizer final : public BenchVariant {
public:
    const char* name() const override { return "block callback with the harmonizer"; }
    void setUp(int model, int voices, bool referenceSines) override {
        m_engine = std::make_unique<AudioEngine>();
        m_engine->prepareOffline(sampleRate, blockFrames);
        for (SynthEngine& synth : m_engine->synths) {
            synth.setVoiceModel(model);
            synth.setReferenceSines(referenceSines);
        }
        m_engine->setSlotEngineType(0, SoundEngineType::Synth);
        m_engine->setSlotEngineType(1, SoundEngineType::Synth);
        WorkstationState zones;
        zones.layer2Enabled = voices > SynthEngine::voiceCount;
        m_engine->updateWorkstationState(zones);
        m_harmonizer = std::make_unique<Harmonizer>(
            [engine = m_engine.get()](const MidiEvent& event, bool) { engine->submitMidiEvent(event); });
        m_harmonizer->setMode(1);
        m_harmonizer->setEnabled(true);

        // Greedy choice of keys whose voices are all new pitches, up to the count.
        const int pitches = std::min(voices, SynthEngine::voiceCount);
        std::array<bool, 128> used{};
        int taken = 0;
        m_keys.clear();
        // Low keys (below 36) sound their lead alone and fill up what remains.
        for (int n = 0; n < 79 && taken < pitches; ++n) {
            const int key = n < 64 ? firstKey + n : n - 43;
            const Harmonizer::VoicePlan plan = Harmonizer::plan(key, 100, 1, 1, false, -1);
            bool fresh = taken + plan.count <= pitches;
            for (int i = 0; i < plan.count && fresh; ++i)
                fresh = !used[static_cast<std::size_t>(plan.voices[i].pitch)];
            if (!fresh) continue;
            for (int i = 0; i < plan.count; ++i)
                used[static_cast<std::size_t>(plan.voices[i].pitch)] = true;
            taken += plan.count;
            m_keys.push_back(key);
        }
        m_voices = voices;
        strike();
    }
    void strike() override {
        for (int key : m_keys)
            m_harmonizer->noteOn(key, 100, 0);
    }
    void renderBlock() override { m_engine->processAudioCallback(m_out.data(), blockFrames); }
    int soundingVoices() const override {
        return m_engine->synths[0].activeVoiceCount() + m_engine->synths[1].activeVoiceCount();
    }

private:
    std::unique_ptr<AudioEngine> m_engine;
    std::unique_ptr<Harmonizer> m_harmonizer;
    std::vector<int> m_keys;
    std::array<float, 2 * blockFrames> m_out{};
    int m_voices = 0;
};

struct Figure {
    double realtimeFactor;
    int voices;
};

Figure measure(BenchVariant& variant, int model, int voices, double seconds, bool referenceSines) {
    variant.setUp(model, voices, referenceSines);
    const auto restrikeBlocks = static_cast<int>(restrikeSeconds * sampleRate / blockFrames);
    // Half a second of warm-up: caches, and envelopes past their attacks.
    const int warmup = static_cast<int>(0.5 * sampleRate / blockFrames);
    for (int b = 0; b < warmup; ++b) {
        if (b % restrikeBlocks == 0) variant.strike();
        variant.renderBlock();
    }
    const int blocks = static_cast<int>(seconds * sampleRate / blockFrames);
    int sounding = voices;
    const double start = threadCpuSeconds();
    for (int b = 0; b < blocks; ++b) {
        if (b % restrikeBlocks == 0) {
            sounding = std::min(sounding, variant.soundingVoices());
            variant.strike();
        }
        variant.renderBlock();
    }
    const double cpu = threadCpuSeconds() - start;
    const double audio = static_cast<double>(blocks) * blockFrames / sampleRate;
    return {audio / cpu, sounding};
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 10.0;
    bool referenceSines = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::max(0.5, std::atof(argv[++i]));
        } else if (std::strcmp(argv[i], "--reference-sines") == 0) {
            referenceSines = true;
        } else {
            std::printf("Usage: %s [--seconds S] [--reference-sines]\n"
                        "  --seconds S         audio rendered per figure (default 10)\n"
                        "  --reference-sines   use sin() instead of the sine table\n",
                        argv[0]);
            return std::strcmp(argv[i], "--help") == 0 ? 0 : 2;
        }
    }

    // One core: stay on the CPU we started on.
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    CPU_SET(sched_getcpu(), &cpus);
    sched_setaffinity(0, sizeof cpus, &cpus);

    SynthOnly synthOnly(false);
    SynthOnly synthWithVibrato(true);
    BlockCallback blockCallback;
    WithHarmonizer withHarmonizer;
    BenchVariant* variants[] = {&synthOnly, &synthWithVibrato, &blockCallback, &withHarmonizer};

    std::printf("Realtime factor at %u Hz, %u-frame blocks, %.1f s per figure%s (CPU time of one thread)\n",
                sampleRate, blockFrames, seconds, referenceSines ? ", reference sines" : "");
    for (BenchVariant* variant : variants) {
        std::printf("\n%s\n%-8s", variant->name(), "model");
        for (int voices : voiceCounts)
            std::printf("%10d v", voices);
        std::printf("\n");
        for (int model = 0; model < modelCount; ++model) {
            std::printf("%-8d", model);
            for (int voices : voiceCounts) {
                const Figure f = measure(*variant, model, voices, seconds, referenceSines);
                std::printf("%11.1fx%s", f.realtimeFactor, f.voices < voices ? "!" : "");
                std::fflush(stdout);
            }
            std::printf("\n");
        }
    }
    std::printf("\n(! after a figure: fewer voices than asked were sounding at some point)\n");
    return 0;
}
