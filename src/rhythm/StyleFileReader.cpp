#include "StyleFileReader.h"

#include "BeatSequencer.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <span>

namespace tmb {

namespace {

constexpr int snareLane = 1;
constexpr int tomLane = 5;
constexpr int rideLane = 6;
constexpr int defaultDivision = 480;
// Where the MIDI part may begin: some files carry a short preamble.
constexpr qint64 headerSearchLimit = 4096;

// Keyword classes, tried in order; the last one applies when none matches.
struct KeywordClass {
    std::initializer_list<const char*> keywords;
    StyleFileClass style;
};

// clang-format off
const KeywordClass keywordClasses[] = {
    {{"mugithi", "kikuyu", "1man", "kinanda"},
     {"Flash Disk .STY • Kenyan Mugithi 1-4-5-4 Guitar & Kinanda", 0, 118, 2, 0, {25, 33, 25, 21}}},
    {{"rhumba", "rumba", "bolero", "odemba"},
     {"Flash Disk .STY • Congolese Rhumba Mi-Solo & Brass", 4, 96, 3, 0, {27, 33, 24, 61}}},
    {{"worship", "ballad", "adoration", "slow"},
     {"Flash Disk .STY • Sanctuary Worship Pad, Rhodes & Acoustic Kit", 24, 74, 3, 8, {4, 35, 2, 89}}},
    {{"reggae", "roots", "dancehall"},
     {"Flash Disk .STY • Roots Reggae Skank, Bubble Organ & Horns", 16, 78, 4, 0, {27, 33, 61, 16}}},
    {{"benga", "kamba", "twist", "chakacha", "luo", "kalenjin"},
     {"Flash Disk .STY • East African Benga / Chakacha / Twist", 21, 126, 1, 0, {24, 34, 27, 61}}},
    {{"country", "waltz", "train"},
     {"Flash Disk .STY • Country Gospel Guitar & Upright Bass", 12, 115, 6, 0, {25, 32, 27, 3}}},
    {{"mutuashi", "soul"},
     {"Flash Disk .STY • 6/8 Gospel & Mutuashi Groove", 25, 84, 5, 0, {4, 33, 16, 48}}},
    {{"praise", "shout", "pentecost", "highlife", "mzansi"},
     {"Flash Disk .STY • High-Praise Church Shout & Brass", 27, 128, 1, 0, {1, 36, 16, 61}}},
};
const StyleFileClass fallbackClass{
    "Flash Disk .STY • Seben & Praise Full-Band Arranger", 8, 124, 1, 0, {28, 36, 27, 61}};
// clang-format on

// Drum notes of lanes 0-6; every other note plays on lane 7 (percussion).
struct DrumNoteLane {
    int note;
    int lane;
};
// clang-format off
constexpr DrumNoteLane drumNoteLanes[] = {
    {35, 0}, {36, 0}, {38, 1}, {40, 1}, {37, 2}, {39, 2}, {75, 2}, {76, 2}, {77, 2},
    {42, 3}, {44, 3}, {62, 3}, {46, 4}, {63, 4}, {64, 4},
    {41, 5}, {43, 5}, {45, 5}, {47, 5}, {48, 5}, {50, 5}, {60, 5}, {61, 5}, {65, 5}, {66, 5},
    {49, 6}, {51, 6}, {52, 6}, {53, 6}, {55, 6}, {56, 6}, {57, 6}, {67, 6}, {68, 6}};
// clang-format on

int laneForDrumNote(int note) {
    for (const DrumNoteLane& entry : drumNoteLanes)
        if (entry.note == note) return entry.lane;
    return drumLaneCount - 1;
}

// The accompaniment channel roles (MIDI channels 1-16 as musicians count them).
constexpr int bassChannels[] = {2, 11};
constexpr int chord1Channels[] = {3, 4, 12};
constexpr int chord2Channels[] = {7, 13};
constexpr int padChannels[] = {1, 5, 6, 14, 15, 16};

bool isOneOf(int channel, std::span<const int> channels) {
    return std::find(channels.begin(), channels.end(), channel) != channels.end();
}

std::uint32_t bigEndian(const std::uint8_t* p, int count) {
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i)
        value = (value << 8) | p[i];
    return value;
}

// One event of a track as the walk finds it.
struct TrackEvent {
    std::uint64_t tick = 0;
    std::uint8_t status = 0; // with the channel bits; 0xFF meta
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;
    std::uint8_t metaType = 0;
    QByteArrayView metaData;
};

// Walks the events of one track chunk; stops at the first one that is incomplete
// or malformed (running status with none in force, a delta of more than four
// bytes, a length past the chunk's end, a system message SMF does not allow).
class TrackWalker {
public:
    TrackWalker(const std::uint8_t* data, std::uint64_t begin, std::uint64_t end)
        : m_data(data)
        , m_pos(begin)
        , m_end(end) {}

