#pragma once

// One hymn lesson: its melody steps with the left-hand chord under each, the words,
// sol-fa and fingering that the step cards show, and where its tune and words come
// from. Written in C; the engine plays a lesson in the keyboard's key. Plain values.

#include <QList>
#include <QString>

#include <array>

namespace tmb {

struct HymnStep {
    int midiNote = 60;     // melody note as written (key of C)
    QList<int> chordNotes; // left-hand voicing as written
    QString chordName;     // "G7 (V)"
    QString lyric;         // syllable sung on the note; empty when the lesson has no words
    QString solfa;         // "s₁ (5)"
    QString fingerHint;    // "RH 1 (Thumb)"
    double startBeat = 0.0;
    double durationBeats = 1.0;
};

// Where a tune or a text comes from: our own, or a published work with the people
// behind it and their years of death (0 when unknown).
struct HymnSource {
    struct Person {
        QString name;
        QString role; // "author", "translator", "composer", "arranger"
        int died = 0;
    };
    bool original = true;
    QString work;
    int published = 0; // year of first publication, 0 when unknown
    bool traditional = false;
    QList<Person> people;
};

struct HymnLesson {
    int position = 0; // catalogue position
    QString id;
    QString title;
    QString category;
    QString progression;
    QString tip;
    int styleIndex = 24;
    float tempo = 78.0f;
    QList<HymnStep> steps;
    QString fullLyrics; // the whole verse, when the lesson carries one
    HymnSource tune;
    HymnSource text;

    // Where the last step ends, in beats.
    double lengthBeats() const;
};

// The left-hand chords of the compact lesson form, by code: 1 C, 2 Dm7, 3 Em7, 4 F,
// 5 G7, 6 Am, 17 C7, 27 D7; any other code is C.
struct HymnChord {
    const char* name;
    std::array<int, 4> notes;
    int noteCount;
};
const HymnChord& hymnChordForCode(int code);

// Tonic sol-fa of a note in C with its degree: 55 "s₁ (5)", 60 "d (1)", 73 "de¹ (#8)".
QString hymnSolfa(int note);
// The right-hand finger that plays a melody note: "RH 1 (Thumb)" below C#4 up to
// "RH 5 (Pinky)" above G4.
QString hymnFingerHint(int note);

// A step of the compact form: the chord, sol-fa and fingering come from the tables.
struct HymnCompactNote {
    int note = 60;
    int chordCode = 1;
    QString lyric;
    double lengthBeats = 1.0;
};
// Steps in order, each starting where the previous one ends (the first at 0).
QList<HymnStep> buildHymnSteps(const QList<HymnCompactNote>& notes);

// The text of the lyrics view: the lesson's own verse when it has one, otherwise
// its title, category, tip and the steps' words, chords and sol-fa six to a line.
QString hymnFullLyricsText(const HymnLesson& lesson);

} // namespace tmb
