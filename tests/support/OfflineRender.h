#pragma once

#include "AudioAnalysis.h"

#include <cstdint>
#include <functional>

namespace tmb {
class AudioEngine;
}

namespace tmb::test {

// Drives the engine's own block callback with no device, `blockFrames` at a time,
// and returns what it produced. `beforeBlock` (optional) runs before each block with
// the index of the block's first frame, so tests can queue events at known times.
StereoSignal renderBlocks(AudioEngine& engine, std::uint64_t totalFrames, std::uint32_t blockFrames,
                          const std::function<void(std::uint64_t firstFrame)>& beforeBlock = {});

} // namespace tmb::test
