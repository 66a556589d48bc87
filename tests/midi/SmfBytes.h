#pragma once

// Builds Standard MIDI File bytes by hand for the reader and renderer tests.

#include <QByteArray>

#include <cstdint>
#include <initializer_list>

namespace tmb::test {

inline QByteArray varLen(std::uint32_t value) {
    QByteArray out(1, static_cast<char>(value & 0x7F));
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
    return "MThd" + be32(6) +
           bytes({format >> 8, format & 0xFF, tracks >> 8, tracks & 0xFF, division >> 8 & 0xFF,
                  division & 0xFF});
}

// A chunk with its true length, or with `declaredLength` when given.
inline QByteArray chunk(const char* id, const QByteArray& body, std::int64_t declaredLength = -1) {
    return QByteArray(id, 4) +
           be32(static_cast<std::uint32_t>(declaredLength < 0 ? body.size() : declaredLength)) + body;
}

inline QByteArray track(const QByteArray& events, std::int64_t declaredLength = -1) {
    return chunk("MTrk", events, declaredLength);
}

inline QByteArray endOfTrack(std::uint32_t delta = 0) {
    return varLen(delta) + bytes({0xFF, 0x2F, 0x00});
}

inline QByteArray tempo(std::uint32_t delta, std::uint32_t usPerQuarter) {
    return varLen(delta) + bytes({0xFF, 0x51, 0x03}) + be32(usPerQuarter).mid(1);
}

// A channel event with its status byte (statusByte includes the channel).
inline QByteArray midiMessage(std::uint32_t delta, int statusByte, int data1, int data2 = -1) {
    return varLen(delta) + (data2 < 0 ? bytes({statusByte, data1}) : bytes({statusByte, data1, data2}));
}

} // namespace tmb::test
