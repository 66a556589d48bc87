#pragma once

// Renders a SynthEngine on the calling thread, block by block, and keeps everything it
// produced, so a test can interleave notes and rendering at known times.

#include "engines/SynthEngine.h"
#include "support/AudioAnalysis.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace tmb::test {

class SynthRecorder {
public:
    explicit SynthRecorder(SynthEngine& synth, double sampleRate = 48000.0, std::uint32_t blockFrames = 256)
        : m_synth(synth)
        , m_blockFrames(blockFrames) {
        m_synth.prepare(static_cast<float>(sampleRate));
        signal.sampleRate = sampleRate;
    }

    // Renders `seconds` more audio.
    void run(double seconds) {
        runFrames(static_cast<std::size_t>(std::llround(seconds * signal.sampleRate)));
    }

    void runFrames(std::size_t frames) {
        std::size_t pos = signal.left.size();
        signal.left.resize(pos + frames, 0.0f);
        signal.right.resize(pos + frames, 0.0f);
        const std::size_t end = pos + frames;
        while (pos < end) {
            const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(m_blockFrames, end - pos));
            m_synth.renderAdding(signal.left.data() + pos, signal.right.data() + pos, n);
            pos += n;
        }
    }

    // Frame index of a time in the recording.
    std::size_t at(double seconds) const {
        return static_cast<std::size_t>(std::llround(seconds * signal.sampleRate));
    }
    double now() const { return static_cast<double>(signal.left.size()) / signal.sampleRate; }

    StereoSignal signal;

private:
    SynthEngine& m_synth;
    std::uint32_t m_blockFrames;
};

} // namespace tmb::test
