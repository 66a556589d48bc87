#pragma once

// The audio of a studio take: a lock-free ring that the audio thread fills block by
// block, and a store of fixed-size chunks that a drain thread moves the ring into
// while the take runs. A take of any length keeps every frame, and growing the store
// never copies what is already there.
//
// Threads:
// - Audio thread: push, the ring's single producer. It never waits and never
//   allocates: frames that do not fit a full ring are dropped and counted.
// - Any other thread: drain, clear, the counts and reads. They take m_storeMutex,
//   which the audio thread never touches; holding it makes the caller the ring's
//   single consumer.
// - startDraining and stopDraining from the thread that owns the transport.

#include "audio/FunctionRef.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tmb {

class AudioCaptureBuffer {
public:
    // Frames in one stored chunk (512 KiB of interleaved stereo float).
    static constexpr std::size_t chunkFrames = 65536;
    // Sees the store chunk by chunk, in order, as interleaved left/right floats.
    // Returning false stops the walk.
    using ChunkReader = FunctionRef<bool(const float* interleaved, std::size_t frames)>;

    AudioCaptureBuffer();
    ~AudioCaptureBuffer();
    AudioCaptureBuffer(const AudioCaptureBuffer&) = delete;
    AudioCaptureBuffer& operator=(const AudioCaptureBuffer&) = delete;

    // Audio thread.
    void push(const float* left, const float* right, std::uint32_t frames) noexcept;

    // Moves everything in the ring to the end of the store.
    void drain();
    // Forgets the store, whatever waits in the ring and the dropped count.
    void clear();
    std::uint64_t storedFrames() const;
    // Stored frames plus the frames still waiting in the ring.
    std::uint64_t totalFrames() const;
    std::uint64_t droppedFrames() const noexcept { return m_dropped.load(std::memory_order_relaxed); }
    // Walks the store (not the ring); false when the reader stopped the walk.
    bool readStored(ChunkReader reader) const;
    // For each of `points` equal windows of the stored floats (left and right
    // together), the largest absolute sample clamped to 1. Empty for points <= 0,
    // zeros when nothing is stored.
    std::vector<float> peakSummary(int points) const;

    // A thread that drains every `interval` until stopDraining, which drains once more.
    void startDraining(std::chrono::milliseconds interval);
    void stopDraining();

private:
    void drainLocked();

    // Ring of interleaved frames; the counters only grow, a slot is counter & mask.
    std::unique_ptr<float[]> m_ring;
    alignas(64) std::atomic<std::uint64_t> m_writeCount{0};
    alignas(64) std::atomic<std::uint64_t> m_readCount{0};
    alignas(64) std::atomic<std::uint64_t> m_dropped{0};

    mutable std::mutex m_storeMutex;
    std::vector<std::unique_ptr<float[]>> m_chunks; // each chunkFrames frames
    std::uint64_t m_storedFrames = 0;

    std::mutex m_drainMutex;
    std::condition_variable m_drainWake;
    bool m_drainStop = false;
    std::thread m_drainThread;
};

} // namespace tmb
