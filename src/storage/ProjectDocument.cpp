#include "ProjectDocument.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSet>

#include <algorithm>
#include <cmath>

namespace tmb::ProjectDocument {

namespace {

// Each stored field with its key and the range its setter keeps.
struct FloatField {
    const char* key;
    float PianoParameters::*field;
    float low;
    float high;
};
struct IntField {
    const char* key;
    std::int32_t PianoParameters::*field;
    int low;
    int high;
};
struct ZoneFlag {
    const char* key;
    bool WorkstationState::*field;
};
struct ZoneNumber {
    const char* key;
    std::int32_t WorkstationState::*field;
    int low;
    int high;
};

constexpr FloatField floatFields[] = {
    {"brightness", &PianoParameters::brightness, 0.0f, 1.0f},
    {"damperResonance", &PianoParameters::damperResonance, 0.0f, 1.0f},
    {"stringResonance", &PianoParameters::stringResonance, 0.0f, 1.0f},
    {"keyOffVolume", &PianoParameters::keyOffVolume, 0.0f, 1.0f},
    {"pedalNoiseVolume", &PianoParameters::pedalNoiseVolume, 0.0f, 1.0f},
    {"lidPosition", &PianoParameters::lidPosition, 0.1f, 1.0f},
    {"reverbAmount", &PianoParameters::reverbAmount, 0.0f, 1.0f},
    {"reverbRoomSize", &PianoParameters::reverbRoomSize, 0.1f, 0.98f},
    {"chorusAmount", &PianoParameters::chorusAmount, 0.0f, 1.0f},
    {"delayAmount", &PianoParameters::delayAmount, 0.0f, 1.0f},
    {"driveAmount", &PianoParameters::driveAmount, 0.0f, 1.0f},
    {"compressorAmount", &PianoParameters::compressorAmount, 0.0f, 1.0f},
    {"stereoWidth", &PianoParameters::stereoWidth, 0.0f, 1.6f},
    {"tuningHz", &PianoParameters::tuningHz, 415.0f, 466.0f},
};
constexpr IntField intFields[] = {
    {"transposeSemitones", &PianoParameters::transposeSemitones, -12, 12},
    {"octaveShift", &PianoParameters::octaveShift, -3, 3},
    {"touchCurve", &PianoParameters::touchCurve, 0, 3},
};
constexpr ZoneFlag zoneFlags[] = {
    {"layer2Enabled", &WorkstationState::layer2Enabled},
    {"splitEnabled", &WorkstationState::splitEnabled},
    {"velocitySwitchEnabled", &WorkstationState::velocitySwitchEnabled},
    {"arpeggiatorEnabled", &WorkstationState::arpeggiatorEnabled},
    {"chordMemoryEnabled", &WorkstationState::chordMemoryEnabled},
};
constexpr ZoneNumber zoneNumbers[] = {
    {"splitKey", &WorkstationState::splitKey, 21, 96},
    {"velocityThreshold", &WorkstationState::velocityThreshold, 20, 126},
    {"arpMode", &WorkstationState::arpMode, 0, 3},
    {"arpOctaves", &WorkstationState::arpOctaves, 1, 3},
    {"layer2OctaveOffset", &WorkstationState::layer2OctaveOffset, -2, 2},
    {"splitOctaveOffset", &WorkstationState::splitOctaveOffset, -2, 2},
};

// The piano roll's shortest note.
constexpr double minNoteBeats = 0.0625;

QString key(const char* name) {
    return QString::fromLatin1(name);
}

// A number within [low, high]; `fallback` when the value is no number. The clamp
// runs in double, so a huge number cannot turn into an infinite float.
double number(const QJsonValue& value, double fallback, double low, double high) {
    if (!value.isDouble()) return fallback;
    return std::clamp(value.toDouble(), low, high);
}

// An integer within [low, high]; `fallback` when the value is no whole number.
int integer(const QJsonValue& value, int fallback, int low, int high) {
    if (!value.isDouble()) return fallback;
    const double v = value.toDouble();
    if (std::floor(v) != v) return fallback;
    return static_cast<int>(std::clamp(v, static_cast<double>(low), static_cast<double>(high)));
}

float finiteFloat(const QJsonValue& value, float fallback) {
    if (!value.isDouble()) return fallback;
    const float v = static_cast<float>(value.toDouble());
    return std::isfinite(v) ? v : fallback;
}

QJsonObject pianoObject(const PianoParameters& piano) {
    QJsonObject object;
    for (const FloatField& f : floatFields)
        object.insert(key(f.key), static_cast<double>(piano.*f.field));
    for (const IntField& f : intFields)
        object.insert(key(f.key), piano.*f.field);
    return object;
}

QJsonObject zonesObject(const WorkstationState& zones) {
    QJsonObject object;
    for (const ZoneFlag& f : zoneFlags)
        object.insert(key(f.key), zones.*f.field);
    for (const ZoneNumber& f : zoneNumbers)
        object.insert(key(f.key), zones.*f.field);
    return object;
}

PianoParameters readPiano(const QJsonObject& object, PianoParameters piano) {
    const PianoParameters defaults;
    for (const FloatField& f : floatFields)
        piano.*f.field =
            static_cast<float>(number(object.value(key(f.key)), defaults.*f.field, f.low, f.high));
    for (const IntField& f : intFields)
        piano.*f.field = integer(object.value(key(f.key)), defaults.*f.field, f.low, f.high);
    return piano;
}

WorkstationState readZones(const QJsonObject& object, WorkstationState zones) {
    const WorkstationState defaults;
    for (const ZoneFlag& f : zoneFlags)
        zones.*f.field = object.value(key(f.key)).toBool(defaults.*f.field);
    for (const ZoneNumber& f : zoneNumbers)
        zones.*f.field = integer(object.value(key(f.key)), defaults.*f.field, f.low, f.high);
    return zones;
}

// Mappings whose number is no MIDI number are dropped; a range that is no finite
// number gets the default.
std::vector<MidiControllerMapping> readMappings(const QJsonArray& array) {
    std::vector<MidiControllerMapping> mappings;
    for (const QJsonValue& element : array) {
        if (!element.isObject()) continue;
        const QJsonObject o = element.toObject();
        const QJsonValue number = o.value(QLatin1String("ccOrNote"));
        MidiControllerMapping m;
        if (!number.isUndefined()) {
            if (!number.isDouble()) continue;
            const double n = number.toDouble();
            if (std::floor(n) != n || n < 0.0 || n > 127.0) continue;
            m.ccOrNote = static_cast<int>(n);
        }
        m.isNote = o.value(QLatin1String("isNote")).toBool(false);
        m.fromControllerPort = o.value(QLatin1String("fromControllerPort")).toBool(false);
        m.controlName = o.value(QLatin1String("controlName")).toString();
        m.targetParameter = o.value(QLatin1String("targetParameter")).toString();
        m.minValue = finiteFloat(o.value(QLatin1String("minValue")), 0.0f);
        m.maxValue = finiteFloat(o.value(QLatin1String("maxValue")), 1.0f);
        mappings.push_back(m);
    }
    return mappings;
}

// Notes keep a MIDI pitch and velocity, a start at or after 0 and a length; ids that
// are missing, out of range or taken get fresh ones, so edits by id stay unambiguous.
std::vector<PianoRollNote> readNotes(const QJsonArray& array) {
    constexpr double maxBeats = 1.0e7; // far past any take; keeps sums finite
    std::vector<PianoRollNote> notes;
    notes.reserve(static_cast<std::size_t>(array.size()));
    std::vector<std::size_t> needId;
    QSet<std::uint32_t> taken;
    std::uint32_t largest = 0;
    for (const QJsonValue& element : array) {
        if (!element.isObject()) continue;
        const QJsonObject o = element.toObject();
        PianoRollNote note;
        const QJsonValue id = o.value(QLatin1String("id"));
        const double idNumber = id.isDouble() ? id.toDouble() : 0.0;
        const bool idUsable = idNumber >= 1.0 && idNumber <= 4294967295.0 &&
                              std::floor(idNumber) == idNumber &&
                              !taken.contains(static_cast<std::uint32_t>(idNumber));
        if (idUsable) {
            note.id = static_cast<std::uint32_t>(idNumber);
            taken.insert(note.id);
            largest = std::max(largest, note.id);
        } else {
            needId.push_back(notes.size());
        }
        note.trackIndex = integer(o.value(QLatin1String("trackIndex")), 0, 0, 15);
        note.pitch = integer(o.value(QLatin1String("pitch")), 60, 0, 127);
        note.velocity = integer(o.value(QLatin1String("velocity")), 100, 1, 127);
        note.startBeats = number(o.value(QLatin1String("startBeats")), 0.0, 0.0, maxBeats);
        note.durationBeats = number(o.value(QLatin1String("durationBeats")), 0.5, minNoteBeats, maxBeats);
        notes.push_back(note);
    }
    for (const std::size_t index : needId) {
        while (taken.contains(++largest) || largest == 0) {
        }
        notes[index].id = largest;
        taken.insert(largest);
    }
    return notes;
}

} // namespace

QString savedDocumentPath(const QString& path) {
    if (path.endsWith(QLatin1String(".vks"), Qt::CaseInsensitive))
        return path + QStringLiteral("/project.json");
    return path;
}

QString loadedDocumentPath(const QString& path) {
    if (QFileInfo(path).isDir()) return path + QStringLiteral("/project.json");
    return path;
}

QByteArray toJson(const ProjectContent& content, const QDateTime& savedAtUtc) {
    QJsonObject root;
    root.insert(QLatin1String("formatVersion"), QStringLiteral("1.0.0"));
    root.insert(QLatin1String("application"), QStringLiteral("Tembora"));
    root.insert(QLatin1String("projectName"), content.projectName);
    root.insert(QLatin1String("savedAt"), savedAtUtc.toUTC().toString(Qt::ISODate));
    root.insert(QLatin1String("bpm"), static_cast<double>(content.bpm));
    root.insert(QLatin1String("mainPresetId"), content.mainPresetId);
    root.insert(QLatin1String("layer2PresetId"), content.layer2PresetId);
    root.insert(QLatin1String("splitPresetId"), content.splitPresetId);
    root.insert(QLatin1String("activeLv2Uri"), content.activeLv2Uri);
    if (content.mainPresetFilePath)
        root.insert(QLatin1String("mainPresetFilePath"), *content.mainPresetFilePath);
    root.insert(QLatin1String("pianoParameters"), pianoObject(content.piano));
    root.insert(QLatin1String("workstation"), zonesObject(content.zones));

    QJsonArray mappings;
    for (const MidiControllerMapping& m : content.mappings)
        mappings.append(QJsonObject{{QLatin1String("ccOrNote"), m.ccOrNote},
                                    {QLatin1String("isNote"), m.isNote},
                                    {QLatin1String("fromControllerPort"), m.fromControllerPort},
                                    {QLatin1String("controlName"), m.controlName},
                                    {QLatin1String("targetParameter"), m.targetParameter},
                                    {QLatin1String("minValue"), static_cast<double>(m.minValue)},
                                    {QLatin1String("maxValue"), static_cast<double>(m.maxValue)}});
    root.insert(QLatin1String("midiMappings"), mappings);

    QJsonArray notes;
    for (const PianoRollNote& n : content.notes)
        notes.append(QJsonObject{{QLatin1String("id"), static_cast<qint64>(n.id)},
                                 {QLatin1String("trackIndex"), n.trackIndex},
                                 {QLatin1String("pitch"), n.pitch},
                                 {QLatin1String("velocity"), n.velocity},
                                 {QLatin1String("startBeats"), n.startBeats},
                                 {QLatin1String("durationBeats"), n.durationBeats}});
    root.insert(QLatin1String("recordedNotes"), notes);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

bool save(const QString& path, const ProjectContent& content, QString* error) {
    const QString document = savedDocumentPath(path);
    const auto fail = [&] {
        if (error) *error = QStringLiteral("Cannot write project file: %1").arg(document);
        return false;
    };
    if (document != path) {
        QDir bundle(path);
        for (const char* folder : {"session", "midi", "audio", "presets", "recovery"})
            if (!bundle.mkpath(QString::fromLatin1(folder))) return fail();
    }
    const QByteArray bytes = toJson(content, QDateTime::currentDateTimeUtc());
    // The old file is replaced only once the new one is complete and on disk.
    // Unbuffered: a short write (a full disk) shows in write()'s count, where a
    // buffered flush inside commit() can lose it and rename a truncated file.
    QSaveFile file(document);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return fail();
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return fail();
    }
    if (!file.commit()) return fail();
    return true;
}

bool parse(const QByteArray& bytes, ProjectContent& content, QString* error) {
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        if (error)
            *error = QStringLiteral("Invalid project JSON: %1")
                         .arg(parseError.error != QJsonParseError::NoError
                                  ? parseError.errorString()
                                  : QStringLiteral("the document is not an object"));
        return false;
    }
    const QJsonObject root = document.object();
    ProjectContent read = content;
    const auto text = [&root](const char* name, const QString& fallback = {}) {
        return root.value(QLatin1String(name)).toString(fallback);
    };
    read.projectName = text("projectName", QStringLiteral("Untitled Session"));
    read.bpm = static_cast<float>(number(root.value(QLatin1String("bpm")), 112.0, minBpm, maxBpm));
    read.mainPresetId = text("mainPresetId");
    read.layer2PresetId = text("layer2PresetId");
    read.splitPresetId = text("splitPresetId");
    read.activeLv2Uri = text("activeLv2Uri");
    read.mainPresetFilePath = text("mainPresetFilePath");