    bool next(TrackEvent& event) {
        std::uint32_t delta = 0;
        if (!readVarLen(delta) || m_pos >= m_end) return false;
        std::uint8_t status = m_data[m_pos];
        if (status >= 0x80) {
            ++m_pos;
        } else if (m_running != 0) {
            status = m_running;
        } else {
            return false;
        }
        event = TrackEvent{};
        event.status = status;
        if (status < 0xF0) {
            m_running = status;
            const int kind = status & 0xF0;
            const std::uint64_t count = (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
            if (m_end - m_pos < count) return false;
            event.data1 = m_data[m_pos] & 0x7F;
            if (count == 2) event.data2 = m_data[m_pos + 1] & 0x7F;
            m_pos += count;
        } else if (status == 0xFF || status == 0xF0 || status == 0xF7) {
            m_running = 0; // system and meta events cancel running status
            if (status == 0xFF) {
                if (m_pos >= m_end) return false;
                event.metaType = m_data[m_pos++];
                if (event.metaType == 0x2F) return false; // end of track
            }
            std::uint32_t length = 0;
            if (!readVarLen(length) || m_end - m_pos < length) return false;
            event.metaData = QByteArrayView(m_data + m_pos, static_cast<qsizetype>(length));
            m_pos += length;
        } else {
            return false;
        }
        m_tick += delta;
        event.tick = m_tick;
        return true;
    }

private:
    bool readVarLen(std::uint32_t& value) {
        value = 0;
        for (int i = 0; i < 4; ++i) {
            if (m_pos >= m_end) return false;
            const std::uint8_t byte = m_data[m_pos++];
            value = (value << 7) | (byte & 0x7Fu);
            if ((byte & 0x80) == 0) return true;
        }
        return false; // a fifth byte is not a MIDI quantity
    }

    const std::uint8_t* m_data;
    std::uint64_t m_pos;
    std::uint64_t m_end;
    std::uint64_t m_tick = 0;
    std::uint8_t m_running = 0;
};

struct TrackRange {
    std::uint64_t begin;
    std::uint64_t end;
};

struct SectionMarkerSpan {
    std::uint64_t tick;
    int section;
    bool formatMarker;
};

// The section a marker text opens, or -1; `format` for the format markers.
int sectionOfMarker(const QString& text, bool& format) {
    format = text == QLatin1String("sff1") || text == QLatin1String("sff2") || text == QLatin1String("sint");
    if (format) return static_cast<int>(SongSection::VerseA);
    if (text.startsWith(QLatin1String("intro"))) return static_cast<int>(SongSection::Intro);
    const char* mains[] = {"main a", "main b", "main c", "main d"};
    for (int i = 0; i < 4; ++i)
        if (text.startsWith(QLatin1String(mains[i]))) return static_cast<int>(SongSection::VerseA) + i;
    if (text.startsWith(QLatin1String("fill")) || text.startsWith(QLatin1String("break")))
        return static_cast<int>(SongSection::Fill);
    if (text.startsWith(QLatin1String("ending"))) return static_cast<int>(SongSection::Ending);
    return -1;
}

// Everything the MIDI part of a file says, read into `style`.
class MidiPartReader {
public:
    MidiPartReader(const std::uint8_t* data, std::uint64_t size, StylePattern& style)
        : m_data(data)
        , m_size(size)
        , m_style(style) {}

