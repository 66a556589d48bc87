#include "ChordNames.h"

#include <algorithm>
#include <array>

namespace tmb {

namespace {

constexpr const char* pitchClassNames[12] = {"C", "C#", "D", "Eb", "E", "F", "F#", "G", "Ab", "A", "Bb", "B"};

struct ChordTemplate {
    std::uint16_t mask; // bit n = interval n above the root
    const char* suffix;
};

constexpr std::uint16_t bits(std::initializer_list<int> intervals) {
    std::uint16_t mask = 0;
    for (int i : intervals)
        mask = static_cast<std::uint16_t>(mask | (1u << i));
    return mask;
}

constexpr ChordTemplate chordTemplates[] = {
    {bits({0, 4, 7}), ""},         {bits({0, 3, 7}), "m"},
    {bits({0, 3, 6}), "dim"},      {bits({0, 4, 8}), "aug"},
    {bits({0, 5, 7}), "sus4"},     {bits({0, 2, 7}), "sus2"},
    {bits({0, 4, 7, 11}), "maj7"}, {bits({0, 4, 7, 10}), "7"},
    {bits({0, 3, 7, 10}), "m7"},   {bits({0, 3, 7, 11}), "m(maj7)"},
    {bits({0, 2, 4, 7}), "add9"},  {bits({0, 4, 7, 9}), "6"},
    {bits({0, 3, 7, 9}), "m6"},
};

constexpr ChordDegree degrees[6] = {
    {1, 0, false, "I"},  {2, 2, true, "ii"}, {3, 4, true, "iii"},
    {4, 5, false, "IV"}, {5, 7, false, "V"}, {6, 9, true, "vi"},
};

// C C# D Eb E F F# G Ab A Bb B
constexpr int smartDegreeOfPitchClass[12] = {1, 1, 2, 2, 3, 4, 4, 5, 5, 6, 6, 5};

// The mask seen from `root`: bit (p - root) mod 12 for every pitch class p.
std::uint16_t rotateToRoot(std::uint16_t mask, int root) {
    const unsigned m = mask & 0xFFFu;
    return static_cast<std::uint16_t>(((m >> root) | (m << (12 - root))) & 0xFFFu);
}

} // namespace

QString pitchClassName(int pitchClass) {
    return QString::fromLatin1(pitchClassNames[((pitchClass % 12) + 12) % 12]);
}

QString midiNoteToDisplayName(int note) {
    // Integer division: notes 0-11 are octave -1.
    return QStringLiteral("%1%2").arg(pitchClassName(note % 12)).arg(note / 12 - 1);
}

QString recognizeChord(std::uint16_t pitchClassMask, int lowestNote) {
    const std::uint16_t mask = pitchClassMask & 0xFFFu;
    if (mask == 0) return QStringLiteral("—");
    if ((mask & (mask - 1)) == 0) return midiNoteToDisplayName(lowestNote);
    const int bass = ((lowestNote % 12) + 12) % 12;
    for (int root = 0; root < 12; ++root) {
        const std::uint16_t rotated = rotateToRoot(mask, root);
        for (const ChordTemplate& chord : chordTemplates) {
            if (rotated != chord.mask) continue;
            QString name = pitchClassName(root) + QString::fromLatin1(chord.suffix);
            if (bass != root) name += QLatin1Char('/') + pitchClassName(bass);
            return name;
        }
    }
    return QStringLiteral("%1 polychord").arg(pitchClassName(bass));
}

QString transposeChordSymbol(const QString& symbol, int semitones) {
    if (semitones == 0 || symbol.isEmpty()) return symbol;
    const QChar letter = symbol.at(0).toUpper();
    static constexpr int letterPitch[7] = {9, 11, 0, 2, 4, 5, 7}; // A B C D E F G
    if (letter < QLatin1Char('A') || letter > QLatin1Char('G')) return symbol;
    int root = letterPitch[letter.unicode() - 'A'];
    int restStart = 1;
    if (symbol.size() > 1 && symbol.at(1) == QLatin1Char('#')) {
        root = (root + 1) % 12;
        restStart = 2;
    } else if (symbol.size() > 1 && symbol.at(1) == QLatin1Char('b')) {
        root = (root + 11) % 12;
        restStart = 2;
    }
    const int shifted = (root + (semitones % 12) + 12) % 12;
    return pitchClassName(shifted) + symbol.mid(restStart);
}

const ChordDegree& chordDegree(int degree) {
    return degrees[std::clamp(degree, 1, 6) - 1];
}

int smartChordDegreeForNote(int note) {
    return smartDegreeOfPitchClass[((note % 12) + 12) % 12];
}

} // namespace tmb
