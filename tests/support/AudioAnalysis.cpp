#include "AudioAnalysis.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace tmb::test {

namespace {

std::size_t clampEnd(const std::vector<float>& s, std::size_t end) {
    return std::min(end, s.size());
}

void fft(std::vector<std::complex<double>>& a) {
    const std::size_t n = a.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const double angle = -2.0 * std::numbers::pi / static_cast<double>(len);
        const std::complex<double> wlen(std::cos(angle), std::sin(angle));
        for (std::size_t i = 0; i < n; i += len) {
            std::complex<double> w(1.0);
            for (std::size_t j = 0; j < len / 2; ++j) {
                const auto u = a[i + j];
                const auto v = a[i + j + len / 2] * w;
                a[i + j] = u + v;
                a[i + j + len / 2] = u - v;
                w *= wlen;
            }
        }
    }
}

// Hann-windowed magnitude spectrum of the first power-of-two samples from `begin` (bin k: k * rate / n).
std::vector<double> magnitudeSpectrum(const std::vector<float>& samples, std::size_t begin,
                                      std::size_t size) {
    std::size_t n = 1;
    while (n * 2 <= size && begin + n * 2 <= samples.size())
        n *= 2;
    std::vector<std::complex<double>> data(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) /
                                              static_cast<double>(n - 1));
        data[i] = begin + i < samples.size() ? w * samples[begin + i] : 0.0;
    }
    fft(data);
    std::vector<double> mags(n / 2);
    for (std::size_t k = 0; k < n / 2; ++k)
        mags[k] = std::abs(data[k]) * 4.0 / static_cast<double>(n); // a full-scale sine reads about 1.0
    return mags;
}

} // namespace

StereoSignal deinterleave(const std::vector<float>& interleaved, double sampleRate) {
    StereoSignal s;
    s.sampleRate = sampleRate;
    s.left.reserve(interleaved.size() / 2);
    s.right.reserve(interleaved.size() / 2);
    for (std::size_t i = 0; i + 1 < interleaved.size(); i += 2) {
        s.left.push_back(interleaved[i]);
        s.right.push_back(interleaved[i + 1]);
    }
    return s;
}

float peak(const std::vector<float>& samples, std::size_t begin, std::size_t end) {
    end = clampEnd(samples, end);
    float p = 0.0f;
    for (std::size_t i = begin; i < end; ++i)
        p = std::max(p, std::fabs(samples[i]));
    return p;
}

float rms(const std::vector<float>& samples, std::size_t begin, std::size_t end) {
    end = clampEnd(samples, end);
    if (end <= begin) return 0.0f;
    double sum = 0.0;
    for (std::size_t i = begin; i < end; ++i)
        sum += double{samples[i]} * samples[i];
    return static_cast<float>(std::sqrt(sum / static_cast<double>(end - begin)));
}

float toDb(float linear) {
    return 20.0f * std::log10(std::max(linear, 1e-12f));
}

double toneAmplitude(const std::vector<float>& samples, double sampleRate, double frequency,
                     std::size_t begin, std::size_t end) {
    end = clampEnd(samples, end);
    if (end <= begin + 1) return 0.0;
    const std::size_t n = end - begin;
    std::complex<double> sum(0.0);
    double windowSum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) /
                                              static_cast<double>(n - 1));
        const double phase = 2.0 * std::numbers::pi * frequency * static_cast<double>(i) / sampleRate;
        sum += w * samples[begin + i] * std::complex<double>(std::cos(phase), -std::sin(phase));
        windowSum += w;
    }
    return 2.0 * std::abs(sum) / windowSum;
}

double dominantFrequency(const std::vector<float>& samples, double sampleRate, double minHz, double maxHz,
                         std::size_t begin, std::size_t end) {
    end = clampEnd(samples, end);
    if (end <= begin + 4) return 0.0;
    const std::vector<double> mags = magnitudeSpectrum(samples, begin, end - begin);
    const std::size_t n = mags.size() * 2;
    const auto lo =
        static_cast<std::size_t>(std::max(1.0, std::floor(minHz * static_cast<double>(n) / sampleRate)));
    const auto hi = std::min(
        mags.size() - 2, static_cast<std::size_t>(std::ceil(maxHz * static_cast<double>(n) / sampleRate)));
    std::size_t best = lo;
    for (std::size_t k = lo; k <= hi; ++k)
        if (mags[k] > mags[best]) best = k;
    // Parabolic interpolation on log magnitudes around the peak bin.
    const double a = std::log(std::max(mags[best - 1], 1e-20));
    const double b = std::log(std::max(mags[best], 1e-20));
    const double c = std::log(std::max(mags[best + 1], 1e-20));
    const double denom = a - 2.0 * b + c;
    const double offset = std::fabs(denom) > 1e-12 ? 0.5 * (a - c) / denom : 0.0;
    return (static_cast<double>(best) + offset) * sampleRate / static_cast<double>(n);
}

long long firstAbove(const std::vector<float>& samples, float threshold, std::size_t begin) {
    for (std::size_t i = begin; i < samples.size(); ++i)
        if (std::fabs(samples[i]) > threshold) return static_cast<long long>(i);
    return -1;
}

long long lastAbove(const std::vector<float>& samples, float threshold) {
    for (std::size_t i = samples.size(); i > 0; --i)
        if (std::fabs(samples[i - 1]) > threshold) return static_cast<long long>(i - 1);
    return -1;
}

bool readWav(const QString& path, StereoSignal* out, int* channels) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.toLocal8Bit().constData(), SFM_READ, &info);
    if (file == nullptr) return false;
    std::vector<float> data(static_cast<std::size_t>(info.frames) * static_cast<std::size_t>(info.channels));
    const sf_count_t read = sf_readf_float(file, data.data(), info.frames);
    sf_close(file);
    data.resize(static_cast<std::size_t>(read) * static_cast<std::size_t>(info.channels));
    if (channels) *channels = info.channels;
    out->sampleRate = info.samplerate;
    out->left.clear();
    out->right.clear();
    for (std::size_t i = 0; i < static_cast<std::size_t>(read); ++i) {
        const std::size_t base = i * static_cast<std::size_t>(info.channels);
        out->left.push_back(data[base]);
        out->right.push_back(info.channels > 1 ? data[base + 1] : data[base]);
    }
    return true;
}

} // namespace tmb::test
