#pragma once

#include <QString>

#include <cstddef>
#include <vector>

namespace tmb::test {

// Measurements on rendered audio, so tests check what is heard: levels, pitch, partials and onsets.

struct StereoSignal {
    std::vector<float> left;
    std::vector<float> right;
    double sampleRate = 48000.0;
};

StereoSignal deinterleave(const std::vector<float>& interleaved, double sampleRate);

float peak(const std::vector<float>& samples, std::size_t begin = 0,
           std::size_t end = static_cast<std::size_t>(-1));
float rms(const std::vector<float>& samples, std::size_t begin = 0,
          std::size_t end = static_cast<std::size_t>(-1));
float toDb(float linear);

// Amplitude of a sinusoid at `frequency` (a full-scale sine reads 1.0), measured
// with a Hann-windowed single-bin DFT over [begin, end).
double toneAmplitude(const std::vector<float>& samples, double sampleRate, double frequency,
                     std::size_t begin = 0, std::size_t end = static_cast<std::size_t>(-1));

// Strongest frequency between minHz and maxHz, refined between FFT bins.
double dominantFrequency(const std::vector<float>& samples, double sampleRate, double minHz = 20.0,
                         double maxHz = 20000.0, std::size_t begin = 0,
                         std::size_t end = static_cast<std::size_t>(-1));

// First index whose absolute value exceeds `threshold`, or -1.
long long firstAbove(const std::vector<float>& samples, float threshold, std::size_t begin = 0);
// Last index whose absolute value exceeds `threshold`, or -1.
long long lastAbove(const std::vector<float>& samples, float threshold);

// Reads a WAV (any libsndfile format) as float. Returns false on failure.
bool readWav(const QString& path, StereoSignal* out, int* channels = nullptr);

} // namespace tmb::test
