// libFuzzer target for the Standard MIDI File reader (README.md "Fuzzing" says how to
// run it). It traps on broken promises: sorted events, valid messages, finite times.

#include "midi/StandardMidiFile.h"

#include <cmath>
#include <cstdint>

namespace {

void require(bool condition) {
    if (!condition) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tmb::StandardMidiFile file;
    QString error;
    const bool ok = file.parse(QByteArrayView(data, static_cast<qsizetype>(size)), &error);
    if (!ok) {
        require(!error.isEmpty() && file.events().empty() && file.tracks().empty());
        return 0;
    }
    require(file.format() == 0 || file.format() == 1);
    require(file.events().size() + file.metaEvents().size() <= tmb::StandardMidiFile::maxEvents);
    std::uint64_t lastTick = 0;
    double lastSeconds = 0.0;
    for (const tmb::SmfChannelEvent& event : file.events()) {
        require(event.tick >= lastTick && event.seconds >= lastSeconds && std::isfinite(event.seconds));
        require(event.status >= 0x80 && event.status <= 0xE0 && (event.status & 0x0F) == 0);
        require(event.channel < 16 && event.data1 < 128 && event.data2 < 128);
        require(event.track < file.tracks().size());
        lastTick = event.tick;
        lastSeconds = event.seconds;
        const tmb::MidiEvent midi = event.toMidiEvent();
        require(midi.pitchBend >= -8192 && midi.pitchBend <= 8191);
    }
    require(!file.tempoMap().empty() && file.tempoMap().front().tick == 0);
    for (const tmb::SmfTempoChange& change : file.tempoMap())
        require(change.microsecondsPerQuarter > 0 && std::isfinite(change.seconds));
    require(std::isfinite(file.durationSeconds()) && file.durationSeconds() >= lastSeconds);
    require(file.isTruncated() == !file.truncationReason().isEmpty());
    return 0;
}
