#include "SfzFixtures.h"

#include <QDir>
#include <QFile>

#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace tmb::test {

bool writeTestWav(const QString& path, const TestTone& tone) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    SF_INFO info{};
    info.samplerate = tone.sampleRate;
    info.channels = tone.channels;
    info.format = SF_FORMAT_WAV | (tone.encoding == WavEncoding::Pcm16   ? SF_FORMAT_PCM_16
                                   : tone.encoding == WavEncoding::Pcm24 ? SF_FORMAT_PCM_24
                                                                         : SF_FORMAT_FLOAT);
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (file == nullptr) return false;
    const auto frames = static_cast<std::size_t>(tone.seconds * tone.sampleRate);
    std::vector<float> data(frames * static_cast<std::size_t>(tone.channels));
    std::uint32_t noise = 0x2545F491u;
    for (std::size_t i = 0; i < frames; ++i) {
        double value = 0.0;
        if (tone.frequency > 0.0) {
            value = tone.amplitude * std::sin(2.0 * std::numbers::pi * tone.frequency *
                                              static_cast<double>(i) / tone.sampleRate);
        } else {
            noise = noise * 1664525u + 1013904223u;
            value = tone.amplitude * (static_cast<double>(noise >> 8) / 8388608.0 - 1.0);
        }
        for (int c = 0; c < tone.channels; ++c)
            data[i * static_cast<std::size_t>(tone.channels) + static_cast<std::size_t>(c)] =
                static_cast<float>(value);
    }
    const sf_count_t written = sf_writef_float(file, data.data(), static_cast<sf_count_t>(frames));
    sf_close(file);
    return written == static_cast<sf_count_t>(frames);
}

bool writeTestFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return file.write(bytes) == bytes.size();
}

} // namespace tmb::test