    // False when the file has no MIDI header (the template stays as it is).
    bool read() {
        std::uint64_t header = 0;
        const std::uint64_t limit = std::min<std::uint64_t>(m_size, headerSearchLimit);
        while (header + 15 <= limit && std::memcmp(m_data + header, "MThd", 4) != 0)
            ++header;
        if (header + 15 > limit) return false;

        const std::uint64_t headerLength = bigEndian(m_data + header + 4, 4);
        const int trackCount = static_cast<int>(bigEndian(m_data + header + 10, 2));
        const auto division = static_cast<std::int16_t>(bigEndian(m_data + header + 12, 2));
        m_division = division < 1 ? defaultDivision : division;

        const auto templateGrid = m_style.velocityGrid;
        m_style.velocityGrid = {};
        m_style.arrangerSteps = {};
        m_style.hasStyleParts = false;
        if (trackCount == 0) {
            m_style.velocityGrid = templateGrid;
            m_style.beatsPerBar = 4;
            m_style.stepsPerBar = 16;
            return true;
        }
        findTracks(header + 8 + headerLength, trackCount);
        readMeta();
        applyMeter();
        m_laneNotes = m_style.laneNotes;
        readNotes();
        if (m_drumNotes == 0) {
            m_style.velocityGrid = templateGrid;
        } else {
            fillSectionsWithoutDrums();
        }
        return true;
    }

    int numerator() const { return m_numerator; }
    int denominator() const { return m_denominator; }
    bool foundDrums() const { return m_drumNotes > 0; }

private:
    void findTracks(std::uint64_t position, int trackCount) {
        for (int i = 0; i < trackCount; ++i) {
            if (position > m_size || m_size - position < 8 || std::memcmp(m_data + position, "MTrk", 4) != 0)
                break;
            const std::uint64_t begin = position + 8;
            const std::uint64_t length = bigEndian(m_data + position + 4, 4);
            m_tracks.push_back({begin, std::min(begin + length, m_size)});
            position = begin + length;
        }
    }

    template <typename Visit>
    void walkTracks(Visit visit) const {
        for (const TrackRange& range : m_tracks) {
            TrackWalker walker(m_data, range.begin, range.end);
            TrackEvent event;
            while (walker.next(event))
                visit(event);
        }
    }

    void readMeta() {
        walkTracks([this](const TrackEvent& e) {
            if (e.status != 0xFF) return;
            const QByteArrayView data = e.metaData;
            if (e.metaType == 0x51 && data.size() == 3 && m_tempo <= 0.0f) {
                const std::uint32_t microseconds =
                    bigEndian(reinterpret_cast<const std::uint8_t*>(data.data()), 3);
                if (microseconds != 0)
                    m_tempo = std::clamp(60'000'000.0f / static_cast<float>(microseconds), 45.0f, 220.0f);
            } else if (e.metaType == 0x58 && data.size() >= 2) {
                m_numerator = std::max<int>(static_cast<std::uint8_t>(data[0]), 1);
                m_denominator = 1 << std::min<int>(static_cast<std::uint8_t>(data[1]), 4);
            } else if ((e.metaType == 0x01 || e.metaType == 0x06) && !data.isEmpty()) {
                const QString text = QString::fromLatin1(data.data(), data.size()).trimmed().toLower();
                bool format = false;
                const int section = sectionOfMarker(text, format);
                if (section >= 0) m_spans.push_back({e.tick, section, format});
            }
        });
        // Equal ticks keep file order: "SFF1" then "Intro A" at 0 leaves the intro.
        std::stable_sort(
            m_spans.begin(), m_spans.end(),
            [](const SectionMarkerSpan& a, const SectionMarkerSpan& b) { return a.tick < b.tick; });
    }