    const QJsonObject piano = root.value(QLatin1String("pianoParameters")).toObject();
    if (!piano.isEmpty()) read.piano = readPiano(piano, content.piano);
    const QJsonObject zones = root.value(QLatin1String("workstation")).toObject();
    if (!zones.isEmpty()) read.zones = readZones(zones, content.zones);
    std::vector<MidiControllerMapping> mappings =
        readMappings(root.value(QLatin1String("midiMappings")).toArray());
    if (!mappings.empty()) read.mappings = std::move(mappings);
    read.notes = readNotes(root.value(QLatin1String("recordedNotes")).toArray());

    content = std::move(read);
    return true;
}

bool load(const QString& path, ProjectContent& content, QString* error) {
    const QString document = loadedDocumentPath(path);
    QFile file(document);
    // Only regular files: opening a named pipe would wait for a writer forever.
    if (!QFileInfo(document).isFile() || !file.open(QIODevice::ReadOnly)) {
        if (error) *error = QStringLiteral("Cannot open project file: %1").arg(document);
        return false;
    }
    // Bounded even where the size is unknown (a pipe, a device).
    const QByteArray bytes = file.read(maxFileBytes + 1);
    if (bytes.size() > maxFileBytes) {
        if (error)
            *error = QStringLiteral("Cannot open project file: %1 (larger than %2 MB)")
                         .arg(document)
                         .arg(maxFileBytes / (1024 * 1024));
        return false;
    }
    return parse(bytes, content, error);
}

void copyStoredFields(const PianoParameters& from, PianoParameters& to) {
    for (const FloatField& f : floatFields)
        to.*f.field = from.*f.field;
    for (const IntField& f : intFields)
        to.*f.field = from.*f.field;
}

void copyStoredFields(const WorkstationState& from, WorkstationState& to) {
    for (const ZoneFlag& f : zoneFlags)
        to.*f.field = from.*f.field;
    for (const ZoneNumber& f : zoneNumbers)
        to.*f.field = from.*f.field;
}

} // namespace tmb::ProjectDocument
