#include "AudioCaptureBuffer.h"

#include "audio/RealtimeConfig.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tmb {

namespace {
constexpr std::uint64_t ringFrames = config::captureRingFrames;
constexpr std::uint64_t ringMask = ringFrames - 1;
static_assert((ringFrames & ringMask) == 0, "the capture ring size must be a power of two");
} // namespace

AudioCaptureBuffer::AudioCaptureBuffer()
    : m_ring(new float[2 * ringFrames]) {
    // Touch every page now, so the audio thread never takes a first-write page fault.
    std::fill_n(m_ring.get(), 2 * ringFrames, 0.0f);
}

AudioCaptureBuffer::~AudioCaptureBuffer() {
    stopDraining();
}

void AudioCaptureBuffer::push(const float* left, const float* right, std::uint32_t frames) noexcept {
    const std::uint64_t write = m_writeCount.load(std::memory_order_relaxed);
    const std::uint64_t read = m_readCount.load(std::memory_order_acquire);
    const std::uint64_t room = ringFrames - (write - read);
    const std::uint64_t count = std::min<std::uint64_t>(frames, room);
    float* ring = m_ring.get();
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t slot = (write + i) & ringMask;
        ring[2 * slot] = left[i];
        ring[2 * slot + 1] = right[i];
    }
    m_writeCount.store(write + count, std::memory_order_release);
    if (count < frames) m_dropped.fetch_add(frames - count, std::memory_order_relaxed);
}

void AudioCaptureBuffer::drain() {
    std::lock_guard lock(m_storeMutex);
    drainLocked();
}

void AudioCaptureBuffer::drainLocked() {
    std::uint64_t read = m_readCount.load(std::memory_order_relaxed);
    const std::uint64_t write = m_writeCount.load(std::memory_order_acquire);
    while (read != write) {
        const std::size_t used = m_storedFrames % chunkFrames;
        if (used == 0 && m_chunks.size() * chunkFrames == m_storedFrames)
            m_chunks.emplace_back(new float[2 * chunkFrames]);
        const std::uint64_t slot = read & ringMask;
        // One contiguous run: up to the ring's end, the chunk's end or the write index.
        const std::uint64_t count =
            std::min({write - read, ringFrames - slot, static_cast<std::uint64_t>(chunkFrames - used)});
        std::memcpy(m_chunks.back().get() + 2 * used, m_ring.get() + 2 * slot, count * 2 * sizeof(float));
        read += count;
        m_storedFrames += count;
        // Hand the slots back at once: the producer may need them during a long drain.
        m_readCount.store(read, std::memory_order_release);
    }
}

void AudioCaptureBuffer::clear() {
    std::lock_guard lock(m_storeMutex);
    m_readCount.store(m_writeCount.load(std::memory_order_acquire), std::memory_order_release);
    m_chunks.clear();
    m_storedFrames = 0;
    m_dropped.store(0, std::memory_order_relaxed);
}

std::uint64_t AudioCaptureBuffer::storedFrames() const {
    std::lock_guard lock(m_storeMutex);
    return m_storedFrames;
}

std::uint64_t AudioCaptureBuffer::totalFrames() const {
    std::lock_guard lock(m_storeMutex);
    return m_storedFrames +
           (m_writeCount.load(std::memory_order_acquire) - m_readCount.load(std::memory_order_relaxed));
}

bool AudioCaptureBuffer::readStored(ChunkReader reader) const {
    std::lock_guard lock(m_storeMutex);
    std::uint64_t left = m_storedFrames;
    for (const auto& chunk : m_chunks) {
        const auto frames = static_cast<std::size_t>(std::min<std::uint64_t>(left, chunkFrames));
        if (frames == 0) break;
        if (!reader(chunk.get(), frames)) return false;
        left -= frames;
    }
    return true;
}

std::vector<float> AudioCaptureBuffer::peakSummary(int points) const {
    if (points <= 0) return {};
    std::vector<float> peaks(static_cast<std::size_t>(points), 0.0f);
    const std::uint64_t totalFloats = 2 * storedFrames();
    if (totalFloats == 0) return peaks;
    const std::uint64_t window = std::max<std::uint64_t>(totalFloats / static_cast<std::uint64_t>(points), 2);
    const std::uint64_t covered = window * static_cast<std::uint64_t>(points);
    std::uint64_t index = 0;
    readStored([&](const float* data, std::size_t frames) {
        for (std::size_t k = 0; k < 2 * frames && index < covered; ++k, ++index) {
            float& peak = peaks[index / window];
            peak = std::max(peak, std::min(std::fabs(data[k]), 1.0f));
        }
        return index < covered;
    });
    return peaks;
}

void AudioCaptureBuffer::startDraining(std::chrono::milliseconds interval) {
    if (m_drainThread.joinable()) return;
    m_drainStop = false;
    m_drainThread = std::thread([this, interval] {
        std::unique_lock lock(m_drainMutex);
        while (!m_drainStop) {
            m_drainWake.wait_for(lock, interval, [this] { return m_drainStop; });
            lock.unlock();
            drain();
            lock.lock();
        }
    });
}

void AudioCaptureBuffer::stopDraining() {
    if (m_drainThread.joinable()) {
        {
            std::lock_guard lock(m_drainMutex);
            m_drainStop = true;
        }
        m_drainWake.notify_all();
        m_drainThread.join();
    }
    drain();
}

} // namespace tmb
