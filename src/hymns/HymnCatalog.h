#pragma once

// The hymn academy's lessons, read from the lesson files compiled into the
// resources (one UTF-8 JSON file per category, written by
// tools/hymns/generate_hymn_catalogue.py). The academy lessons (positions 0-119)
// give their first sixteen steps whole and the rest in the compact form; the
// hymnal and church lessons (120-300) use the compact form with the six diatonic
// chords and may carry a whole verse. A lesson that does not read cleanly is left
// out and named in the error text. GUI thread.

#include "hymns/HymnLesson.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <QVariantList>

namespace tmb {

class HymnCatalog {
public:
    enum class Group {
        Academy, // lessons whose steps are given whole or compact (positions 0-119)
        Hymnal,  // the hymnal and the church lessons (120-300)
    };

    // Adds the group's lessons from the built-in files, in catalogue order. False
    // when a file or a lesson could not be read; `error` then says which.
    bool loadBuiltIn(Group group, QString* error = nullptr);
    // Adds the group's lessons from one file's bytes; returns how many were added.
    int addFromJson(const QByteArray& json, Group group, QString* error = nullptr);
    void clear() { m_lessons.clear(); }

    int count() const { return static_cast<int>(m_lessons.size()); }
    const QList<HymnLesson>& lessons() const { return m_lessons; }
    // nullptr outside the catalogue.
    const HymnLesson* lesson(int index) const;

    // One map per lesson: index, id, title, category, progression, tip, bpm, stepCount.
    QVariantList asVariantList() const;
    // One map per step as the step cards show it in the key `transpose` semitones
    // from C: stepIndex, midiNote, noteName, chordName, lyric, solfa, fingerHint,
    // startBeat, durationBeats.
    static QVariantList stepsAsVariantList(const HymnLesson& lesson, int transpose);

    static const QStringList& builtInFiles();

private:
    QList<HymnLesson> m_lessons;
};

} // namespace tmb
