#pragma once

// What the realtime-factor benchmarks share: the block format they render (48 kHz,
// 256 frames) and the CPU time of the calling thread, which, unlike wall time, a
// busy shared machine does not inflate.

#include <time.h>

#include <cstdint>

namespace tmb::bench {

inline constexpr std::uint32_t sampleRate = 48000;
inline constexpr std::uint32_t blockFrames = 256;

inline double threadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

} // namespace tmb::bench
