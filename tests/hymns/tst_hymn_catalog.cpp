// The built-in lessons against catalogue_rows.tsv, their content rules, keys, bad files.

#include "hymns/HymnCatalog.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

using namespace tmb;
using namespace Qt::StringLiterals;

namespace {

// Sol-fa of every melody note a lesson may use, written out.
const QMap<int, QString> solfaOf = {
    {52, u"m₁ (3)"_s}, {53, u"f₁ (4)"_s},   {54, u"fe₁ (#4)"_s}, {55, u"s₁ (5)"_s},   {56, u"se₁ (#5)"_s},
    {57, u"l₁ (6)"_s}, {58, u"ta₁ (b7)"_s}, {59, u"t₁ (7)"_s},   {60, u"d (1)"_s},    {61, u"de (#1)"_s},
    {62, u"r (2)"_s},  {63, u"re (#2)"_s},  {64, u"m (3)"_s},    {65, u"f (4)"_s},    {66, u"fe (#4)"_s},
    {67, u"s (5)"_s},  {68, u"se (#5)"_s},  {69, u"l (6)"_s},    {70, u"ta (b7)"_s},  {71, u"t (7)"_s},
    {72, u"d¹ (8)"_s}, {73, u"de¹ (#8)"_s}, {74, u"r¹ (9)"_s},   {75, u"re¹ (#9)"_s}, {76, u"m¹ (10)"_s},
};

QString fingerOf(int note) {
    const char* fingers[] = {"RH 1 (Thumb)", "RH 2 (Index)", "RH 3 (Middle)", "RH 4 (Ring)", "RH 5 (Pinky)"};
    const int finger = note <= 60 ? 0 : note <= 62 ? 1 : note <= 64 ? 2 : note <= 67 ? 3 : 4;
    return QString::fromLatin1(fingers[finger]);
}

// First published before 1930 and everyone behind it dead before 1955; an
// anonymous or traditional work before 1900. Anything unknown fails.
bool publicDomain(const HymnSource& source) {
    if (source.original || source.published <= 0 || source.published >= 1930) return false;
    if (source.people.isEmpty() && !(source.traditional && source.published < 1900)) return false;
    if (source.traditional && source.published >= 1900) return false;
    return std::all_of(source.people.cbegin(), source.people.cend(),
                       [](const HymnSource::Person& p) { return p.died > 0 && p.died < 1955; });
}

const QStringList hymnalChords = {u"C (I)"_s,  u"Dm7 (ii)"_s, u"Em7 (iii)"_s,
                                  u"F (IV)"_s, u"G7 (V)"_s,   u"Am (vi)"_s};

QByteArray lessonFile(const QByteArray& lessons) {
    return "{\"lessons\": [" + lessons + "]}";
}

} // namespace

class HymnCatalogTest : public QObject {
    Q_OBJECT

    HymnCatalog m_catalog;

private Q_SLOTS:
    void initTestCase() {
        QString error;
        QVERIFY2(m_catalog.loadBuiltIn(HymnCatalog::Group::Academy, &error), qPrintable(error));
        QVERIFY2(m_catalog.loadBuiltIn(HymnCatalog::Group::Hymnal, &error), qPrintable(error));
    }

    void lessonsAreTheCataloguesRows() {
        QFile file(test::sourceDir() + u"/tests/hymns/catalogue_rows.tsv"_s);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QStringList rows = QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
        rows.removeIf([](const QString& line) { return line.startsWith(u'#'); });
        QCOMPARE(std::pair(m_catalog.count(), rows.size()), std::pair(301, qsizetype{301}));
        for (int i = 0; i < 301; ++i) {
            const HymnLesson& l = m_catalog.lessons().at(i);
            QCOMPARE(u"%1\t%2\t%3\t%4\t%5\t%6"_s.arg(l.position)
                         .arg(l.id, l.title, l.category)
                         .arg(l.styleIndex)
                         .arg(l.tempo),
                     rows.at(i));
        }
        const QVariantMap published = m_catalog.asVariantList().at(120).toMap();
        QCOMPARE(u"%1 %2 %3 %4"_s.arg(published.value(u"id"_s).toString())
                     .arg(published.value(u"index"_s).toInt())
                     .arg(published.value(u"bpm"_s).toDouble())
                     .arg(published.value(u"stepCount"_s).toInt()),
                 u"tenzi_001 120 84 %1"_s.arg(m_catalog.lessons().at(120).steps.size()));
    }

