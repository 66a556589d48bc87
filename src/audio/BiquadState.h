#pragma once

namespace tmb {

// One second-order filter section for a stereo pair, in transposed direct form II.
// Coefficients are normalised so that a0 = 1; the default passes the signal through.
// The setters compute new coefficients and leave the filter states alone, so a
// change of curve does not click. Threads: whoever owns the section (the effects
// chain keeps it on the audio thread); nothing here allocates.
struct BiquadState {
    float b0 = 1.0f;
    float b1 = 0.0f;
    float b2 = 0.0f;
    float a1 = 0.0f;
    float a2 = 0.0f;
    float s1L = 0.0f;
    float s2L = 0.0f;
    float s1R = 0.0f;
    float s2R = 0.0f;

    // Shelves have slope 1. Frequencies are limited to the ranges the tone
    // controls use: low shelf 20 Hz .. 0.45 fs, peak 40 Hz .. 0.45 fs (Q at least
    // 0.1), high shelf 200 Hz .. 0.45 fs, low-pass 200 Hz .. 0.48 fs (Q at least 0.1).
    void setLowShelf(float sampleRate, float frequency, float gainDb) noexcept;
    void setPeaking(float sampleRate, float frequency, float q, float gainDb) noexcept;
    void setHighShelf(float sampleRate, float frequency, float gainDb) noexcept;
    void setLowPass(float sampleRate, float frequency, float q) noexcept;

    void reset() noexcept { s1L = s2L = s1R = s2R = 0.0f; }

    float processLeft(float x) noexcept {
        const float y = b0 * x + s1L;
        s1L = b1 * x - a1 * y + s2L;
        s2L = b2 * x - a2 * y;
        return y;
    }
    float processRight(float x) noexcept {
        const float y = b0 * x + s1R;
        s1R = b1 * x - a1 * y + s2R;
        s2R = b2 * x - a2 * y;
        return y;
    }
};

} // namespace tmb
