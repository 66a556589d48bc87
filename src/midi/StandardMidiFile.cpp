#include "StandardMidiFile.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstring>

namespace tmb {

namespace {

std::uint32_t readBe32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

std::uint16_t readBe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

QString textFromBytes(const QByteArray& bytes) {
    // Text events have no declared encoding: UTF-8 when it is valid, else Latin-1.
    return bytes.isValidUtf8() ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes);
}

// Walks the bytes of one track chunk. Positions are 64-bit and never pass `end`.
class TrackCursor {
public:
    enum class Read { Ok, End, Overlong };

    TrackCursor(const std::uint8_t* data, std::uint64_t begin, std::uint64_t end)
        : m_data(data)
        , m_pos(begin)
        , m_end(end) {}

    bool atEnd() const { return m_pos >= m_end; }
    std::uint64_t remaining() const { return m_end - m_pos; }

    bool readByte(std::uint8_t* out) {
        if (m_pos >= m_end) return false;
        *out = m_data[m_pos++];
        return true;
    }

    // A variable-length quantity of at most four bytes (values up to 0x0FFFFFFF).
    Read readVarLen(std::uint32_t* out) {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            std::uint8_t byte = 0;
            if (!readByte(&byte)) return Read::End;
            value = (value << 7) | (byte & 0x7F);
            if ((byte & 0x80) == 0) {
                *out = value;
                return Read::Ok;
            }
        }
        return Read::Overlong;
    }

    const std::uint8_t* current() const { return m_data + m_pos; }
    void skip(std::uint64_t count) { m_pos += count; } // callers check remaining() first

private:
    const std::uint8_t* m_data;
    std::uint64_t m_pos;
    std::uint64_t m_end;
};

} // namespace

std::int16_t SmfChannelEvent::pitchBend() const noexcept {
    if (status != MidiEvent::PitchBend) return 0;
    return static_cast<std::int16_t>(((data2 & 0x7F) << 7 | (data1 & 0x7F)) - 8192);
}

MidiEvent SmfChannelEvent::toMidiEvent() const noexcept {
    MidiEvent event;
    event.status = status;
    event.channel = static_cast<std::uint8_t>(channel & 0x0F);
    event.data1 = data1;
    event.data2 = data2;
    event.pitchBend = pitchBend();
    return event;
}

void StandardMidiFile::clear() {
    m_format = 0;
    m_declaredTracks = 0;
    m_ticksPerQuarter = 0;
    m_smpteTicksPerSecond = 0.0;
    m_events.clear();
    m_metaEvents.clear();
    m_tempoMap.clear();
    m_tracks.clear();
}

