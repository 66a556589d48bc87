#pragma once

// Style files built byte by byte for the reader, arranger and renderer tests: one
// track written at absolute ticks, then wrapped with a header and a trailing chunk
// the reader must ignore.

#include "../midi/SmfBytes.h"

#include <QFile>
#include <QList>

namespace tmb::test {

class StyTrack {
public:
    StyTrack& at(std::uint32_t tick, const QByteArray& event) {
        m_events += varLen(tick - m_tick) + event;
        m_tick = tick;
        return *this;
    }
    // `channel` counts from 1, as musicians do.
    StyTrack& note(std::uint32_t tick, int channel, int note, int velocity) {
        return at(tick, bytes({0x90 | (channel - 1), note, velocity}));
    }
    StyTrack& program(std::uint32_t tick, int channel, int program) {
        return at(tick, bytes({0xC0 | (channel - 1), program}));
    }
    StyTrack& meta(std::uint32_t tick, int type, const QByteArray& data) {
        return at(tick, bytes({0xFF, type}) + varLen(static_cast<std::uint32_t>(data.size())) + data);
    }
    StyTrack& marker(std::uint32_t tick, const char* text) { return meta(tick, 0x06, text); }
    StyTrack& tempo(std::uint32_t tick, std::uint32_t microsecondsPerQuarter) {
        return meta(tick, 0x51, be32(microsecondsPerQuarter).mid(1));
    }
    StyTrack& meter(std::uint32_t tick, int numerator, int denominatorPower) {
        return meta(tick, 0x58, bytes({numerator, denominatorPower, 24, 8}));
    }
    // Raw bytes after the events so far (for broken tracks), no end of track.
    StyTrack& raw(const QByteArray& data) {
        m_events += data;
        m_open = true;
        return *this;
    }
    QByteArray chunk(std::int64_t declaredLength = -1) const {
        return track(m_open ? m_events : m_events + endOfTrack(), declaredLength);
    }

private:
    QByteArray m_events;
    std::uint32_t m_tick = 0;
    bool m_open = false;
};

inline QByteArray styFile(int division, const QList<QByteArray>& tracks) {
    QByteArray out = header(1, static_cast<int>(tracks.size()), division);
    for (const QByteArray& t : tracks)
        out += t;
    return out + chunk("CASM", bytes({0x43, 0x53, 0x45, 0x47}));
}

inline bool writeBytes(const QString& path, const QByteArray& data) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

} // namespace tmb::test
