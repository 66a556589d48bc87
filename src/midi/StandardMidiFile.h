#pragma once

// Reads a Standard MIDI File (format 0 or 1) into plain event lists: every channel
// event with its channel, track and absolute tick and time, the meta events, the
// tempo map, and per track whether it was cut short.
//
// The input is treated as hostile: every length is checked in 64-bit arithmetic
// against the end of its chunk, variable-length numbers stop after four bytes, and
// nothing is allocated from a declared length (lists grow only with events actually
// present, up to maxEvents). A malformed event ends its track; the tracks before and
// after it are still read and the track is flagged.
//
// Threads: any thread; an instance is a plain value with no shared state.

#include "midi/MidiEvent.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <vector>

namespace tmb {

// One channel message from the file.
struct SmfChannelEvent {
    std::uint64_t tick = 0;   // absolute, from the start of its track
    double seconds = 0.0;     // the same moment through the tempo map
    std::uint16_t track = 0;  // index among the file's track chunks
    std::uint8_t status = 0;  // 0x80, 0x90, 0xA0, 0xB0, 0xC0, 0xD0 or 0xE0 (channel bits cleared)
    std::uint8_t channel = 0; // 0-15
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0; // 0 for program change and channel pressure

    // -8192..8191 for a pitch-bend message, otherwise 0.
    std::int16_t pitchBend() const noexcept;
    // The message as the engine takes it (a note on with velocity 0 stays a note on,
    // which every consumer treats as a note off).
    MidiEvent toMidiEvent() const noexcept;
};

// One meta event (status 0xFF) with its payload.
struct SmfMetaEvent {
    static constexpr std::uint8_t TrackName = 0x03;
    static constexpr std::uint8_t EndOfTrack = 0x2F;
    static constexpr std::uint8_t Tempo = 0x51;
    static constexpr std::uint8_t TimeSignature = 0x58;
    static constexpr std::uint8_t KeySignature = 0x59;

    std::uint64_t tick = 0;
    double seconds = 0.0;
    std::uint16_t track = 0;
    std::uint8_t type = 0;
    QByteArray data;
};

// A tempo in force from `tick` (and `seconds`) until the next change.
struct SmfTempoChange {
    std::uint64_t tick = 0;
    double seconds = 0.0;
    std::uint32_t microsecondsPerQuarter = 500000;

    double bpm() const noexcept { return 60000000.0 / microsecondsPerQuarter; }
};

struct SmfTrackInfo {
    QString name; // first track-name meta event, if any
    std::uint32_t channelEvents = 0;
    std::uint32_t sysExEvents = 0; // skipped; counted only
    std::uint64_t endTick = 0;     // tick of the last event read (end of track included)
    bool endOfTrackSeen = false;
    // The track stopped before its data did: the chunk runs past the end of the
    // file, an event runs past the chunk, or an event is malformed. `problem` says which.
    bool truncated = false;
    QString problem;
};

class StandardMidiFile {
public:
    // Larger files are refused before reading: songs are kilobytes, not megabytes.
    static constexpr std::int64_t maxFileBytes = 32 * 1024 * 1024;
    // Channel plus meta events over the whole file; more makes the file unreadable.
    static constexpr std::size_t maxEvents = 1'000'000;
    // Track chunks beyond this many are ignored (track indices are 16-bit).
    static constexpr std::size_t maxTracks = 65535;
    static constexpr std::uint32_t defaultMicrosecondsPerQuarter = 500000;

    // Reads and parses the file. On failure returns false, leaves this object empty
    // and puts a one-line reason in `error` (when given).
    bool load(const QString& path, QString* error = nullptr);
    bool parse(QByteArrayView bytes, QString* error = nullptr);

    int format() const noexcept { return m_format; }
    int declaredTrackCount() const noexcept { return m_declaredTracks; }
    // Ticks per quarter note for metrical time; 0 when the file counts in SMPTE frames.
    int ticksPerQuarter() const noexcept { return m_ticksPerQuarter; }
    // Ticks per second for SMPTE time (frames per second x ticks per frame); 0 otherwise.
    double smpteTicksPerSecond() const noexcept { return m_smpteTicksPerSecond; }

    // Every channel event of every track, ordered by tick, then track, then file order.
    const std::vector<SmfChannelEvent>& events() const noexcept { return m_events; }
    // Every meta event, in the same order.
    const std::vector<SmfMetaEvent>& metaEvents() const noexcept { return m_metaEvents; }
    // Starts at tick 0 (120 BPM unless the file sets a tempo there). SMPTE files
    // have no tempo: their map holds the single default entry, which time ignores.
    const std::vector<SmfTempoChange>& tempoMap() const noexcept { return m_tempoMap; }
    const std::vector<SmfTrackInfo>& tracks() const noexcept { return m_tracks; }

    // True when a track was cut short or fewer track chunks were found than declared.
    bool isTruncated() const noexcept;
    // The first reason the file is incomplete, or an empty text.
    QString truncationReason() const;

    double secondsAtTick(std::uint64_t tick) const noexcept;
    // Time of the last event of any track, end-of-track events included.
    double durationSeconds() const noexcept;

private:
    void clear();
    void buildTempoMap();
    void assignSeconds();

    int m_format = 0;
    int m_declaredTracks = 0;
    int m_ticksPerQuarter = 0;
    double m_smpteTicksPerSecond = 0.0;
    std::vector<SmfChannelEvent> m_events;
    std::vector<SmfMetaEvent> m_metaEvents;
    std::vector<SmfTempoChange> m_tempoMap;
    std::vector<SmfTrackInfo> m_tracks;
};

} // namespace tmb
