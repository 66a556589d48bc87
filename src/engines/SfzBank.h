#pragma once

// One loaded SFZ instrument. A loader thread builds it; once installed it is
// read-only, and the audio thread reads its regions without a lock. Voices that
// play its samples are counted in `voiceCount` (audio thread writes, the engine's
// reclaimer reads) so a replaced bank is freed only after its last voice ended.

#include "engines/SfzRegion.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace tmb {

struct SfzBank {
    QString path; // absolute path of the SFZ file
    QString name; // base name without extension
    std::vector<SfzRegion> regions;
    std::uint64_t mappedBytes = 0;
    std::atomic<std::uint32_t> voiceCount{0};

    // Largest SFZ text read, and most regions kept, so a hostile file cannot make
    // the loader (or the note-on region scan) unbounded.
    static constexpr qint64 maxTextBytes = 16 * 1024 * 1024;
    static constexpr std::size_t maxRegions = 65536;
    // Decoded (non-16-bit) samples of one instrument, in bytes; files past it are
    // dropped like unreadable ones. Mapped samples do not count (page cache).
    static constexpr std::uint64_t maxDecodedBytes = std::uint64_t{2} << 30;

    // Reads an SFZ file and its samples. Null on failure, with *error (when given)
    // set to the message the user sees. Any thread except the audio thread.
    static std::shared_ptr<SfzBank> load(const QString& path, QString* error);
};

} // namespace tmb
