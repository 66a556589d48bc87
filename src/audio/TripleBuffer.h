#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace tmb {

// Hands whole records from one writer thread to one reader thread without a lock
// and without torn reads: the writer fills a private back buffer and swaps it into
// the middle; the reader swaps the middle into its front only when something new
// was published, otherwise it keeps the copy it already has.
template <typename T>
class TripleBuffer {
public:
    explicit TripleBuffer(const T& initial = T{}) { m_buffers.fill(initial); }

    // Writer thread only.
    void publish(const T& value) {
        m_buffers[m_back] = value;
        const std::uint8_t old =
            m_middle.exchange(static_cast<std::uint8_t>(m_back | FreshBit), std::memory_order_acq_rel);
        m_back = old & IndexMask;
    }

    // Reader thread only. Returns true when a newer record was taken.
    bool fetch() noexcept {
        if ((m_middle.load(std::memory_order_relaxed) & FreshBit) == 0) return false;
        const std::uint8_t old =
            m_middle.exchange(static_cast<std::uint8_t>(m_front), std::memory_order_acq_rel);
        m_front = old & IndexMask;
        return true;
    }

    // Reader thread only: the record last fetched.
    const T& current() const noexcept { return m_buffers[m_front]; }

private:
    static constexpr std::uint8_t FreshBit = 0x4;
    static constexpr std::uint8_t IndexMask = 0x3;
    std::array<T, 3> m_buffers{};
    std::uint8_t m_back = 0;
    std::uint8_t m_front = 1;
    std::atomic<std::uint8_t> m_middle{2};
};

} // namespace tmb
