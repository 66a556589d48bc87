#pragma once

// One sample file of an SFZ instrument, shared by every region that names it.
// 16-bit PCM WAV files are played in place from a read-only mapping; every other
// format is decoded once into floats. Built on a loader thread, read-only after
// that; the audio thread only reads frames. The destructor unmaps, so the last
// owner must never be the audio thread.

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace tmb {

struct SfzSampleData {
    SfzSampleData() = default;
    ~SfzSampleData();
    SfzSampleData(const SfzSampleData&) = delete;
    SfzSampleData& operator=(const SfzSampleData&) = delete;

    const std::int16_t* pcm16 = nullptr; // interleaved frames inside the mapping, or null
    std::vector<float> pcmFloat;         // interleaved decoded frames (when pcm16 is null)
    void* mapBase = nullptr;             // the whole-file mapping, unmapped by the destructor
    std::size_t mapLength = 0;
    std::uint32_t sampleRate = 44100;
    std::uint32_t channels = 1; // frame stride of pcm16 / pcmFloat, at least 1
    std::uint64_t frames = 0;
};

// Where the parts of a RIFF/WAVE file lie, found without trusting any length.
struct SfzWavLayout {
    bool riffWave = false;     // "RIFF" ... "WAVE"
    bool chunkOverrun = false; // a chunk claims to run past the end of the file
    bool formatBeforeData = false;
    std::uint16_t formatTag = 0;
    std::uint16_t channels = 0;
    std::uint16_t bitsPerSample = 0;
    std::uint32_t sampleRate = 44100;
    std::uint64_t dataOffset = 0;
    std::uint64_t dataBytes = 0;
    bool hasData = false;

    // 16-bit PCM that can be played straight from the file's bytes.
    bool usableInPlace() const noexcept;
};

// Walks the chunks of `length` bytes at `bytes` (any content; never reads past the end).
SfzWavLayout inspectWav(const std::uint8_t* bytes, std::uint64_t length) noexcept;

// Longest decoded sample kept (frames); longer files are cut. Bounds the memory a
// hostile header can make the loader allocate.
inline constexpr std::uint64_t sfzMaxDecodedFrames = std::uint64_t{1} << 25;

// Decodes any format libsndfile reads from `length` bytes into out->pcmFloat
// (first two channels at most; NaN and infinities read as 0, levels held within
// +-8). False when libsndfile cannot read it.
bool decodeSfzSample(const std::uint8_t* bytes, std::uint64_t length, SfzSampleData* out);

// Fills `out` from a file's bytes: in place when usableInPlace (out keeps pointers
// into `bytes`, which must outlive it), decoded otherwise. False when unusable.
bool buildSfzSample(const std::uint8_t* bytes, std::uint64_t length, SfzSampleData* out);

// Opens, maps and reads one sample file. Null when the file cannot be used (not a
// regular file, shorter than 44 bytes, unreadable by libsndfile, no frames).
std::shared_ptr<SfzSampleData> readSfzSampleFile(const QString& path);

} // namespace tmb
