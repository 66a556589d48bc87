#include "BiquadState.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tmb {

namespace {

struct Coefficients {
    double b0, b1, b2, a0, a1, a2;
};

void store(BiquadState& s, const Coefficients& c) noexcept {
    s.b0 = static_cast<float>(c.b0 / c.a0);
    s.b1 = static_cast<float>(c.b1 / c.a0);
    s.b2 = static_cast<float>(c.b2 / c.a0);
    s.a1 = static_cast<float>(c.a1 / c.a0);
    s.a2 = static_cast<float>(c.a2 / c.a0);
}

// Like std::clamp, but well defined when a very low rate puts the top below the bottom.
float limit(float value, float low, float high) noexcept {
    return std::max(low, std::min(value, high));
}

double omega(float sampleRate, float frequency) noexcept {
    return 2.0 * std::numbers::pi * double{frequency} / double{sampleRate};
}

} // namespace

void BiquadState::setLowShelf(float sampleRate, float frequency, float gainDb) noexcept {
    frequency = limit(frequency, 20.0f, 0.45f * sampleRate);
    const double a = std::pow(10.0, double{gainDb} / 40.0);
    const double w0 = omega(sampleRate, frequency);
    const double cosW = std::cos(w0);
    const double alpha = std::sin(w0) / 2.0 * std::numbers::sqrt2;
    const double k = 2.0 * std::sqrt(a) * alpha;
    store(*this, {a * ((a + 1) - (a - 1) * cosW + k), 2 * a * ((a - 1) - (a + 1) * cosW),
                  a * ((a + 1) - (a - 1) * cosW - k), (a + 1) + (a - 1) * cosW + k,
                  -2 * ((a - 1) + (a + 1) * cosW), (a + 1) + (a - 1) * cosW - k});
}

void BiquadState::setPeaking(float sampleRate, float frequency, float q, float gainDb) noexcept {
    frequency = limit(frequency, 40.0f, 0.45f * sampleRate);
    q = std::max(q, 0.1f);
    const double a = std::pow(10.0, double{gainDb} / 40.0);
    const double w0 = omega(sampleRate, frequency);
    const double cosW = std::cos(w0);
    const double alpha = std::sin(w0) / (2.0 * q);
    store(*this, {1 + alpha * a, -2 * cosW, 1 - alpha * a, 1 + alpha / a, -2 * cosW, 1 - alpha / a});
}

void BiquadState::setHighShelf(float sampleRate, float frequency, float gainDb) noexcept {
    frequency = limit(frequency, 200.0f, 0.45f * sampleRate);
    const double a = std::pow(10.0, double{gainDb} / 40.0);
    const double w0 = omega(sampleRate, frequency);
    const double cosW = std::cos(w0);
    const double alpha = std::sin(w0) / 2.0 * std::numbers::sqrt2;
    const double k = 2.0 * std::sqrt(a) * alpha;
    store(*this, {a * ((a + 1) + (a - 1) * cosW + k), -2 * a * ((a - 1) + (a + 1) * cosW),
                  a * ((a + 1) + (a - 1) * cosW - k), (a + 1) - (a - 1) * cosW + k,
                  2 * ((a - 1) - (a + 1) * cosW), (a + 1) - (a - 1) * cosW - k});
}

void BiquadState::setLowPass(float sampleRate, float frequency, float q) noexcept {
    frequency = limit(frequency, 200.0f, 0.48f * sampleRate);
    q = std::max(q, 0.1f);
    const double w0 = omega(sampleRate, frequency);
    const double cosW = std::cos(w0);
    const double alpha = std::sin(w0) / (2.0 * q);
    store(*this, {(1 - cosW) / 2, 1 - cosW, (1 - cosW) / 2, 1 + alpha, -2 * cosW, 1 - alpha});
}

} // namespace tmb
