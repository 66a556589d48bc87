#pragma once

// The project file: one JSON document holding a whole performance setup (slot
// presets, sound, zones, controller mappings, recorded notes, tempo and the LV2
// plug-in). A path ending in ".vks" is a bundle folder holding "project.json".
//
// Reading treats the file as hostile: the read is bounded, every value is checked
// and kept within the range its setter keeps, and a failed read changes nothing.
// Writing is atomic: the old file stays whole until the new one is complete.
//
// Threads: any; the functions share no state.

#include "audio/PianoParameters.h"
#include "midi/MidiControllerMapping.h"
#include "midi/PianoRollNote.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

namespace tmb {

struct ProjectContent {
    QString projectName = QStringLiteral("Untitled Session");
    float bpm = 112.0f;
    QString mainPresetId;
    QString layer2PresetId;
    QString splitPresetId;
    QString activeLv2Uri;
    // The main preset's instrument file; written only when the catalogue holds the
    // main preset.
    std::optional<QString> mainPresetFilePath;
    PianoParameters piano;
    WorkstationState zones;
    std::vector<MidiControllerMapping> mappings;
    std::vector<PianoRollNote> notes;
};

namespace ProjectDocument {

inline constexpr float minBpm = 40.0f;
inline constexpr float maxBpm = 240.0f;
// Far above any real project (20,000 notes take about 4 MB).
inline constexpr qint64 maxFileBytes = 32 * 1024 * 1024;

// The JSON file a save to `path` writes, and the one a load of `path` reads (a
// folder means its "project.json").
QString savedDocumentPath(const QString& path);
QString loadedDocumentPath(const QString& path);

// The indented document.
QByteArray toJson(const ProjectContent& content, const QDateTime& savedAtUtc);

// Creates the bundle folders when `path` ends in ".vks", then replaces the document
// atomically. On failure `error` reads "Cannot write project file: <document>".
bool save(const QString& path, const ProjectContent& content, QString* error);

// `content` comes in holding the caller's values. The name, tempo, preset ids, the
// main preset's file and the LV2 URI are always replaced (by defaults when absent);
// the sound and zone records only when their object holds keys, the mappings only
// when the array holds valid ones; the notes always. On failure `content` is left
// as it was and `error` says why.
bool parse(const QByteArray& bytes, ProjectContent& content, QString* error);
bool load(const QString& path, ProjectContent& content, QString* error);

// Copies the fields a project stores (the seventeen sound keys, the eleven zone
// keys) and nothing else: pedal states and the like stay as `to` has them.
void copyStoredFields(const PianoParameters& from, PianoParameters& to);
void copyStoredFields(const WorkstationState& from, WorkstationState& to);

} // namespace ProjectDocument

} // namespace tmb