bool StandardMidiFile::load(const QString& path, QString* error) {
    clear();
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        if (error)
            *error =
                QStringLiteral("Cannot open %1: %2")
                    .arg(path, QFileInfo::exists(path) ? file.errorString() : QStringLiteral("no such file"));
        return false;
    }
    if (file.size() > maxFileBytes) {
        if (error)
            *error = QStringLiteral("%1 is too large for a MIDI file (%2 bytes, at most %3)")
                         .arg(path)
                         .arg(file.size())
                         .arg(maxFileBytes);
        return false;
    }
    // Exactly the size checked above, even if the file grows meanwhile.
    QByteArray bytes(static_cast<qsizetype>(file.size()), Qt::Uninitialized);
    const qint64 got = file.read(bytes.data(), bytes.size());
    if (got < 0) {
        if (error) *error = QStringLiteral("Cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    bytes.truncate(static_cast<qsizetype>(got));
    return parse(bytes, error);
}

bool StandardMidiFile::parse(QByteArrayView bytes, QString* error) {
    clear();
    const auto fail = [&](const QString& why) {
        clear();
        if (error) *error = why;
        return false;
    };
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const auto size = static_cast<std::uint64_t>(bytes.size());
    if (size > static_cast<std::uint64_t>(maxFileBytes))
        return fail(QStringLiteral("The file is too large for a MIDI file (%1 bytes)").arg(size));
    if (size < 8 || std::memcmp(data, "MThd", 4) != 0)
        return fail(QStringLiteral("Not a Standard MIDI File (no MThd header)"));
    const std::uint64_t headerLength = readBe32(data + 4);
    if (headerLength < 6) return fail(QStringLiteral("The MIDI file header is too short"));
    if (8 + headerLength > size) return fail(QStringLiteral("The MIDI file header is cut short"));

    const int format = readBe16(data + 8);
    const int declaredTracks = readBe16(data + 10);
    const std::uint16_t division = readBe16(data + 12);
    if (format == 2)
        return fail(QStringLiteral("MIDI file format 2 (independent sequences) is not supported"));
    if (format > 2) return fail(QStringLiteral("Unknown MIDI file format %1").arg(format));
    if (division & 0x8000) {
        // SMPTE time: the high byte is minus the frame rate, the low byte ticks per frame.
        const int framesPerSecond = -static_cast<int>(static_cast<std::int8_t>(division >> 8));
        const int ticksPerFrame = division & 0xFF;
        if ((framesPerSecond != 24 && framesPerSecond != 25 && framesPerSecond != 29 &&
             framesPerSecond != 30) ||
            ticksPerFrame == 0)
            return fail(QStringLiteral("The MIDI file has an invalid SMPTE time division"));
        // 29 stands for 29.97 frames per second (drop-frame).
        m_smpteTicksPerSecond = (framesPerSecond == 29 ? 29.97 : framesPerSecond) * ticksPerFrame;
    } else {
        // Zero ticks per quarter would divide by zero; such files are read at 480,
        // the resolution the program itself writes.
        m_ticksPerQuarter = division == 0 ? 480 : division;
    }
    m_format = format;
    m_declaredTracks = declaredTracks;

    // Chunks follow the header; unknown ones are skipped by their length. A chunk
    // that claims more bytes than the file holds is read up to the end of the file.
    std::uint64_t pos = 8 + headerLength;
    while (size - pos >= 8) {
        const std::uint8_t* id = data + pos;
        const std::uint64_t length = readBe32(data + pos + 4);
        const std::uint64_t begin = pos + 8;
        const bool clipped = length > size - begin;
        const std::uint64_t end = clipped ? size : begin + length;
        pos = end;
        if (std::memcmp(id, "MTrk", 4) != 0 || m_tracks.size() >= maxTracks) continue;

        const auto trackIndex = static_cast<std::uint16_t>(m_tracks.size());
        SmfTrackInfo& info = m_tracks.emplace_back();
        TrackCursor cursor(data, begin, end);
        std::uint64_t tick = 0;
        std::uint8_t running = 0;
        const auto stop = [&](const QString& why) {
            info.truncated = true;
            // Running out of bytes in a chunk the file cut off is the file's fault.
            info.problem = clipped && cursor.atEnd()
                               ? QStringLiteral("the track is cut short by the end of the file")
                               : why;
        };

        while (true) {
            if (m_events.size() + m_metaEvents.size() > maxEvents)
                return fail(QStringLiteral("The MIDI file holds more than %1 events").arg(maxEvents));
            if (cursor.atEnd()) {
                if (clipped) stop({});
                break;
            }
            std::uint32_t delta = 0;
            const auto deltaRead = cursor.readVarLen(&delta);
            if (deltaRead == TrackCursor::Read::Overlong) {
                stop(QStringLiteral("a delta time is longer than four bytes"));
                break;
            }
            std::uint8_t byte = 0;
            if (deltaRead == TrackCursor::Read::End || !cursor.readByte(&byte)) {
                stop(QStringLiteral("an event runs past the end of the track"));
                break;
            }
            tick += delta;

            if (byte == 0xFF) {
                std::uint8_t type = 0;
                std::uint32_t length32 = 0;
                if (!cursor.readByte(&type)) {
                    stop(QStringLiteral("a meta event runs past the end of the track"));
                    break;
                }
                const auto lengthRead = cursor.readVarLen(&length32);
                if (lengthRead == TrackCursor::Read::Overlong) {
                    stop(QStringLiteral("a meta event length is longer than four bytes"));
                    break;
                }
                if (lengthRead == TrackCursor::Read::End || length32 > cursor.remaining()) {
                    stop(QStringLiteral("a meta event runs past the end of the track"));
                    break;
                }
                SmfMetaEvent& meta = m_metaEvents.emplace_back();
                meta.tick = tick;
                meta.track = trackIndex;
                meta.type = type;
                meta.data = QByteArray(reinterpret_cast<const char*>(cursor.current()),
                                       static_cast<qsizetype>(length32));
                cursor.skip(length32);
                info.endTick = tick;
                if (type == SmfMetaEvent::TrackName && info.name.isEmpty())
                    info.name = textFromBytes(meta.data);
                if (type == SmfMetaEvent::EndOfTrack) {
                    info.endOfTrackSeen = true;
                    break;
                }
                continue;
            }
            if (byte == 0xF0 || byte == 0xF7) {
                std::uint32_t length32 = 0;
                const auto lengthRead = cursor.readVarLen(&length32);
                if (lengthRead == TrackCursor::Read::Overlong) {
                    stop(QStringLiteral("a system-exclusive length is longer than four bytes"));
                    break;
                }
                if (lengthRead == TrackCursor::Read::End || length32 > cursor.remaining()) {
                    stop(QStringLiteral("a system-exclusive event runs past the end of the track"));
                    break;
                }
                cursor.skip(length32);
                ++info.sysExEvents;
                info.endTick = tick;
                continue;
            }
            if (byte >= 0xF0) {
                // System common and real-time messages have no place in a file.
                stop(QStringLiteral("unexpected status byte 0x%1").arg(byte, 2, 16, QLatin1Char('0')));
                break;
            }

            // A channel message, with its own status or the running one.
            std::uint8_t status = byte;
            std::uint8_t firstData = 0;
            bool haveFirst = false;
            if (byte < 0x80) {
                if (running == 0) {
                    stop(QStringLiteral("a data byte comes before any status byte"));
                    break;
                }
                status = running;
                firstData = byte;
                haveFirst = true;
            }
            running = status;
            const std::uint8_t type = status & 0xF0;
            const int dataCount =
                (type == MidiEvent::ProgramChange || type == MidiEvent::ChannelPressure) ? 1 : 2;
            std::uint8_t values[2] = {firstData, 0};
            bool ok = true;
            for (int i = haveFirst ? 1 : 0; i < dataCount && ok; ++i)
                ok = cursor.readByte(&values[i]);
            if (!ok) {
                stop(QStringLiteral("an event runs past the end of the track"));
                break;
            }
            if ((values[0] | values[1]) & 0x80) {
                stop(QStringLiteral("a status byte appears where a data byte belongs"));
                break;
            }
            SmfChannelEvent& event = m_events.emplace_back();
            event.tick = tick;
            event.track = trackIndex;
            event.status = type;
            event.channel = status & 0x0F;
            event.data1 = values[0];
            event.data2 = values[1];
            ++info.channelEvents;
            info.endTick = tick;
        }
    }

    // Tracks were appended one after another, so a stable sort by tick keeps track
    // order and file order for events at the same tick.
    const auto byTick = [](const auto& a, const auto& b) {
        return a.tick < b.tick;
    };
    std::stable_sort(m_events.begin(), m_events.end(), byTick);
    std::stable_sort(m_metaEvents.begin(), m_metaEvents.end(), byTick);
    buildTempoMap();
    assignSeconds();
    return true;
}

void StandardMidiFile::buildTempoMap() {
    m_tempoMap.assign(1, SmfTempoChange{0, 0.0, defaultMicrosecondsPerQuarter});
    if (m_ticksPerQuarter == 0) return;
    // Tempo events in any track set the tempo of the whole file; of several at one
    // tick the last one read wins.
    for (const SmfMetaEvent& meta : m_metaEvents) {
        if (meta.type != SmfMetaEvent::Tempo || meta.data.size() != 3) continue;
        const auto* p = reinterpret_cast<const std::uint8_t*>(meta.data.constData());
        const std::uint32_t value = (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
        if (value == 0) continue;
        if (m_tempoMap.back().tick == meta.tick)
            m_tempoMap.back().microsecondsPerQuarter = value;
        else
            m_tempoMap.push_back(SmfTempoChange{meta.tick, 0.0, value});
    }
    for (std::size_t i = 1; i < m_tempoMap.size(); ++i) {
        const SmfTempoChange& previous = m_tempoMap[i - 1];
        m_tempoMap[i].seconds = previous.seconds + static_cast<double>(m_tempoMap[i].tick - previous.tick) *
                                                       previous.microsecondsPerQuarter /
                                                       (1e6 * m_ticksPerQuarter);
    }
}

double StandardMidiFile::secondsAtTick(std::uint64_t tick) const noexcept {
    if (m_smpteTicksPerSecond > 0.0) return static_cast<double>(tick) / m_smpteTicksPerSecond;
    if (m_tempoMap.empty() || m_ticksPerQuarter == 0) return 0.0;
    // The last change at or before the tick.
    auto it = std::upper_bound(m_tempoMap.begin(), m_tempoMap.end(), tick,
                               [](std::uint64_t t, const SmfTempoChange& change) { return t < change.tick; });
    const SmfTempoChange& change = *(it - 1);
    return change.seconds + static_cast<double>(tick - change.tick) * change.microsecondsPerQuarter /
                                (1e6 * m_ticksPerQuarter);
}

void StandardMidiFile::assignSeconds() {
    for (SmfChannelEvent& event : m_events)
        event.seconds = secondsAtTick(event.tick);
    for (SmfMetaEvent& meta : m_metaEvents)
        meta.seconds = secondsAtTick(meta.tick);
    for (SmfTempoChange& change : m_tempoMap)
        change.seconds = secondsAtTick(change.tick);
}

bool StandardMidiFile::isTruncated() const noexcept {
    if (m_tracks.size() < static_cast<std::size_t>(m_declaredTracks)) return true;
    return std::any_of(m_tracks.begin(), m_tracks.end(), [](const SmfTrackInfo& t) { return t.truncated; });
}

QString StandardMidiFile::truncationReason() const {
    for (std::size_t i = 0; i < m_tracks.size(); ++i) {
        if (m_tracks[i].truncated) return QStringLiteral("track %1: %2").arg(i + 1).arg(m_tracks[i].problem);
    }
    if (m_tracks.size() < static_cast<std::size_t>(m_declaredTracks))
        return QStringLiteral("the file declares %1 tracks but holds %2")
            .arg(m_declaredTracks)
            .arg(m_tracks.size());
    return {};
}

double StandardMidiFile::durationSeconds() const noexcept {
    std::uint64_t last = 0;
    for (const SmfTrackInfo& track : m_tracks)
        last = std::max(last, track.endTick);
    return secondsAtTick(last);
}

} // namespace tmb