    void applyMeter() {
        int steps = 16;
        int beats = 4;
        int quartersPerBar = 4;
        if ((m_numerator == 3 && m_denominator == 4) || (m_numerator == 6 && m_denominator == 8)) {
            steps = 12;
            beats = m_numerator;
            quartersPerBar = 3;
        }
        m_style.beatsPerBar = beats;
        m_style.stepsPerBar = steps;
        // A division of 1-3 ticks would give steps of no ticks at all.
        if (quartersPerBar * m_division / steps < 1) m_division = defaultDivision;
        m_ticksPerBar = static_cast<std::uint64_t>(quartersPerBar) * static_cast<std::uint64_t>(m_division);
        m_ticksPerStep = m_ticksPerBar / static_cast<std::uint64_t>(steps);
        if (m_tempo > 0.0f) m_style.bpm = m_tempo;
    }

    void readNotes() {
        walkTracks([this](const TrackEvent& e) {
            const int kind = e.status & 0xF0;
            const int channel = (e.status & 0x0F) + 1; // 1-16 as musicians count
            if (kind == 0xC0) takeProgram(channel, e.data1);
            if (kind == 0x90 && e.data2 > 0) placeNote(e.tick, channel, e.data1, e.data2);
        });
    }

    void takeProgram(int channel, int program) {
        if (isOneOf(channel, chord1Channels)) m_style.rhythmGmProg = program;
        if (isOneOf(channel, chord2Channels)) m_style.harmonyGmProg = program;
        if (isOneOf(channel, bassChannels)) m_style.bassGmProg = program;
        // Channel 1 carries pad notes but never chooses the lead sound.
        if (channel != 1 && isOneOf(channel, padChannels)) m_style.leadGmProg = program;
    }

    void placeNote(std::uint64_t tick, int channel, int note, int velocity) {
        int section = static_cast<int>(SongSection::VerseA);
        std::uint64_t position = tick % m_ticksPerBar;
        if (m_spans.empty()) {
            section = static_cast<int>(SongSection::VerseA) + static_cast<int>((tick / m_ticksPerBar) % 4);
        } else {
            const auto after =
                std::upper_bound(m_spans.cbegin(), m_spans.cend(), tick,
                                 [](std::uint64_t t, const SectionMarkerSpan& s) { return t < s.tick; });
            if (after != m_spans.cbegin()) {
                const SectionMarkerSpan& span = *(after - 1);
                if (span.formatMarker) return;
                section = span.section;
                position = (tick - span.tick) % m_ticksPerBar;
            }
        }
        const int step = static_cast<int>(std::min<std::uint64_t>(
            position / m_ticksPerStep, static_cast<std::uint64_t>(m_style.stepsPerBar - 1)));
        const auto v = static_cast<std::uint8_t>(velocity);
        const bool drums = channel == 9 || channel == 10;

        if (drums) {
            const int lane = laneForDrumNote(note);
            std::uint8_t& cell = m_style.velocityGrid[section][lane][step];
            cell = std::max(cell, v);
            if (lane >= 2) m_laneNotes[lane] = note;
            ++m_drumNotes;
            m_sectionHasDrums[section] = true;
            return;
        }
        StyleArrangerStep& slot = m_style.arrangerSteps[section][step];
        // The first rule that fits takes the note: a low note is bass on any channel.
        if (isOneOf(channel, bassChannels) || (note >= 24 && note <= 47)) {
            slot.bassPitchClass = static_cast<std::uint8_t>(note % 12);
            slot.bassVelocity = std::max(slot.bassVelocity, v);
            slot.bassLength = 2;
        } else if (isOneOf(channel, chord1Channels)) {
            if (addOffset(slot.chord1Notes, slot.chord1Count, note - 60, -12, 24)) {
                slot.chord1Velocity = std::max(slot.chord1Velocity, v);
                slot.chord1Length = 2;
            }
        } else if (isOneOf(channel, chord2Channels)) {
            if (addOffset(slot.chord2Notes, slot.chord2Count, note - 60, -12, 24)) {
                slot.chord2Velocity = std::max(slot.chord2Velocity, v);
                slot.chord2Length = 3;
            }
        } else if (isOneOf(channel, padChannels)) {
            if (addOffset(slot.padNotes, slot.padCount, note - 72, -16, 24)) {
                slot.padVelocity = std::max(slot.padVelocity, v);
                slot.padLength = 2;
            }
        } else {
            return; // channel 8 plays nothing of the band
        }
        m_sectionHasParts[section] = true;
        m_style.hasStyleParts = true;
    }

