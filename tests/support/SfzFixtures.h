#pragma once

#include <QByteArray>
#include <QString>

namespace tmb::test {

// Sample files and SFZ texts generated inside the tests, so every instrument a
// test plays has known pitches and levels.

enum class WavEncoding { Pcm16, Pcm24, Float32 };

struct TestTone {
    double frequency = 261.63; // 0 gives white noise
    double amplitude = 0.5;    // peak of the sine, or of the noise
    double seconds = 1.0;
    int sampleRate = 48000;
    int channels = 1; // every channel carries the same signal
    WavEncoding encoding = WavEncoding::Pcm16;
};

// Writes a WAV through libsndfile, making its folder. False on failure.
bool writeTestWav(const QString& path, const TestTone& tone);

// Writes raw bytes (SFZ text or a deliberately broken file), making the folder. False on failure.
bool writeTestFile(const QString& path, const QByteArray& bytes);

} // namespace tmb::test
