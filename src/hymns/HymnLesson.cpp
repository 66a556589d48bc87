#include "HymnLesson.h"

#include <algorithm>

namespace tmb {

namespace {

constexpr HymnChord chordTable[] = {
    {"C (I)", {48, 52, 55, 0}, 3},    {"Dm7 (ii)", {50, 53, 57, 60}, 4}, {"Em7 (iii)", {40, 47, 52, 55}, 4},
    {"F (IV)", {41, 48, 53, 57}, 4},  {"G7 (V)", {43, 47, 50, 53}, 4},   {"Am (vi)", {45, 52, 57, 0}, 3},
    {"C7 (I7)", {48, 52, 55, 58}, 4}, {"D7 (II7)", {50, 54, 57, 60}, 4},
};

const char* const syllables[12] = {"d", "de", "r", "re", "m", "f", "fe", "s", "se", "l", "ta", "t"};
const char* const accidentals[12] = {"", "#", "", "#", "", "", "#", "", "#", "", "b", ""};
const int degrees[12] = {1, 1, 2, 2, 3, 4, 4, 5, 5, 6, 7, 7};

QString firstWord(const QString& text) {
    return text.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty);
}

} // namespace

double HymnLesson::lengthBeats() const {
    return steps.isEmpty() ? 0.0 : steps.constLast().startBeat + steps.constLast().durationBeats;
}

const HymnChord& hymnChordForCode(int code) {
    switch (code) {
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
        return chordTable[code - 1];
    case 17:
        return chordTable[6];
    case 27:
        return chordTable[7];
    default:
        return chordTable[0];
    }
}

QString hymnSolfa(int note) {
    // The octave from middle C: below it a subscript mark, above it a superscript
    // one and the degree counted on (d¹ is 8).
    const int pitchClass = ((note % 12) + 12) % 12;
    const int octave = (note - pitchClass) / 12 - 5;
    static const char16_t superscripts[] = {u'\u00B9', u'\u00B2', u'\u00B3'};
    QString mark;
    if (octave < 0) mark = QChar(0x2080 + std::min(-octave, 9)); // ₁, ₂, ...
    if (octave > 0) mark = QChar(superscripts[std::min(octave, 3) - 1]);
    const int degree = degrees[pitchClass] + 7 * std::max(octave, 0);
    return QStringLiteral("%1%2 (%3%4)")
        .arg(QLatin1String(syllables[pitchClass]), mark, QLatin1String(accidentals[pitchClass]))
        .arg(degree);
}

QString hymnFingerHint(int note) {
    if (note < 61) return QStringLiteral("RH 1 (Thumb)");
    if (note <= 62) return QStringLiteral("RH 2 (Index)");
    if (note <= 64) return QStringLiteral("RH 3 (Middle)");
    if (note <= 67) return QStringLiteral("RH 4 (Ring)");
    return QStringLiteral("RH 5 (Pinky)");
}

QList<HymnStep> buildHymnSteps(const QList<HymnCompactNote>& notes) {
    QList<HymnStep> steps;
    steps.reserve(notes.size());
    double start = 0.0;
    for (const HymnCompactNote& compact : notes) {
        const HymnChord& chord = hymnChordForCode(compact.chordCode);
        HymnStep step;
        step.midiNote = compact.note;
        step.chordNotes = QList<int>(chord.notes.begin(), chord.notes.begin() + chord.noteCount);
        step.chordName = QString::fromUtf8(chord.name);
        step.lyric = compact.lyric;
        step.solfa = hymnSolfa(compact.note);
        step.fingerHint = hymnFingerHint(compact.note);
        step.startBeat = start;
        step.durationBeats = compact.lengthBeats;
        start += compact.lengthBeats;
        steps.append(step);
    }
    return steps;
}

QString hymnFullLyricsText(const HymnLesson& lesson) {
    if (!lesson.fullLyrics.trimmed().isEmpty()) return lesson.fullLyrics;
    QString text = lesson.title + QLatin1Char('\n');
    text += QStringLiteral("Category: %1  |  Progression: %2\n").arg(lesson.category, lesson.progression);
    text += QStringLiteral("Coaching Tip: %1\n\n").arg(lesson.tip);
    text += QStringLiteral("STEP-BY-STEP LYRICS, CHORDS & TONIC SOL-FA:\n");
    for (qsizetype first = 0; first < lesson.steps.size(); first += 6) {
        QString words;
        QString solfa;
        for (qsizetype i = first; i < std::min(first + 6, lesson.steps.size()); ++i) {
            const HymnStep& step = lesson.steps.at(i);
            words += step.lyric + QStringLiteral(" [") + firstWord(step.chordName) + QStringLiteral("]  ");
            solfa += firstWord(step.solfa) + QStringLiteral("  ");
        }
        text += QStringLiteral("  Lyrics: ") + words.trimmed() + QLatin1Char('\n');
        text += QStringLiteral("  Sol-fa: ") + solfa.trimmed() + QStringLiteral("\n\n");
    }
    return text.trimmed();
}

} // namespace tmb
