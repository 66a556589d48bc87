#include "SfzSampleData.h"

#include <QFile>

#include <sndfile.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tmb {

// The mapped path hands out the file's little-endian samples as they are.
static_assert(std::endian::native == std::endian::little, "16-bit samples are read in place");

namespace {

constexpr std::uint64_t minimumFileBytes = 44;
constexpr std::size_t prefetchBytes = 64 * 1024;

std::uint16_t readLe16(const std::uint8_t* p) noexcept {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t readLe32(const std::uint8_t* p) noexcept {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}

// libsndfile reads through these callbacks from bytes already in memory.
struct MemoryFile {
    const std::uint8_t* bytes = nullptr;
    sf_count_t length = 0;
    sf_count_t position = 0;
};

sf_count_t memoryLength(void* user) {
    return static_cast<MemoryFile*>(user)->length;
}

sf_count_t memorySeek(sf_count_t offset, int whence, void* user) {
    auto* file = static_cast<MemoryFile*>(user);
    sf_count_t base = 0;
    if (whence == SEEK_CUR)
        base = file->position;
    else if (whence == SEEK_END)
        base = file->length;
    // Like lseek: a position past the end is allowed (reads there return nothing),
    // a negative one or an overflow is refused. Offsets come from the file's headers.
    sf_count_t target = 0;
    if (__builtin_add_overflow(base, offset, &target) || target < 0) return -1;
    file->position = target;
    return target;
}

sf_count_t memoryRead(void* destination, sf_count_t count, void* user) {
    auto* file = static_cast<MemoryFile*>(user);
    if (count <= 0 || file->position >= file->length) return 0;
    const sf_count_t n = std::min(count, file->length - file->position);
    std::memcpy(destination, file->bytes + file->position, static_cast<std::size_t>(n));
    file->position += n;
    return n;
}

sf_count_t memoryWrite(const void*, sf_count_t, void*) {
    return 0;
}

sf_count_t memoryTell(void* user) {
    return static_cast<MemoryFile*>(user)->position;
}

// Float files may hold NaN, infinities or absurd levels; one such value would
// poison the tone filter and every effect after it. Real material stays well
// inside the headroom kept here.
float playableValue(float value) {
    constexpr float headroom = 8.0f;
    return std::isfinite(value) ? std::clamp(value, -headroom, headroom) : 0.0f;
}

} // namespace

SfzSampleData::~SfzSampleData() {
    if (mapBase != nullptr) ::munmap(mapBase, mapLength);
}

bool SfzWavLayout::usableInPlace() const noexcept {
    return riffWave && !chunkOverrun && formatBeforeData && formatTag == 1 && bitsPerSample == 16 &&
           channels >= 1 && sampleRate >= 1 && hasData && dataBytes / (2u * channels) >= 1 &&
           dataOffset % 2 == 0;
}

SfzWavLayout inspectWav(const std::uint8_t* bytes, std::uint64_t length) noexcept {
    SfzWavLayout layout;
    if (bytes == nullptr || length < 12) return layout;
    if (std::memcmp(bytes, "RIFF", 4) != 0 || std::memcmp(bytes + 8, "WAVE", 4) != 0) return layout;
    layout.riffWave = true;
    // offset <= length holds throughout, so offset + 8 cannot wrap; sizes are 32-bit
    // and every sum is taken in 64 bits.
    std::uint64_t offset = 12;
    while (length - offset >= 8) {
        const std::uint8_t* header = bytes + offset;
        const std::uint64_t size = readLe32(header + 4);
        const std::uint64_t body = offset + 8;
        if (size > length - body) {
            layout.chunkOverrun = true;
            break;
        }
        if (std::memcmp(header, "fmt ", 4) == 0 && size >= 16) {
            const std::uint8_t* fmt = bytes + body;
            layout.formatTag = readLe16(fmt);
            layout.channels = readLe16(fmt + 2);
            layout.sampleRate = readLe32(fmt + 4);
            layout.bitsPerSample = readLe16(fmt + 14);
            layout.formatBeforeData = true;
        } else if (std::memcmp(header, "data", 4) == 0) {
            layout.hasData = true;
            layout.dataOffset = body;
            layout.dataBytes = size;
            break;
        }
        const std::uint64_t next = body + size + (size & 1u);
        if (next > length) break;
        offset = next;
    }
    return layout;
}

bool decodeSfzSample(const std::uint8_t* bytes, std::uint64_t length, SfzSampleData* out) {
    if (bytes == nullptr || out == nullptr || length > static_cast<std::uint64_t>(INT64_MAX)) return false;
    MemoryFile file{bytes, static_cast<sf_count_t>(length), 0};
    SF_VIRTUAL_IO io{memoryLength, memorySeek, memoryRead, memoryWrite, memoryTell};
    SF_INFO info{};
    SNDFILE* sound = sf_open_virtual(&io, SFM_READ, &info, &file);
    if (sound == nullptr) return false;
    const int channels = info.channels;
    if (channels < 1 || info.samplerate < 1) {
        sf_close(sound);
        return false;
    }
    // Only the first two channels are ever played.
    const std::uint32_t kept = channels >= 2 ? 2u : 1u;
    const std::uint64_t claimed = info.frames > 0 ? static_cast<std::uint64_t>(info.frames) : 0;
    // The claimed length comes from the header: reserve no more than the file could
    // plausibly hold, and grow with what is really decoded.
    out->pcmFloat.clear();
    out->pcmFloat.reserve(static_cast<std::size_t>(std::min({claimed, sfzMaxDecodedFrames, length})) * kept);

    const auto chunkFrames = static_cast<sf_count_t>(std::max(1, 16384 / channels));
    std::vector<float> chunk(static_cast<std::size_t>(chunkFrames) * static_cast<std::size_t>(channels));
    std::uint64_t frames = 0;
    while (frames < sfzMaxDecodedFrames) {
        const sf_count_t want =
            std::min<sf_count_t>(chunkFrames, static_cast<sf_count_t>(sfzMaxDecodedFrames - frames));
        const sf_count_t got = sf_readf_float(sound, chunk.data(), want);
        if (got <= 0) break;
        for (sf_count_t f = 0; f < got; ++f) {
            const float* frame = chunk.data() + f * channels;
            out->pcmFloat.push_back(playableValue(frame[0]));
            if (kept == 2) out->pcmFloat.push_back(playableValue(frame[1]));
        }
        frames += static_cast<std::uint64_t>(got);
    }
    sf_close(sound);
    out->pcmFloat.shrink_to_fit();
    out->pcm16 = nullptr;
    out->channels = kept;
    out->sampleRate = static_cast<std::uint32_t>(info.samplerate);
    out->frames = frames;
    return frames > 0;
}

bool buildSfzSample(const std::uint8_t* bytes, std::uint64_t length, SfzSampleData* out) {
    const SfzWavLayout layout = inspectWav(bytes, length);
    // A mapping is page-aligned and data chunks start at even offsets; other callers'
    // buffers may not be, and 16-bit reads need 2-byte alignment.
    const bool aligned =
        layout.usableInPlace() &&
        reinterpret_cast<std::uintptr_t>(bytes + layout.dataOffset) % alignof(std::int16_t) == 0;
    if (aligned) {
        out->pcm16 = reinterpret_cast<const std::int16_t*>(bytes + layout.dataOffset);
        out->pcmFloat.clear();
        out->channels = layout.channels;
        out->sampleRate = layout.sampleRate;
        out->frames = layout.dataBytes / (2u * layout.channels);
        return true;
    }
    return decodeSfzSample(bytes, length, out);
}

std::shared_ptr<SfzSampleData> readSfzSampleFile(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    // Non-blocking, so a FIFO named as a sample cannot stall the loader.
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return nullptr;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0 ||
        static_cast<std::uint64_t>(info.st_size) < minimumFileBytes) {
        ::close(fd);
        return nullptr;
    }
    const auto length = static_cast<std::size_t>(info.st_size);
    void* base = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    if (base == MAP_FAILED) return nullptr;

    auto sample = std::make_shared<SfzSampleData>();
    const auto* bytes = static_cast<const std::uint8_t*>(base);
    if (!buildSfzSample(bytes, length, sample.get())) {
        ::munmap(base, length);
        return nullptr;
    }
    if (sample->pcm16 != nullptr) {
        sample->mapBase = base;
        sample->mapLength = length;
        // Notes start from the beginning of the sample: have that part ready.
        ::madvise(base, std::min(length, prefetchBytes), MADV_WILLNEED);
    } else {
        ::munmap(base, length);
    }
    return sample;
}

} // namespace tmb
