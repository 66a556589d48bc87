#pragma once

// Audio thread: flushes denormal numbers to zero for the lifetime of the guard.
// Decaying envelopes, filter tails and reverb lines would otherwise sink into
// denormals, which cost many cycles each on x86 once the music stops.

#if defined(__x86_64__) || defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace tmb {

class DenormalGuard {
public:
#if defined(__x86_64__) || defined(__SSE__)
    DenormalGuard() noexcept
        : m_saved(_mm_getcsr()) {
        _mm_setcsr(m_saved | 0x8040u); // flush-to-zero and denormals-are-zero
    }
    ~DenormalGuard() {
        _mm_setcsr(m_saved);
    }
    DenormalGuard(const DenormalGuard&) = delete;
    DenormalGuard& operator=(const DenormalGuard&) = delete;

private:
    unsigned m_saved;
#endif
};

} // namespace tmb
