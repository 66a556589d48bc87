#include "OfflineRender.h"

#include "audio/AudioEngine.h"

#include <algorithm>

namespace tmb::test {

StereoSignal renderBlocks(AudioEngine& engine, std::uint64_t totalFrames, std::uint32_t blockFrames,
                          const std::function<void(std::uint64_t firstFrame)>& beforeBlock) {
    StereoSignal out;
    out.sampleRate = engine.sampleRate;
    out.left.reserve(totalFrames);
    out.right.reserve(totalFrames);
    std::vector<float> block(std::size_t{blockFrames} * 2);
    for (std::uint64_t done = 0; done < totalFrames;) {
        const auto frames =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(blockFrames, totalFrames - done));
        if (beforeBlock) beforeBlock(done);
        engine.processAudioCallback(block.data(), frames);
        for (std::uint32_t i = 0; i < frames; ++i) {
            out.left.push_back(block[2 * i]);
            out.right.push_back(block[2 * i + 1]);
        }
        done += frames;
    }
    return out;
}

} // namespace tmb::test