    // Stores one more note of a voicing unless it is full; false when it was.
    template <std::size_t N>
    static bool addOffset(std::array<std::int8_t, N>& notes, std::uint8_t& count, int offset, int low,
                          int high) {
        if (count >= N) return false;
        notes[count++] = static_cast<std::int8_t>(std::clamp(offset, low, high));
        return true;
    }

    void fillSectionsWithoutDrums() {
        m_style.laneNotes = m_laneNotes;
        int source = static_cast<int>(SongSection::VerseA);
        if (!m_sectionHasDrums[source]) {
            for (SongSection s : {SongSection::Intro, SongSection::VerseB, SongSection::Chorus,
                                  SongSection::Bridge, SongSection::Fill, SongSection::Ending}) {
                if (m_sectionHasDrums[static_cast<int>(s)]) {
                    source = static_cast<int>(s);
                    break;
                }
            }
        }
        const int last = m_style.stepsPerBar - 1;
        for (int s = 0; s < songSectionCount; ++s) {
            if (!m_sectionHasDrums[s]) {
                SectionGrid& grid = m_style.velocityGrid[s];
                grid = m_style.velocityGrid[source];
                if (s == static_cast<int>(SongSection::Fill)) {
                    for (int i = 0; i < 4; ++i) {
                        grid[snareLane][last - 3 + i] = static_cast<std::uint8_t>(100 + 6 * i);
                        grid[tomLane][last - 3 + i] = static_cast<std::uint8_t>(92 + 6 * i);
                    }
                } else if (s == static_cast<int>(SongSection::Ending)) {
                    grid[rideLane][0] = 122;
                }
            }
            if (m_style.hasStyleParts && !m_sectionHasParts[s])
                m_style.arrangerSteps[s] = m_style.arrangerSteps[source];
        }
    }

