#pragma once

// Chord names and note spelling shared by the keyboard display, the hymn academy,
// the arranger's degree chords and the offline chord tool. Pure functions; any thread.

#include <QString>

#include <cstdint>

namespace tmb {

// Pitch classes 0-11 spelled C, C#, D, Eb, E, F, F#, G, Ab, A, Bb, B.
QString pitchClassName(int pitchClass);
// "C4" for 60, "Bb4" for 70, "C-1" for 0: the octave is note / 12 - 1.
QString midiNoteToDisplayName(int note);

// Names what is held from its pitch-class mask (bit n = pitch class n) and its
// lowest note: "—" for nothing, the note with its octave for a single pitch class,
// else the first root from C upwards whose chord template equals the mask exactly,
// with "/bass" when the lowest note is not the root, or "<bass> polychord".
QString recognizeChord(std::uint16_t pitchClassMask, int lowestNote);

// Transposes the leading root of a chord symbol ("Bb7" by 2 is "C7"); the rest,
// a slash bass included, is kept. Symbols that do not start with A-G stay as they are.
QString transposeChordSymbol(const QString& symbol, int semitones);

// The diatonic degrees I, ii, iii, IV, V, vi of the arranger's chord pads.
struct ChordDegree {
    int degree;    // 1-6
    int semitones; // root above the key's tonic
    bool minor;
    const char* roman;
};
// Clamped to 1-6.
const ChordDegree& chordDegree(int degree);
// The degree a one-finger chord key selects: white keys their own degree in C, B the
// fifth, a black key the degree of the white key below it.
int smartChordDegreeForNote(int note);

} // namespace tmb
