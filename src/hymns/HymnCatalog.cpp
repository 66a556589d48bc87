#include "HymnCatalog.h"

#include "rhythm/ChordNames.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <optional>

namespace tmb {

namespace {

constexpr qint64 maxFileBytes = 4 * 1024 * 1024;
constexpr qsizetype maxSteps = 1024;
constexpr qsizetype maxChordNotes = 8;

std::optional<int> intIn(const QJsonValue& value, int low, int high) {
    if (!value.isDouble()) return std::nullopt;
    const double number = value.toDouble();
    if (number != std::floor(number) || number < low || number > high) return std::nullopt;
    return static_cast<int>(number);
}

std::optional<double> beatsIn(const QJsonValue& value, double low) {
    if (!value.isDouble()) return std::nullopt;
    const double number = value.toDouble();
    if (!std::isfinite(number) || number < low || number > 4096.0) return std::nullopt;
    return number;
}

std::optional<HymnSource> sourceFrom(const QJsonValue& value) {
    HymnSource source;
    if (value.isString() && value.toString() == QLatin1String("original")) return source;
    if (!value.isObject()) return std::nullopt;
    const QJsonObject object = value.toObject();
    source.original = false;
    source.work = object.value(QLatin1String("work")).toString();
    source.published = object.value(QLatin1String("published")).toInt();
    source.traditional = object.value(QLatin1String("traditional")).toBool();
    for (const QJsonValue& entry : object.value(QLatin1String("people")).toArray()) {
        const QJsonObject person = entry.toObject();
        source.people.append({person.value(QLatin1String("name")).toString(),
                              person.value(QLatin1String("role")).toString(),
                              person.value(QLatin1String("died")).toInt()});
    }
    return source;
}

// [note, chord code, lyric, length]
std::optional<HymnCompactNote> compactNoteFrom(const QJsonValue& value, bool diatonicChordsOnly) {
    const QJsonArray fields = value.toArray();
    if (fields.size() != 4 || !fields.at(2).isString()) return std::nullopt;
    const auto note = intIn(fields.at(0), 0, 127);
    const auto code = intIn(fields.at(1), 1, diatonicChordsOnly ? 6 : 99);
    const auto length = beatsIn(fields.at(3), 1.0 / 64);
    if (!note || !code || !length) return std::nullopt;
    return HymnCompactNote{*note, *code, fields.at(2).toString(), *length};
}

std::optional<HymnStep> explicitStepFrom(const QJsonValue& value) {
    const QJsonObject object = value.toObject();
    const auto note = intIn(object.value(QLatin1String("note")), 0, 127);
    const auto start = beatsIn(object.value(QLatin1String("start")), 0.0);
    const auto length = beatsIn(object.value(QLatin1String("length")), 1.0 / 64);
    const QJsonArray chord = object.value(QLatin1String("chord")).toArray();
    if (!note || !start || !length || chord.size() > maxChordNotes) return std::nullopt;
    HymnStep step;
    step.midiNote = *note;
    for (const QJsonValue& entry : chord) {
        const auto chordNote = intIn(entry, 0, 127);
        if (!chordNote) return std::nullopt;
        step.chordNotes.append(*chordNote);
    }
    step.chordName = object.value(QLatin1String("chordName")).toString();
    step.lyric = object.value(QLatin1String("lyric")).toString();
    step.solfa = object.value(QLatin1String("solfa")).toString();
    step.fingerHint = object.value(QLatin1String("finger")).toString();
    step.startBeat = *start;
    step.durationBeats = *length;
    return step;
}

// The lesson, or why it cannot be one.
std::optional<HymnLesson> lessonFrom(const QJsonObject& object, HymnCatalog::Group group, QString* why) {
    HymnLesson lesson;
    const auto position = intIn(object.value(QLatin1String("position")), 0, 100000);
    lesson.id = object.value(QLatin1String("id")).toString();
    lesson.title = object.value(QLatin1String("title")).toString();
    lesson.category = object.value(QLatin1String("category")).toString();
    const auto style = intIn(object.value(QLatin1String("style")), 0, 1000);
    const QJsonValue tempo = object.value(QLatin1String("tempo"));
    const QString form = object.value(QLatin1String("form")).toString();
    const QJsonArray steps = object.value(QLatin1String("steps")).toArray();
    const auto tune = sourceFrom(object.value(QLatin1String("tune")));
    const auto text = sourceFrom(object.value(QLatin1String("text")));
    if (!position || lesson.id.isEmpty() || lesson.title.isEmpty() || lesson.category.isEmpty() || !style ||
        !tune || !text || steps.size() > maxSteps || (!tempo.isUndefined() && !beatsIn(tempo, 20.0))) {
        *why = QStringLiteral("missing or bad fields");
        return std::nullopt;
    }
    const bool hymnalForm = form == QLatin1String("hymnal");
    if (hymnalForm != (group == HymnCatalog::Group::Hymnal)) return std::nullopt; // the other group's
    lesson.position = *position;
    lesson.styleIndex = *style;
    lesson.tempo = tempo.isUndefined() ? 78.0f : static_cast<float>(tempo.toDouble());
    lesson.progression = object.value(QLatin1String("progression")).toString();
    lesson.tip = object.value(QLatin1String("tip")).toString();
    lesson.fullLyrics = object.value(QLatin1String("fullLyrics")).toString();
    lesson.tune = *tune;
    lesson.text = *text;

    if (form == QLatin1String("explicit")) {
        for (const QJsonValue& entry : steps) {
            const auto step = explicitStepFrom(entry);
            if (!step) {
                *why = QStringLiteral("bad step %1").arg(lesson.steps.size() + 1);
                return std::nullopt;
            }
            lesson.steps.append(*step);
        }
        return lesson;
    }
    if (!hymnalForm && form != QLatin1String("compact")) {
        *why = QStringLiteral("unknown form");
        return std::nullopt;
    }
    QList<HymnCompactNote> notes;
    for (const QJsonValue& entry : steps) {
        const auto note = compactNoteFrom(entry, hymnalForm);
        if (!note) {
            *why = QStringLiteral("bad step %1").arg(notes.size() + 1);
            return std::nullopt;
        }
        notes.append(*note);
    }
    lesson.steps = buildHymnSteps(notes);
    return lesson;
}

} // namespace

const QStringList& HymnCatalog::builtInFiles() {
    static const QStringList files = {
        QStringLiteral(":/hymns/classic_church_hymns.json"),
        QStringLiteral(":/hymns/praise_worship_choruses.json"),
        QStringLiteral(":/hymns/swahili_african_gospel.json"),
        QStringLiteral(":/hymns/tenzi_za_rohoni.json"),
    };
    return files;
}

bool HymnCatalog::loadBuiltIn(Group group, QString* error) {
    QStringList problems;
    for (const QString& path : builtInFiles()) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly) || file.size() > maxFileBytes) {
            problems << QStringLiteral("%1 cannot be read").arg(path);
            continue;
        }
        QString why;
        addFromJson(file.read(maxFileBytes), group, &why);
        if (!why.isEmpty()) problems << QStringLiteral("%1: %2").arg(path, why);
    }
    if (error) *error = problems.join(QStringLiteral("; "));
    return problems.isEmpty();
}

