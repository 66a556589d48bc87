#pragma once

#include "AudioAnalysis.h"

#include <cstdint>
#include <functional>

namespace tmb {
class AudioEngine;
}

namespace tmb::test {

// What the engine's own block callback produces, `blockFrames` at a time, with no device;
// `beforeBlock` (optional) gets each block's first frame, to queue events at known times.
StereoSignal renderBlocks(AudioEngine& engine, std::uint64_t totalFrames, std::uint32_t blockFrames,
                          const std::function<void(std::uint64_t firstFrame)>& beforeBlock = {});

} // namespace tmb::test