    // What every lesson keeps, whoever wrote its notes.
    void everyLessonKeepsTheContentRules() {
        const QRegularExpression idPattern(u"^[a-z0-9]+(_[a-z0-9]+)*$"_s);
        QSet<QString> ids;
        for (const HymnLesson& l : m_catalog.lessons()) {
            const bool hymnal = l.position >= 120, realTune = !l.tune.original, realText = !l.text.original;
            QVERIFY2(idPattern.match(l.id).hasMatch() && !ids.contains(l.id) &&
                         (l.position >= 120 && l.position <= 280) == l.id.startsWith(u"tenzi_"_s) &&
                         l.steps.size() >= 8 && !l.progression.isEmpty() && !l.tip.isEmpty() &&
                         (!realTune || publicDomain(l.tune)) && (!realText || publicDomain(l.text)) &&
                         (realText || l.fullLyrics.isEmpty()),
                     qPrintable(l.id));
            ids.insert(l.id);
            double start = 0.0;
            for (qsizetype i = 0; i < l.steps.size(); ++i) {
                const HymnStep& s = l.steps.at(i);
                // An original melody lands on a chord tone wherever the chord changes.
                const bool change = i == 0 || s.chordName != l.steps.at(i - 1).chordName;
                const bool tone = std::any_of(s.chordNotes.cbegin(), s.chordNotes.cend(),
                                              [&](int n) { return n % 12 == s.midiNote % 12; });
                QVERIFY2(qFuzzyCompare(1.0 + s.startBeat, 1.0 + start) && s.durationBeats > 0 &&
                             s.midiNote >= 52 && s.midiNote <= 76 && s.solfa == solfaOf.value(s.midiNote) &&
                             s.fingerHint == fingerOf(s.midiNote) &&
                             (!hymnal || hymnalChords.contains(s.chordName)) &&
                             (realText || s.lyric.isEmpty()) && (realTune || !change || tone),
                         qPrintable(u"%1 step %2"_s.arg(l.id).arg(i)));
                start += s.durationBeats;
            }
        }
        // Tunes and words still under copyright are taught with melodies of our own.
        for (const char* id : {"how_great_thou_art", "great_is_thy_faithfulness", "way_maker"}) {
            const auto it = std::find_if(m_catalog.lessons().cbegin(), m_catalog.lessons().cend(),
                                         [&](const HymnLesson& l) { return l.id == QLatin1String(id); });
            QVERIFY2(it != m_catalog.lessons().cend() && it->tune.original && it->text.original, id);
        }
    }

    void chordTable() {
        const struct {
            int code;
            const char* name;
            QList<int> notes;
        } chords[] = {{1, "C (I)", {48, 52, 55}},         {2, "Dm7 (ii)", {50, 53, 57, 60}},
                      {3, "Em7 (iii)", {40, 47, 52, 55}}, {4, "F (IV)", {41, 48, 53, 57}},
                      {5, "G7 (V)", {43, 47, 50, 53}},    {6, "Am (vi)", {45, 52, 57}},
                      {17, "C7 (I7)", {48, 52, 55, 58}},  {27, "D7 (II7)", {50, 54, 57, 60}},
                      {7, "C (I)", {48, 52, 55}},         {0, "C (I)", {48, 52, 55}}};
        QList<HymnCompactNote> notes;
        for (const auto& chord : chords)
            notes.append({64, chord.code, {}, 1.0});
        const QList<HymnStep> steps = buildHymnSteps(notes);
        for (qsizetype i = 0; i < steps.size(); ++i) {
            QCOMPARE(steps.at(i).chordName, QString::fromUtf8(chords[i].name));
            QCOMPARE(steps.at(i).chordNotes, chords[i].notes);
        }
    }

    // A lesson that does not read cleanly is left out and named; the rest load.
    void badLessonsAreLeftOut() {
        const QByteArray good = R"({"position": 5, "id": "good", "title": "Good", "category": "C", "style": 3,
            "form": "compact", "tune": "original", "text": "original", "steps": [[60, 1, "", 1], [62, 5, "", 0.5]]})";
        const QByteArray bad = QByteArray(good).replace("\"good\"", "\"bad\"").replace(": 5,", ": 1,");
        const std::pair<const char*, const char*> faults[] = {
            {"[60, 1, \"\", 1]", "[200, 1, \"\", 1]"},
            {"[60, 1, \"\", 1]", "[60, 1, \"\", 0]"},
            {"[60, 1,", "[60.5, 1,"},
            {"\"title\": \"Good\",", ""},
            {"\"tune\": \"original\"", "\"tune\": 7"},
            {"\"compact\"", "\"explicit\""},
            {"\"bad\"", "\"good\""}, // an id taken
        };
        for (const auto& [from, to] : faults) {
            HymnCatalog catalog;
            QString error;
            const QByteArray file = lessonFile(good + ",\n" + QByteArray(bad).replace(from, to));
            QCOMPARE(catalog.addFromJson(file, HymnCatalog::Group::Academy, &error), 1);
            QVERIFY2(!error.isEmpty() && catalog.count() == 1, to);
            QCOMPARE(catalog.lesson(0)->tempo, 78.0f);
            QCOMPARE(catalog.lesson(0)->steps.at(1).chordName, u"G7 (V)"_s);
        }
        // The hymnal's own form knows only the six diatonic chords.
        HymnCatalog hymnal;
        QString error;
        QByteArray lesson = QByteArray(good).replace("compact", "hymnal");
        QCOMPARE(hymnal.addFromJson(lessonFile(lesson), HymnCatalog::Group::Hymnal, &error), 1);
        lesson.replace("[62, 5,", "[62, 17,");
        QCOMPARE(hymnal.addFromJson(lessonFile(lesson), HymnCatalog::Group::Hymnal, &error), 0);
        QVERIFY(!error.isEmpty());
        for (const QByteArray& junk : {QByteArray("not json"), QByteArray("[1,2]"), QByteArray(1 << 16, '{')})
            QCOMPARE(hymnal.addFromJson(junk, HymnCatalog::Group::Hymnal, &error), 0);
        QCOMPARE(hymnal.count(), 1);
    }
};

QTEST_GUILESS_MAIN(HymnCatalogTest)
#include "tst_hymn_catalog.moc"
