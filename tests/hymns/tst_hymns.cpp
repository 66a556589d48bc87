// The built-in lessons against catalogue_rows.tsv, their content rules, keys, bad files; the
// tutor on a lesson of its own.

#include "hymns/HymnCatalog.h"
#include "hymns/HymnTutor.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <utility>

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
    if (source.traditional ? source.published >= 1900 : source.people.isEmpty()) return false;
    return std::all_of(source.people.cbegin(), source.people.cend(),
                       [](const HymnSource::Person& p) { return p.died > 0 && p.died < 1955; });
}

const QStringList hymnalChords = {u"C (I)"_s,  u"Dm7 (ii)"_s, u"Em7 (iii)"_s,
                                  u"F (IV)"_s, u"G7 (V)"_s,   u"Am (vi)"_s};

QByteArray lessonFile(const QByteArray& lessons) {
    return "{\"lessons\": [" + lessons + "]}";
}

// Melody 67 64 62 60 72 65 67 60 (G7 C Dm7 C Am F G7 C), 16 beats; steps 4-7 start
// at beats 5, 8, 10 and 14.
const QByteArray tutorLessons = lessonFile(R"(
    {"position": 0, "id": "first", "title": "First", "category": "C", "style": 5, "tempo": 90,
     "form": "compact", "tune": "original", "text": "original",
     "steps": [[67, 5, "", 1], [64, 1, "", 1], [62, 2, "", 1], [60, 1, "", 2], [72, 6, "", 3],
               [65, 4, "", 2], [67, 5, "", 4], [60, 1, "", 2]]},
    {"position": 1, "id": "empty", "title": "Empty", "category": "C", "style": 5,
     "form": "compact", "tune": "original", "text": "original", "steps": []})");

struct TutorRig {
    TutorRig() {
        catalog.addFromJson(tutorLessons, HymnCatalog::Group::Academy);
        tutor.setEngagedByView(true);
    }
    HymnCatalog catalog;
    QStringList log; // "h55@62", "h55 off", "press 67", "release 67", "all"
    HymnTutor tutor{catalog,
                    {[this](int n, int v) { log << (v ? u"h%1@%2"_s.arg(n).arg(v) : u"h%1 off"_s.arg(n)); },
                     [this](int n, int v) { log << u"press %1@%2"_s.arg(n).arg(v); },
                     [this](int n) { log << u"release %1"_s.arg(n); },
                     [this] {
                         log << u"all"_s;
                         tutor.releaseSounding();
                     }}};
    QString take() { return std::exchange(log, {}).join(u", "_s); }
};

} // namespace