    const std::uint8_t* m_data;
    std::uint64_t m_size;
    StylePattern& m_style;
    int m_division = defaultDivision;
    std::vector<TrackRange> m_tracks;
    std::vector<SectionMarkerSpan> m_spans;
    float m_tempo = 0.0f; // none found
    int m_numerator = 4;
    int m_denominator = 4;
    std::uint64_t m_ticksPerBar = 1920;
    std::uint64_t m_ticksPerStep = 120;
    std::array<int, drumLaneCount> m_laneNotes{};
    int m_drumNotes = 0;
    std::array<bool, songSectionCount> m_sectionHasDrums{};
    std::array<bool, songSectionCount> m_sectionHasParts{};
};

} // namespace

QString styleDisplayName(const QString& baseName) {
    QString name = baseName;
    name.replace(QLatin1Char('_'), QLatin1Char(' ')).replace(QLatin1Char('-'), QLatin1Char(' '));
    name = name.simplified();
    return name.isEmpty() ? QStringLiteral("USB Flash Style") : name;
}

StyleFileClass classifyStyleFileName(const QString& displayName) {
    const QString lower = displayName.toLower();
    for (const KeywordClass& entry : keywordClasses) {
        for (const char* keyword : entry.keywords) {
            if (!lower.contains(QLatin1String(keyword))) continue;
            StyleFileClass style = entry.style;
            if (style.archetype == 0 && lower.contains(QLatin1String("kinanda"))) {
                style.archetype = 1; // the accordion variant of the Mugithi band
                style.programs[2] = 21;
            }
            return style;
        }
    }
    return fallbackClass;
}

StylePattern styleFromStyBytes(QByteArrayView bytes, const QString& absolutePath,
                               const std::vector<StylePattern>& catalogue) {
    const QFileInfo info(absolutePath);
    const QString displayName = styleDisplayName(info.completeBaseName());
    const StyleFileClass fileClass = classifyStyleFileName(displayName);

    StylePattern style;
    if (!catalogue.empty())
        style = catalogue[static_cast<std::size_t>(
            std::min(static_cast<int>(catalogue.size()) - 1, fileClass.archetype))];
    style.id = QStringLiteral("sty_") +
               info.completeBaseName().toLower().replace(QLatin1Char(' '), QLatin1Char('_'));
    style.name = displayName;
    style.genre = QStringLiteral("USB Flash STY");
    style.subDescription = QString::fromUtf8(fileClass.description);
    style.defaultProgIdx = fileClass.progressionIndex;
    style.arrangerArchetype = fileClass.archetype;
    style.bpm = fileClass.bpm;
    style.drumKitProgram = fileClass.kit;
    style.rhythmGmProg = fileClass.programs[0];
    style.bassGmProg = fileClass.programs[1];
    style.leadGmProg = fileClass.programs[2];
    style.harmonyGmProg = fileClass.programs[3];
    style.isCustomSty = true;
    style.styFilePath = absolutePath;

    MidiPartReader reader(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                          static_cast<std::uint64_t>(bytes.size()), style);
    if (reader.read() && reader.foundDrums()) {
        style.subDescription = QStringLiteral("USB Flash .STY (%1 BPM • %2/%3) • %4")
                                   .arg(std::lround(style.bpm))
                                   .arg(reader.numerator())
                                   .arg(reader.denominator())
                                   .arg(info.fileName());
    }
    return style;
}

// ---------------------------------------------------------------- BeatSequencer

int BeatSequencer::importStyFile(const QString& path, QString* error) {
    auto fail = [error](const QString& text) {
        if (error != nullptr) *error = text;
        return -1;
    };
    const QFileInfo info(path);
    if (!info.exists() || !info.isFile()) return fail(QStringLiteral("File not found: %1").arg(path));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return fail(QStringLiteral("Cannot open .STY file: %1").arg(path));
    // Sized from the file (a read of the largest size allocates all of it); one byte
    // more shows a file that grew meanwhile.
    const qint64 size = file.size();
    const QByteArray bytes = size > maxStyleFileBytes ? QByteArray() : file.read(size + 1);
    file.close();
    if (size > maxStyleFileBytes || bytes.size() <= 17 || bytes.size() > maxStyleFileBytes)
        return fail(QStringLiteral("Invalid or empty .STY file: %1").arg(info.fileName()));

    const StylePattern style = styleFromStyBytes(bytes, info.absoluteFilePath(), m_styles);
    int index = -1;
    for (int i = 0; i < static_cast<int>(m_styles.size()); ++i) {
        const StylePattern& existing = m_styles[static_cast<std::size_t>(i)];
        if (existing.isCustomSty && existing.styFilePath == style.styFilePath) index = i;
    }
    if (index >= 0) {
        m_styles[static_cast<std::size_t>(index)] = style; // a second import refreshes the first
    } else {
        m_styles.push_back(style);
        index = static_cast<int>(m_styles.size()) - 1;
    }
    selectStyle(index);
    return index;
}

} // namespace tmb