int HymnCatalog::addFromJson(const QByteArray& json, Group group, QString* error) {
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (!document.isObject()) {
        if (error) *error = QStringLiteral("not a lesson file (%1)").arg(parseError.errorString());
        return 0;
    }
    QStringList problems;
    int added = 0;
    const QJsonArray entries = document.object().value(QLatin1String("lessons")).toArray();
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QJsonObject object = entries.at(i).toObject();
        QString why;
        std::optional<HymnLesson> lesson = lessonFrom(object, group, &why);
        const QString name = object.value(QLatin1String("id")).toString();
        if (!lesson) {
            if (!why.isEmpty()) problems << QStringLiteral("lesson %1 \"%2\": %3").arg(i + 1).arg(name, why);
            continue;
        }
        const bool taken = std::any_of(m_lessons.cbegin(), m_lessons.cend(), [&](const HymnLesson& other) {
            return other.id == lesson->id || other.position == lesson->position;
        });
        if (taken) {
            problems << QStringLiteral("lesson %1 \"%2\": position or id taken").arg(i + 1).arg(name);
            continue;
        }
        // Catalogue order is position order, whatever the file order.
        const auto at =
            std::upper_bound(m_lessons.begin(), m_lessons.end(), lesson->position,
                             [](int position, const HymnLesson& other) { return position < other.position; });
        m_lessons.insert(at, std::move(*lesson));
        ++added;
    }
    if (error) *error = problems.join(QStringLiteral("; "));
    return added;
}

const HymnLesson* HymnCatalog::lesson(int index) const {
    return index >= 0 && index < count() ? &m_lessons.at(index) : nullptr;
}

QVariantList HymnCatalog::asVariantList() const {
    QVariantList list;
    list.reserve(m_lessons.size());
    for (int i = 0; i < count(); ++i) {
        const HymnLesson& lesson = m_lessons.at(i);
        list.append(QVariantMap{{QStringLiteral("index"), i},
                                {QStringLiteral("id"), lesson.id},
                                {QStringLiteral("title"), lesson.title},
                                {QStringLiteral("category"), lesson.category},
                                {QStringLiteral("progression"), lesson.progression},
                                {QStringLiteral("tip"), lesson.tip},
                                {QStringLiteral("bpm"), lesson.tempo},
                                {QStringLiteral("stepCount"), static_cast<int>(lesson.steps.size())}});
    }
    return list;
}

QVariantList HymnCatalog::stepsAsVariantList(const HymnLesson& lesson, int transpose) {
    QVariantList list;
    list.reserve(lesson.steps.size());
    for (qsizetype i = 0; i < lesson.steps.size(); ++i) {
        const HymnStep& step = lesson.steps.at(i);
        const int note = std::clamp(step.midiNote + transpose, 0, 127);
        list.append(
            QVariantMap{{QStringLiteral("stepIndex"), static_cast<int>(i)},
                        {QStringLiteral("midiNote"), note},
                        {QStringLiteral("noteName"), midiNoteToDisplayName(note)},
                        {QStringLiteral("chordName"), transposeChordSymbol(step.chordName, transpose)},
                        {QStringLiteral("lyric"), step.lyric},
                        {QStringLiteral("solfa"), step.solfa},
                        {QStringLiteral("fingerHint"), step.fingerHint},
                        {QStringLiteral("startBeat"), step.startBeat},
                        {QStringLiteral("durationBeats"), step.durationBeats}});
    }
    return list;
}

} // namespace tmb