class HymnsTest : public QObject {
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
        // Tunes and words still under copyright are taught with melodies of our own.
        const QStringList underCopyright = {u"how_great_thou_art"_s, u"great_is_thy_faithfulness"_s,
                                            u"way_maker"_s};
        QSet<QString> ids;
        for (const HymnLesson& l : m_catalog.lessons()) {
            const bool hymnal = l.position >= 120, realTune = !l.tune.original, realText = !l.text.original;
            QVERIFY2(idPattern.match(l.id).hasMatch() && !ids.contains(l.id) &&
                         (l.position >= 120 && l.position <= 280) == l.id.startsWith(u"tenzi_"_s) &&
                         l.steps.size() >= 8 && !l.progression.isEmpty() && !l.tip.isEmpty() &&
                         (!realTune || publicDomain(l.tune)) && (!realText || publicDomain(l.text)) &&
                         (realText || l.fullLyrics.isEmpty()) &&
                         !(underCopyright.contains(l.id) && (realTune || realText)),
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

    // Target G4: any G is right; a wrong note from G3 up breaks the streak, lower is ignored.
    void checksNotesAgainstTheTarget() {
        const struct {
            int note, velocity;
            HymnTutor::Check result;
            int streak;
            const char* sounded;
        } cases[] = {
            {67, 80, HymnTutor::Check::Right, 2, "h43@62, h47@62, h50@62, h53@62"},
            {55, 50, HymnTutor::Check::Right, 2, "h43@42, h47@42, h50@42, h53@42"},
            {79, 127, HymnTutor::Check::Right, 2, "h43@95, h47@95, h50@95, h53@95"},
            {43, 80, HymnTutor::Check::Right, 2,
             "h47@62, h50@62, h53@62"}, // the played chord note is not doubled
            {54, 80, HymnTutor::Check::Ignored, 1, ""},
            {60, 80, HymnTutor::Check::Wrong, 0, ""},
            {68, 80, HymnTutor::Check::Wrong, 0, ""},
        };
        for (const auto& c : cases) {
            TutorRig rig;
            // One right note on step 7 (C) first: streak 1, and the step wraps to G4.
            for (int i = 0; i < 7; ++i)
                rig.tutor.stepForward();
            QCOMPARE(rig.tutor.checkNote(72, 80), HymnTutor::Check::Right);
            QCOMPARE(rig.tutor.stepIndex(), 0);
            rig.take();
            QCOMPARE(rig.tutor.checkNote(c.note, c.velocity), c.result);
            const bool right = c.result == HymnTutor::Check::Right;
            QCOMPARE(std::tuple(rig.tutor.streak(), rig.tutor.hits(), rig.tutor.stepIndex(),
                                rig.tutor.playheadBeats()),
                     std::tuple(c.streak, right ? 2 : 1, right ? 1 : 0, right ? 1.0 : 0.0));
            // A right note first ends the previous chord (C: 48 52 55, 72 not doubled).
            const QString before = u"h48 off, h52 off, h55 off"_s;
            QCOMPARE(rig.take(), right ? before + u", "_s + QString::fromUtf8(c.sounded) : QString());
        }
    }

    // Only wait mode checks notes, when the view or playing engages it; an empty lesson lights nothing.
    void checksOnlyWhenEngagedInWaitMode() {
        TutorRig rig;
        rig.tutor.setAutoHarmony(false);
        QVERIFY(rig.tutor.checkNote(67, 90) == HymnTutor::Check::Right && rig.take().isEmpty()); // no harmony
        rig.tutor.setEngagedByView(false);
        QCOMPARE(rig.tutor.checkNote(64, 90), HymnTutor::Check::Inactive);
        rig.tutor.setPlaying(true);
        QVERIFY(rig.tutor.isGuideMelodyKey(64) && rig.tutor.guideTarget() == 64);
        rig.tutor.setLearnMode(HymnTutor::playAlongBand);
        QVERIFY(rig.tutor.checkNote(64, 90) == HymnTutor::Check::Inactive && rig.tutor.guideTarget() == -1);
        QVERIFY(rig.tutor.selectLesson(1) && !rig.tutor.selectLesson(2) && !rig.tutor.selectLesson(-1));
        QVERIFY(rig.tutor.currentIndex() == 1 && !rig.tutor.isGuideMelodyKey(60) && !rig.tutor.stepForward());
    }

    // The keys lit are the step's melody note and its chord, as written.
    void guideKeysFollowTheStep() {
        TutorRig rig;
        auto keys = [&] {
            QStringList on;
            for (int n = 0; n < 128; ++n) {
                if (rig.tutor.isGuideMelodyKey(n)) on << u"m%1"_s.arg(n);
                if (rig.tutor.isGuideChordKey(n)) on << u"c%1"_s.arg(n);
            }
            return on.join(u' ');
        };
        QCOMPARE(keys(), u"c43 c47 c50 c53 m67"_s);
        rig.tutor.stepBackward(); // wraps to the last step
        QCOMPARE(std::tuple(rig.tutor.stepIndex(), rig.tutor.playheadBeats(), keys()),
                 std::tuple(7, 14.0, u"c48 c52 c55 m60"_s));
        rig.tutor.stepBackward();
        QCOMPARE(std::tuple(rig.tutor.playheadBeats(), keys()), std::tuple(10.0, u"c43 c47 c50 c53 m67"_s));
        rig.tutor.checkNote(67, 90);
        QCOMPARE(keys(), u"c48 c52 c55 m60"_s);
        QCOMPARE(rig.take(), u"all, all, h43@72, h47@72, h50@72, h53@72"_s);
        rig.tutor.restart();
        QCOMPARE(rig.take(), u"all, h43 off, h47 off, h50 off, h53 off"_s);
        QCOMPARE(rig.tutor.hits() + rig.tutor.streak() + rig.tutor.stepIndex(), 0);
    }

    // 10 s at 120 BPM in uneven ticks: the 16-beat lesson loops, each step in its tick.
    void playbackFollowsTheElapsedTime() {
        for (int mode : {HymnTutor::autoPlayDemo, HymnTutor::playAlongBand}) {
            TutorRig rig;
            rig.tutor.setAutoHarmony(false); // playback sounds the chords all the same
            rig.tutor.setLearnMode(mode);
            QCOMPARE(rig.tutor.advance(0.03, 120).moved, false); // not playing yet
            rig.tutor.setPlaying(true);
            rig.take();
            QStringList entered;
            int ticks = 0;
            for (double beats = 0.0; beats < 20.0 - 1e-9; ++ticks) {
                const double tick = std::min(ticks % 3 == 0 ? 0.0343 : 0.0289, (20.0 - beats) / 2.0);
                const int before = rig.tutor.stepIndex();
                const HymnTutor::Advance a = rig.tutor.advance(tick, 120);
                beats += tick * 2.0;
                if (a.entered && (rig.tutor.stepIndex() != before || ticks == 0))
                    entered << u"%1@%2"_s.arg(rig.tutor.stepIndex()).arg(std::floor(beats * 10) / 10);
                QCOMPARE(a.looped, beats >= 16.0 && beats - tick * 2.0 < 16.0);
            }
            QVERIFY(std::abs(rig.tutor.playheadBeats() - 4.0) < 1e-6); // 20 beats, one loop of 16
            QCOMPARE(entered.join(u' '), u"0@0 1@1 2@2 3@3 4@5 5@8 6@10 7@14 0@16 1@17 2@18 3@19"_s);
            const QString log = rig.take();
            QCOMPARE(log.count(u"press 67@102"_s), mode == HymnTutor::autoPlayDemo ? 3 : 0);
            QCOMPARE(log.count(u"h43@76"_s), 3); // G7 of steps 0, 6 and 0 again
            QCOMPARE(log.count(u"all"_s), 1);    // the loop
            rig.tutor.setPlaying(false);
            const QString stop = rig.take();
            QVERIFY(stop.startsWith(u"all"_s) && stop.contains(u"h48 off"_s));
            QCOMPARE(stop.contains(u"release 60"_s), mode == HymnTutor::autoPlayDemo);
        }
        // Wait mode and a stopped lesson do not move.
        TutorRig rig;
        rig.tutor.setPlaying(true);
        QCOMPARE(rig.tutor.advance(1.0, 120).moved, false);
        QCOMPARE(rig.tutor.playheadBeats(), 0.0);
    }
};

QTEST_GUILESS_MAIN(HymnsTest)
#include "tst_hymns.moc"
