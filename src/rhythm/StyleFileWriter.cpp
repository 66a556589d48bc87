#include "StyleFileWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace tmb {

namespace {

constexpr int division = 480;

const char* const kSecMarkers[songSectionCount] = {"Intro A", "Main A",     "Main B",  "Main C",
                                                   "Main D",  "Fill In AA", "Ending A"};

// One event without its delta time.
struct MidiEvItem {
    std::uint32_t tick;
    QByteArray bytes;
};

void appendVarLen(QByteArray& out, std::uint32_t value) {
    char groups[5];
    int count = 0;
    do {
        groups[count++] = static_cast<char>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (count > 1)
        out.append(static_cast<char>(groups[--count] | 0x80));
    out.append(groups[0]);
}

void appendBigEndian(QByteArray& out, std::uint32_t value, int byteCount) {
    for (int shift = 8 * (byteCount - 1); shift >= 0; shift -= 8)
        out.append(static_cast<char>((value >> shift) & 0xFF));
}

QByteArray meta(int type, const QByteArray& data) {
    QByteArray event;
    event.append(static_cast<char>(0xFF));
    event.append(static_cast<char>(type));
    appendVarLen(event, static_cast<std::uint32_t>(data.size()));
    return event + data;
}

QByteArray channelEvent(int status, int first, int second = -1) {
    QByteArray event;
    event.append(static_cast<char>(status));
    event.append(static_cast<char>(first));
    if (second >= 0) event.append(static_cast<char>(second));
    return event;
}

// Events before the first bar, in the order a reader expects them.
void appendTickZeroEvents(std::vector<MidiEvItem>& events, const StylePattern& style) {
    // NaN would pass std::clamp untouched; it counts as the slowest tempo.
    const double bpm = std::isnan(style.bpm) ? 45.0 : std::clamp(static_cast<double>(style.bpm), 45.0, 220.0);
    QByteArray tempo;
    appendBigEndian(tempo, static_cast<std::uint32_t>(std::lround(60'000'000.0 / bpm)), 3);
    int numerator = 3, denominatorPower = 2;
    if (style.stepsPerBar > 12) {
        numerator = 4;
    } else if (style.beatsPerBar == 6) {
        numerator = 6;
        denominatorPower = 3;
    }
    const char meter[] = {static_cast<char>(numerator), static_cast<char>(denominatorPower), 24, 8};
    events.push_back({0, meta(0x51, tempo)});
    events.push_back({0, meta(0x58, QByteArray(meter, 4))});
    events.push_back({0, meta(0x06, "SFF1")});
    events.push_back({0, meta(0x03, style.name.toUtf8())});
    const int programs[][2] = {{0xCA, style.bassGmProg},
                               {0xCB, style.rhythmGmProg},
                               {0xCC, style.harmonyGmProg},
                               {0xCD, style.leadGmProg}};
    for (const auto& [status, program] : programs)
        events.push_back({0, channelEvent(status, std::clamp(program, 0, 127))});
}

} // namespace

QByteArray buildYamahaSff1StyBytes(const StylePattern& style) {
    const std::uint32_t ticksPerBar = style.stepsPerBar > 12 ? 4 * division : 3 * division;
    const int steps = std::clamp(style.stepsPerBar, 12, maxStepsPerBar);
    const std::uint32_t ticksPerStep = ticksPerBar / static_cast<std::uint32_t>(steps);
    const std::uint32_t gate = ticksPerStep / 2;

    std::vector<MidiEvItem> events;
    appendTickZeroEvents(events, style);
    for (int s = 0; s < songSectionCount; ++s) {
        const std::uint32_t barTick = static_cast<std::uint32_t>(s) * ticksPerBar;
        events.push_back({barTick, meta(0x06, kSecMarkers[s])});
        for (int step = 0; step < steps; ++step) {
            const std::uint32_t tick = barTick + static_cast<std::uint32_t>(step) * ticksPerStep;
            for (int lane = 0; lane < drumLaneCount; ++lane) {
                const int velocity = style.velocity(static_cast<SongSection>(s), lane, step);
                if (velocity == 0) continue;
                const int note = std::clamp(style.laneNotes[static_cast<std::size_t>(lane)], 24, 96);
                events.push_back({tick, channelEvent(0x99, note, velocity & 0x7F)});
                events.push_back({tick + gate, channelEvent(0x89, note, 0)});
            }
        }
    }
    // Equal ticks keep their order: markers before their bar's notes, a note on
    // before the note off of the same step.
    std::stable_sort(events.begin(), events.end(),
                     [](const MidiEvItem& a, const MidiEvItem& b) { return a.tick < b.tick; });

    QByteArray trackData;
    std::uint32_t previous = 0;
    for (const MidiEvItem& event : events) {
        appendVarLen(trackData, event.tick - previous);
        trackData += event.bytes;
        previous = event.tick;
    }
    appendVarLen(trackData, 0);
    trackData += meta(0x2F, {});

    QByteArray out("MThd");
    appendBigEndian(out, 6, 4);
    appendBigEndian(out, 0, 2); // format 0
    appendBigEndian(out, 1, 2); // one track
    appendBigEndian(out, division, 2);
    out += "MTrk";
    appendBigEndian(out, static_cast<std::uint32_t>(trackData.size()), 4);
    out += trackData;
    out += "CASM";
    appendBigEndian(out, 0, 4);
    return out;
}

} // namespace tmb
