#pragma once

// Builds Standard MIDI File bytes by hand for the reader and renderer tests.

#include <QByteArray>

#include <cstdint>
#include <initializer_list>

namespace tmb::test {

inline QByteArray varLen(std::uint32_t value) {
    QByteArray out;
    out.prepend(static_cast<char>(value & 0x7F));
    while ((value >>= 7) != 0)
        out.prepend(static_cast<char>((value & 0x7F) | 0x80));
    return out;
}

inline QByteArray bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}

inline QByteArray be32(std::uint32_t v) {
    return bytes({int(v >> 24) & 0xFF, int(v >> 16) & 0xFF, int(v >> 8) & 0xFF, int(v) & 0xFF});
}

inline QByteArray header(int format, int tracks, int division) {
    return QByteArray("MThd") + be32(6) +
           bytes({format >> 8, format & 0xFF, tracks >> 8, tracks & 0xFF, (division >> 8) & 0xFF,
                  division & 0xFF});
}

// A chunk with its true length, or with `declaredLength` when given.
inline QByteArray chunk(const char* id, const QByteArray& body, std::int64_t declaredLength = -1) {
    const auto length = declaredLength < 0 ? static_cast<std::uint32_t>(body.size())
                                           : static_cast<std::uint32_t>(declaredLength);
    return QByteArray(id, 4) + be32(length) + body;
}

inline QByteArray track(const QByteArray& events, std::int64_t declaredLength = -1) {
    return chunk("MTrk", events, declaredLength);
}

inline QByteArray endOfTrack(std::uint32_t delta = 0) {
    return varLen(delta) + bytes({0xFF, 0x2F, 0x00});
}

inline QByteArray tempo(std::uint32_t delta, std::uint32_t microsecondsPerQuarter) {
    return varLen(delta) +
           bytes({0xFF, 0x51, 0x03, int(microsecondsPerQuarter >> 16) & 0xFF,
                  int(microsecondsPerQuarter >> 8) & 0xFF, int(microsecondsPerQuarter) & 0xFF});
}

// A channel event with its status byte (statusByte includes the channel).
inline QByteArray midiMessage(std::uint32_t delta, int statusByte, int data1, int data2 = -1) {
    QByteArray out = varLen(delta) + bytes({statusByte, data1});
    if (data2 >= 0) out.append(static_cast<char>(data2));
    return out;
}

} // namespace tmb::test
