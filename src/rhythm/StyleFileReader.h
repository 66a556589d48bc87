#pragma once

// Reading arranger-keyboard style files (".sty": a Standard MIDI File with section
// markers, followed by chunks this reader never looks at). Only the MIDI part is
// read: tempo, meter, section markers, drums, the accompaniment notes of the bass,
// chord and pad channels, and program changes. What the file does not say comes
// from a built-in style chosen by keywords in the file name.
//
// The bytes are hostile: every length is checked against the end of the data in
// 64 bits, a track stops at its first incomplete event, and whatever was found up
// to there is used. Pure functions; any thread.

#include "rhythm/StylePattern.h"

#include <QByteArrayView>
#include <QString>

#include <vector>

namespace tmb {

// Larger files are refused unread.
inline constexpr qint64 maxStyleFileBytes = 16 * 1024 * 1024;

// What a file name tells about a style (the first keyword class that matches).
struct StyleFileClass {
    const char* description;
    int archetype;
    float bpm;
    int progressionIndex;
    int kit;
    int programs[4]; // rhythm, bass, lead, harmony
};
// `name` as displayed: lower case not needed.
StyleFileClass classifyStyleFileName(const QString& displayName);
// The file's base name with "_" and "-" as blanks, white space simplified;
// "USB Flash Style" when nothing is left.
QString styleDisplayName(const QString& baseName);

// The style a file of `bytes` at `absolutePath` makes, starting from the catalogue
// style its name class points at. Never fails: a file without a readable MIDI part
// gives a copy of that style under the file's name.
StylePattern styleFromStyBytes(QByteArrayView bytes, const QString& absolutePath,
                               const std::vector<StylePattern>& catalogue);

} // namespace tmb
